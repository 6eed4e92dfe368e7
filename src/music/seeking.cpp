// seeking.cpp: moving a player to a frame of the song, exactly (mixing the song up to it, as a
// straight render does) or fast (the sequencer alone, notes started afresh at the target), and
// the repeat count with the end it sets. On the thread that renders the player, between renders.
#include "music/seeking.h"

#include <algorithm>

#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

namespace {

// The frame (from playback start) the next frame handed out comes from.
int64_t HandOutFrame(const Player* player) {
    return player->pullBlock >= 0 ? player->pullBlockFrame + player->pullOffset
                                  : player->framesMixed;
}

// The wraps after which the song ends, from the song's start: 1 under EndMode::Stop, else the
// repeat count; 0 when it never ends.
int32_t EndingWrap(const Player* player) {
    if (player->endMode == EndMode::Stop) return 1;
    return player->seek.repeatCount;
}

// The frame at which a straight render of the song ends (the row tick of wrap `wraps`), found by
// running a scratch player's sequencer; -1 when it does not end within `limit` frames.
int64_t StraightEnd(const Player* player, int32_t wraps, int64_t limit) {
    Player* scratch = CreatePlayer(player->song, player->mixer.mixRate, player->rules, 1);
    if (!scratch) return -1;
    scratch->events.quiet = true;
    int64_t end = -1;
    while (scratch->framesMixed <= limit) {
        SequencerTick(scratch);
        if (scratch->watch.wraps >= wraps) {
            end = scratch->framesMixed;
            break;
        }
        scratch->framesMixed += std::max(scratch->tickFrames, 1);
    }
    DestroyPlayer(scratch);
    return end;
}

// Mixes whole blocks, handing nothing out, until `frame` (a block boundary at or after the
// frames mixed) is reached. Every block goes to the ring block due next, which is left due
// again, so that an output's ring keeps what the device has still to play.
void MixUpTo(Player* player, int64_t frame) {
    const int32_t due = player->mixer.fillBlock;
    while (player->framesMixed < frame) {
        MixBlock(player);
        player->mixer.fillBlock = due;
    }
    player->pullBlock = -1;
    player->pullOffset = 0;
    player->framesPulled = player->framesMixed;
    // Where a render that handed out the last block whole would stand: its latest tick.
    if (player->framesMixed > 0)
        player->heard = player->markCount > 0 ? player->marks[player->markCount - 1].position
                                              : player->blockStart;
}

// Hands out `frames` frames into nothing.
void Discard(Player* player, int64_t frames) {
    int16_t scratch[2 * 1024];
    while (frames > 0) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(frames, 1024));
        if (RenderPcm16(player, scratch, n) < n) return;
        frames -= n;
    }
}

// Whether two sets of controls render alike (field by field: the record has padding).
bool SameControls(const MixControls& a, const MixControls& b) {
    return a.interpolation == b.interpolation && a.separation == b.separation &&
           a.gainDb == b.gainDb && a.rampMs == b.rampMs && a.muted == b.muted && a.solo == b.solo &&
           a.limiter == b.limiter;
}

void SeekExact(Player* player, int64_t frame) {
    const int32_t blockFrames = player->mixer.blockFrames;
    // Blocks begin at multiples of the block length from the song's start, and a block's
    // frames depend on where it begins (ramps and ticks are split at its edges), so the frames
    // before the target are mixed as a straight render mixes them: from the start, or from
    // where the player stands when it has played straight so far and the target lies ahead.
    // A straight render is made with the controls in effect now: frames mixed under others
    // are mixed again.
    if (!player->seek.straight || frame < player->framesPulled ||
        !SameControls(player->seek.startControls, player->controls))
        RestartSong(player);
    if (player->pullBlock >= 0 && frame < player->pullBlockFrame + blockFrames) {
        Discard(player, frame - player->framesPulled);
        return;
    }
    MixUpTo(player, frame / blockFrames * blockFrames);
    Discard(player, frame % blockFrames);
}

void SeekFast(Player* player, int64_t frame) {
    RestartSong(player);
    const int32_t tracks = TrackCount(player->module);
    int64_t started[MAX_CHANNELS];
    std::fill(started, started + MAX_CHANNELS, int64_t{-1});
    // The ticks before the target, at the frames a render plays them; a tick at the target
    // itself is left to the next block.
    int64_t tickFrame = 0;
    int32_t left = 0;
    while (tickFrame < frame) {
        player->framesMixed = tickFrame;
        if (player->tickHandler) player->tickHandler(player);
        for (int32_t c = 0; c < tracks; ++c)
            if (player->channels[c].updateFlags & UPDATE_TRIGGER) started[c] = tickFrame;
        const int32_t length = std::max(player->tickFrames, 1);
        if (tickFrame + length > frame) {
            left = static_cast<int32_t>(tickFrame + length - frame);
            break;
        }
        tickFrame += length;
    }
    player->framesMixed = frame;
    player->tickFramesLeft = left;
    player->elapsedMs =
        static_cast<int32_t>(std::min<int64_t>(frame * 1000 / player->mixer.mixRate, INT32_MAX));

    // The voices: each track's own starts its note afresh at the target, from the silence of a
    // new note, so that the volume ramp fades it in (about 3 ms at 44100 Hz) rather than
    // clicking. A one-shot note that would have ended by now at its pitch stays silent, and so
    // do the notes that were fading out on the partner voices.
    bool current[MIXED_VOICES] = {};
    for (int32_t c = 0; c < tracks; ++c) {
        Voice* voice = player->channels[c].voice;
        if (!voice || !voice->sample) continue;
        const Sample* sample = voice->sample;
        const double step = voice->increment + voice->incrementFraction / 4294967296.0;
        const double played = static_cast<double>(frame - std::max<int64_t>(started[c], 0)) * step;
        const bool looping = sample->loopKind != LOOP_NONE && sample->loopLength > 0;
        if (!looping && voice->position + played >= sample->length) continue;
        current[voice->voiceNumber] = true;
    }
    for (Voice& voice : player->voices) {
        if (!current[voice.voiceNumber]) voice.sample = nullptr;
        voice.currentLeft = voice.currentRight = 0;
        voice.rampFrames = 0;
        voice.rampStepLeft = voice.rampStepRight = 0.0f;
    }
    player->blockStart = player->position;
    player->markCount = 0;
    player->pullBlock = -1;
    player->pullOffset = 0;
    player->framesPulled = frame;
    player->heard = player->position;
    player->seek.straight = false;
}

} // namespace

bool SeekFrame(Player* player, int64_t frame, SeekMode mode) {
    if (!player || frame < 0 || (mode != SeekMode::Exact && mode != SeekMode::Fast)) return false;
    // A day at most: beyond it, a seek would keep its caller waiting for minutes (an exact one
    // mixes every frame up to the target).
    if (frame > int64_t{MAX_SEEK_SECONDS} * player->mixer.mixRate) return false;
    if (const int32_t wraps = EndingWrap(player); wraps > 0) {
        const int64_t end = StraightEnd(player, wraps, frame);
        if (end >= 0 && frame > end) return false;
    }
    player->events.quiet = true;
    if (mode == SeekMode::Exact)
        SeekExact(player, frame);
    else
        SeekFast(player, frame);
    player->events.quiet = false;
    // Whatever was queued lies on the far side of the jump, or was heard by nobody.
    ClearPlayerEvents(player);
    return true;
}

void SetRepeatCount(Player* player, int32_t count) {
    if (!player) return;
    player->seek.repeatCount = std::max(count, 0);
    player->seek.repeatEndFrame = -1;
    // A count the song has reached already ends it at the latest wrap when that has not been
    // handed out yet, else at the next.
    const WrapWatch& watch = player->watch;
    if (count > 0 && watch.wraps >= count && watch.lastFrame >= HandOutFrame(player))
        player->seek.repeatEndFrame = watch.lastFrame;
}

void NoteWrap(Player* player) {
    SeekState& seek = player->seek;
    if (seek.repeatCount > 0 && seek.repeatEndFrame < 0 && player->watch.wraps >= seek.repeatCount)
        seek.repeatEndFrame = player->framesMixed;
}

int64_t PlayerEndFrame(const Player* player) {
    int64_t end = -1;
    if (player->seek.repeatCount > 0) end = player->seek.repeatEndFrame;
    const int64_t wrap = player->watch.lastFrame;
    if (player->endMode == EndMode::Stop && wrap >= 0 && (end < 0 || wrap < end)) end = wrap;
    return end;
}

PlayerProgress GetPlayerProgress(const Player* player) {
    if (!player) return PlayerProgress{0, 0, false};
    PlayerProgress progress{};
    progress.frames = player->framesPulled;
    // The latest wrap counts once the frame it happens at has been reached.
    const WrapWatch& watch = player->watch;
    progress.passes = watch.wraps - (watch.wraps > 0 && watch.lastFrame > HandOutFrame(player));
    progress.ended = PlayerEnded(player);
    return progress;
}
