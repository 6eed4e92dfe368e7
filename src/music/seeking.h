// seeking.h: moving a player to any frame of the song (exactly, or quickly without mixing), to
// an order position's row, and playing the song a given number of times. Called on the thread
// that renders the player, never while it renders.
#pragma once

#include <cstdint>

#include "music/mix_controls.h"

struct Player;

// What a player keeps for seeking and for its repeat count (a member of Player).
struct SeekState {
    int32_t repeatCount;    // passes to play, 0 for ever
    int64_t repeatEndFrame; // mixed frame of the wrap that ends the last pass, or -1
    // A song frame is a mixed frame plus this: the frames mixed since playback start do not
    // count the frames a seek jumped over.
    int64_t songFrameBase;
    // Every frame mixed since playback start is what a straight render from the song's start
    // mixes (no jump, no fast seek): an exact seek forward may go on from here, as long as the
    // listener's controls are still those the playback started with.
    bool straight;
    MixControls startControls;
};

enum class SeekMode : uint8_t { Exact = 0, Fast = 1 };

// Moves the player so that the next frame handed out is frame `frame` (from the song's start)
// of a straight render. Exact: bit-identical to a straight render. Fast: sequencer state
// without mixing; notes that started before are started at the target. False if beyond the end
// under EndMode::Stop / repeat count, or bad arguments (a frame beyond MAX_SEEK_SECONDS among
// them); the player is then left as it was.
bool SeekFrame(Player* player, int64_t frame, SeekMode mode);
constexpr int32_t MAX_SEEK_SECONDS = 24 * 3600;
// The first row `row` of order position `order` (existing SeekOrder is row 0).
bool SeekOrderRow(Player* player, int32_t order, int32_t row);
// Play the song `count` times (count >= 1), then end; 0 = for ever (default).
void SetRepeatCount(Player* player, int32_t count);

struct PlayerProgress {
    int64_t frames; // frames handed out since the song's start (a seek sets it anew)
    int32_t passes; // completed wraps
    bool ended;     // nothing more will be handed out
};
PlayerProgress GetPlayerProgress(const Player* player);

// The mixed frame (from playback start) at which the next frame handed out stops the song: the
// wrap that ends the last pass of the repeat count, or under EndMode::Stop the latest wrap;
// -1 while neither has come.
int64_t PlayerEndFrame(const Player* player);
// Called by the wrap watch each time the song wraps.
void NoteWrap(Player* player);
