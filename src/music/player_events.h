// player_events.h: what the song does as it plays, for a program that draws it or follows it:
// a queue of events (a note started, a row or an order position changed) filled as ticks are
// played, and each track's state at the last tick.
#pragma once

#include <cstdint>

struct Player;

struct MusicChannel;
struct Sample;

enum class PlayerEventKind : uint8_t { NoteStarted = 0, RowChanged = 1, OrderChanged = 2 };

// note: 1-96 as in the pattern (1 is C-0); instrument: 1-128; sample: its slot in the
// instrument, 0-31.
struct PlayerEvent {
    int64_t frame; // frame (from the song's start) at which it happens
    PlayerEventKind kind;
    int32_t channel, note, instrument, sample; // NoteStarted; -1 otherwise
    int32_t order, pattern, row;               // where the song stands
};

constexpr int32_t PLAYER_EVENT_QUEUE = 1024;

// The player's queue (a member of Player): a ring that keeps the newest PLAYER_EVENT_QUEUE.
// Filled on the thread that renders, taken on the same thread between renders.
struct PlayerEventQueue {
    PlayerEvent events[PLAYER_EVENT_QUEUE];
    int32_t first; // oldest event's slot
    int32_t count;
    uint64_t dropped;
    bool quiet;        // nothing is recorded (a seek running the song to its target)
    bool orderEntered; // the row tick under way entered an order position
    // Each track's last note started (recorded even when quiet), -1 before the first: the
    // note, the instrument number and the sample's slot.
    int16_t lastNote[32];
    int16_t lastInstrument[32];
    int16_t lastSample[32];
};

// Events since the last call, oldest first, up to `capacity`; returns the count written.
int32_t TakePlayerEvents(Player* player, PlayerEvent* out, int32_t capacity);
// Events lost so far because the queue was full (it keeps the newest PLAYER_EVENT_QUEUE).
uint64_t PlayerEventsDropped(const Player* player);
// Empties the queue (a seek: what was queued lies on the other side of the jump).
void ClearPlayerEvents(Player* player);
// Playback start: the queue empties and no track has played a note.
void ResetPlayerEvents(Player* player);

struct ChannelState {
    int32_t note, instrument, sample; // -1 when none
    int32_t volume;                   // 0-64
    int32_t panning;                  // 0-255
    double frequency;                 // Hz, 0 silent
    bool active;
};
// The sequencer's hooks: a row tick reads a row (after the order position and row are set),
// a track starts a note on its voice.
void RecordRowEvents(Player* player);
void RecordNoteStarted(Player* player, const MusicChannel* channel, const Sample* sample);

// Track `channel`'s state after the last tick played: its last note, the instrument and sample
// that note took, the track's volume and panning, and the pitch its voice sounds at. False for a
// channel outside the song.
bool GetChannelState(const Player* player, int32_t channel, ChannelState* out);
