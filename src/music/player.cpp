// player.cpp: making and resetting a player, pull rendering in pieces of any size, seeking, and
// the song's length to its first wrap. Create, reset and seek on the caller's thread; rendering
// on whichever thread renders the player (one at a time). Rendering allocates nothing.
#include "music/player.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "music/module.h"
#include "music/rule_set.h"
#include "music/sequencer_internal.h"

namespace {

// The one place that maps a rule set's name to its table. A MOD song plays by ProTracker's rules
// under the standard rules' name; the demo's rules know XM songs only (null).
const RuleSet* RuleSetFor(PlayerRules rules, const Module* module) {
    if (module->format == ModuleFormat::Mod)
        return rules == PlayerRules::Standard ? &protrackerRules : nullptr;
    return rules == PlayerRules::Standard ? &standardRules : &demoRules;
}

// Sizes and mixer constants for a rate: blockFrames = BlockFrames(rate) (884 at 44100 Hz).
void ConfigureMixer(MixerState& mixer, int32_t rate, int32_t ringBlocks) {
    mixer.mixRate = rate;
    mixer.blockFrames = BlockFrames(rate);
    mixer.ringFrames = mixer.blockFrames * ringBlocks;
    // Below 345 Hz the ramp would be 0 frames long and its reciprocal infinite; one frame is
    // the shortest ramp there is.
    mixer.rampLength = static_cast<int32_t>(int64_t{rate} * 128 / 44100);
    if (mixer.rampLength < 1) mixer.rampLength = 1;
    mixer.rampReciprocal = 1.0f / static_cast<float>(mixer.rampLength);
    mixer.secondsPerFrame = 1.0f / static_cast<float>(rate);
}

void ReleaseBuffers(Player* player) {
    std::free(player->mixer.mixBufferAllocation);
    std::free(player->mixer.outputRing);
    std::free(player->mixer.blockPositions);
    std::free(player->sampleFinetunes);
    if (player->ruleSet->freeOwnSamples) player->ruleSet->freeOwnSamples(player);
}

bool AllocateBuffers(Player* player) {
    MixerState& mixer = player->mixer;
    const size_t blocks = static_cast<size_t>(mixer.ringFrames / mixer.blockFrames);
    const size_t ringFrames = static_cast<size_t>(mixer.ringFrames);
    mixer.blockPositions = static_cast<BlockPosition*>(std::calloc(blocks, sizeof(BlockPosition)));
    mixer.outputRing = static_cast<int16_t*>(std::calloc(ringFrames, 2 * sizeof(int16_t)));
    // The float buffer starts at the first 16-byte boundary of its allocation.
    mixer.mixBufferAllocation = std::calloc(ringFrames * 8 + 256, 1);
    player->sampleFinetunes =
        static_cast<int8_t*>(std::calloc(static_cast<size_t>(player->module->sampleCount) + 1, 1));
    if (!mixer.blockPositions || !mixer.outputRing || !mixer.mixBufferAllocation ||
        !player->sampleFinetunes)
        return false;
    if (player->ruleSet->makeOwnSamples && !player->ruleSet->makeOwnSamples(player)) return false;
    const uintptr_t raw = reinterpret_cast<uintptr_t>(mixer.mixBufferAllocation);
    mixer.mixBuffer = reinterpret_cast<float*>((raw + 15) & ~uintptr_t{15});
    return true;
}

// Every sample's own finetune, as the player starts with them.
void ResetFinetunes(Player* player) {
    const Module* module = player->module;
    if (!module->instruments) return;
    for (int32_t i = 0; i < module->instrumentCount; ++i) {
        const Instrument& instrument = module->instruments[i];
        for (int32_t j = 0; j < instrument.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
            const Sample* sample = instrument.samples[j];
            if (sample && sample->id > 0 && sample->id <= module->sampleCount)
                player->sampleFinetunes[sample->id] = sample->finetune;
        }
    }
}

void ResetWatch(WrapWatch& watch) {
    std::memset(&watch, 0, sizeof watch);
    watch.firstFrame = -1;
    watch.lastFrame = -1;
}

// The frame (from playback start) at which the block being handed out stops: its end, or the
// row tick inside it of the wrap that ends the song (the end mode, the repeat count).
int32_t HandOutLimit(const Player* player) {
    const int32_t blockFrames = player->mixer.blockFrames;
    const int64_t wrap = PlayerEndFrame(player);
    if (wrap < 0) return blockFrames;
    const int64_t start = player->pullBlockFrame;
    if (wrap >= start + player->pullOffset && wrap < start + blockFrames)
        return static_cast<int32_t>(wrap - start);
    return blockFrames;
}

// Hands out frames of the blocks MixBlock renders; `put` copies `count` frames from frame
// `offset` of ring block `block`.
template <typename Put> int32_t Pull(Player* player, int32_t frames, Put put) {
    if (!player || frames <= 0) return 0;
    const int32_t blockFrames = player->mixer.blockFrames;
    int32_t done = 0;
    while (done < frames) {
        if (player->pullBlock < 0 || player->pullOffset >= blockFrames) {
            player->pullBlock = player->mixer.fillBlock;
            player->pullBlockFrame = player->framesMixed;
            player->pullOffset = 0;
            MixBlock(player);
        }
        const int32_t limit = HandOutLimit(player);
        const int32_t n = std::min(frames - done, limit - player->pullOffset);
        if (n <= 0) break; // stopped at the wrap
        put(player->pullBlock, player->pullOffset, done, n);
        // Where the song stood at the last frame handed out: the latest tick at or before it.
        const int32_t last = player->pullOffset + n - 1;
        if (player->pullOffset == 0) player->heard = player->blockStart;
        for (int32_t m = 0; m < player->markCount; ++m)
            if (player->marks[m].frame <= last) player->heard = player->marks[m].position;
        player->pullOffset += n;
        player->framesPulled += n;
        done += n;
    }
    return done;
}

} // namespace

Player* CreatePlayer(const Module* module, int32_t rate, PlayerRules rules, int32_t ringBlocks) {
    if (!module || rate < LOWEST_RATE || rate > HIGHEST_RATE || ringBlocks < 1 ||
        ringBlocks > OUTPUT_RING_BLOCKS || !RuleSetFor(rules, module))
        return nullptr;
    auto* player = static_cast<Player*>(std::calloc(1, sizeof(Player)));
    if (!player) return nullptr;
    player->song = module;
    player->module = rules == PlayerRules::Standard && module->standardReading
                         ? module->standardReading
                         : module;
    player->rules = rules;
    player->ruleSet = RuleSetFor(rules, module);
    player->controls = MixControls{}; // calloc leaves its defaults unset
    player->controls.separation = player->ruleSet->defaultSeparation;
    ConfigureMixer(player->mixer, rate, ringBlocks);
    if (!AllocateBuffers(player)) {
        ReleaseBuffers(player);
        std::free(player);
        return nullptr;
    }
    player->tickHandler = SequencerTick;
    module->playerCount.fetch_add(1);
    ResetPlayback(player);
    return player;
}

void DestroyPlayer(Player* player) {
    if (!player) return;
    player->song->playerCount.fetch_sub(1);
    ReleaseBuffers(player);
    std::free(player);
}

void ResetPlayback(Player* player) {
    RestartSong(player);
    MixerState& mixer = player->mixer;
    std::memset(mixer.outputRing, 0, static_cast<size_t>(mixer.ringFrames) * 4);
    std::memset(mixer.blockPositions, 0,
                static_cast<size_t>(mixer.ringFrames / mixer.blockFrames) * sizeof(BlockPosition));
    mixer.fillBlock = 0;
}

void RestartSong(Player* player) {
    const Module* module = player->module;
    player->globalVolume = module->initialGlobalVolume;
    player->globalVolumeSlideMemory = 0;
    player->speed = module->defaultSpeed;
    player->row = 0;
    player->orderPosition = 0;
    player->nextOrderPosition = -1;
    player->nextRow = -1;
    player->playingRow = 0;
    player->tickFramesLeft = 0; // the first MixBlock starts with a tick
    player->tick = 0;
    player->ruleSet->resetFlow(player);
    player->elapsedMs = 0;
    player->framesMixed = 0;
    if (player->startHandler) player->startHandler(player);
    SetBpm(player, module->defaultBpm);
    ResetChannels(player);
    ResetFinetunes(player);
    if (player->ruleSet->restoreOwnSamples) player->ruleSet->restoreOwnSamples(player);
    ResetWatch(player->watch);
    // Voices start cleared, numbered, with the step 1.0.
    for (int32_t v = 0; v < MIXED_VOICES; ++v) {
        player->voices[v] = Voice{};
        player->voices[v].voiceNumber = v;
        player->voices[v].increment = 1;
    }
    player->position = PlayerPosition{0, module->orders[0], 0, 0, player->speed, player->bpm};
    player->blockStart = player->position;
    player->markCount = 0;
    player->pullBlock = -1;
    player->pullOffset = 0;
    player->pullBlockFrame = 0;
    player->framesPulled = 0;
    player->heard = player->position;
    // The repeat count holds from playback to playback; the passes start again.
    player->seek.repeatEndFrame = -1;
    player->seek.songFrameBase = 0;
    player->seek.straight = true;
    player->seek.startControls = player->controls;
    ResetPlayerEvents(player);
}

void PrefillRing(Player* player) {
    player->mixer.fillBlock = 0;
    do {
        MixBlock(player);
    } while (player->mixer.fillBlock != 0);
}

int32_t RenderPcm16(Player* player, int16_t* interleaved, int32_t frames) {
    if (!interleaved) return 0;
    return Pull(player, frames, [&](int32_t block, int32_t offset, int32_t at, int32_t count) {
        const int16_t* from =
            player->mixer.outputRing + 2 * (int64_t{block} * player->mixer.blockFrames + offset);
        std::memcpy(interleaved + 2 * int64_t{at}, from, static_cast<size_t>(count) * 4);
    });
}

int32_t RenderFloat(Player* player, float* interleaved, int32_t frames) {
    if (!interleaved) return 0;
    return Pull(player, frames, [&](int32_t block, int32_t offset, int32_t at, int32_t count) {
        const float* from =
            player->mixer.mixBuffer + 2 * (int64_t{block} * player->mixer.blockFrames + offset);
        float* to = interleaved + 2 * int64_t{at};
        for (int32_t k = 0; k < 2 * count; ++k) to[k] = from[k] * (1.0f / 32768.0f);
    });
}

bool PlayerEnded(const Player* player) {
    if (!player || player->pullBlock < 0) return false;
    const int64_t end = PlayerEndFrame(player);
    return end >= 0 && end == player->pullBlockFrame + player->pullOffset;
}

namespace {

// Runs a scratch player's sequencer tick by tick, without mixing, from playback start until a
// tick satisfies `done`; returns that tick's frame. -1 when the song wraps first (unless `done`
// accepts the wrap's tick) or `maxFrames` pass.
template <typename Done>
int64_t RunSequencer(const Module* module, int32_t rate, PlayerRules rules, int64_t maxFrames,
                     Done done) {
    Player* scratch = CreatePlayer(module, rate, rules, 1);
    if (!scratch) return -1;
    scratch->events.quiet = true;
    int64_t found = -1;
    while (scratch->framesMixed <= maxFrames) {
        const int64_t frame = scratch->framesMixed;
        SequencerTick(scratch);
        if (done(*scratch)) {
            found = frame;
            break;
        }
        if (scratch->watch.wraps > 0) break;
        scratch->framesMixed += scratch->tickFrames >= 1 ? scratch->tickFrames : 1;
    }
    DestroyPlayer(scratch);
    return found;
}

} // namespace

int64_t FramesToFirstWrap(const Module* module, int32_t rate, int64_t maxFrames,
                          PlayerRules rules) {
    return RunSequencer(module, rate, rules, maxFrames,
                        [](const Player& p) { return p.watch.wraps > 0; });
}

bool SeekOrder(Player* player, int32_t order) {
    return SeekOrderRow(player, order, 0);
}

bool SeekOrderRow(Player* player, int32_t order, int32_t row) {
    if (!player || order < 0 || order >= player->module->songLength || row < 0) return false;
    // A row the pattern lacks is refused; a pattern of no rows has only its row 0, which plays
    // as an empty row.
    const int32_t rows = RowCount(player->module, order);
    if (row > 0 && row >= rows) return false;
    // The time at which the song first starts the position when played from its start, so that
    // the clock a listener sees agrees with where the song is (20 minutes are searched at most).
    const int64_t reached = RunSequencer(
        player->module, player->mixer.mixRate, player->rules,
        int64_t{20} * 60 * player->mixer.mixRate, [order, row](const Player& p) {
            return p.position.tick == 0 && p.position.order == order && p.position.row == row;
        });
    if (reached >= 0) player->framesPulled = reached;
    player->nextOrderPosition = order;
    player->nextRow = row;
    player->tick = 0;
    player->ruleSet->resetFlow(player);
    player->tickFramesLeft = 0;
    ResetWatch(player->watch);
    // The rest of the block being handed out is dropped: the next frame starts the new position.
    player->pullBlock = -1;
    player->pullOffset = 0;
    player->seek.songFrameBase = player->framesPulled - player->framesMixed;
    player->seek.straight = false;
    player->seek.repeatEndFrame = -1;
    ClearPlayerEvents(player);
    return true;
}
