// player_events.h: what the song does as it plays, for a program that draws it or follows it:
// a queue of events (a note started, a row or an order position changed) filled as ticks are
// played, and each track's state at the last tick.
#pragma once

#include <cstdint>

struct Player;

enum class PlayerEventKind : uint8_t { NoteStarted = 0, RowChanged = 1, OrderChanged = 2 };

struct PlayerEvent {
    int64_t frame; // frame (from the song's start) at which it happens
    PlayerEventKind kind;
    int32_t channel, note, instrument, sample; // NoteStarted; -1 otherwise
    int32_t order, pattern, row;               // where the song stands
};

// Events since the last call, oldest first, up to `capacity`; returns the count written.
int32_t TakePlayerEvents(Player* player, PlayerEvent* out, int32_t capacity);
// Events lost so far because the queue was full (it keeps the newest PLAYER_EVENT_QUEUE).
uint64_t PlayerEventsDropped(const Player* player);
constexpr int32_t PLAYER_EVENT_QUEUE = 1024;

struct ChannelState {
    int32_t note, instrument, sample; // -1 when none
    int32_t volume;                   // 0-64
    int32_t panning;                  // 0-255
    double frequency;                 // Hz, 0 silent
    bool active;
};
// Track `channel`'s state after the last tick played. False for a channel outside the song.
bool GetChannelState(const Player* player, int32_t channel, ChannelState* out);
