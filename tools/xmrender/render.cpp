// render.cpp: offline rendering through the real playback path, block positions, wrap
// detection and the WAV writer behind xmrender. Single-threaded.
#include "render.h"

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the WAV writer copies the player's samples as they lie in memory");

namespace {

// 20 minutes of blocks at the render rate.
constexpr int64_t DEFAULT_MAX_BLOCKS =
    (20LL * 60 * RENDER_RATE + BlockFrames(RENDER_RATE) - 1) / BlockFrames(RENDER_RATE);

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v & 0xFFFF);
    PutLe16(p + 2, v >> 16);
}

} // namespace

bool RenderModule(const Module* module, PlayerRules rules, const RenderLimits& limits,
                  RenderSink sink, void* context, RenderSummary* summary) {
    RenderSummary local{};
    local.wrapBlock = -1;
    Player* player = CreatePlayer(module, RENDER_RATE, rules);
    if (!player) {
        if (summary) *summary = local;
        return false;
    }
    const int32_t blockFrames = player->mixer.blockFrames;
    // The one block buffer is made before rendering starts: rendering itself allocates nothing.
    std::vector<int16_t> frames(static_cast<size_t>(blockFrames) * 2);

    const int64_t maxBlocks = limits.blocks > 0
                                  ? limits.blocks
                                  : (limits.maxBlocks > 0 ? limits.maxBlocks : DEFAULT_MAX_BLOCKS);
    const bool repeating = limits.blocks <= 0 && limits.repeat > 0;
    const bool untilWrap = limits.blocks <= 0 && !repeating;
    const WrapWatch& watch = player->watch;
    auto wrapBlock = [&] { return watch.wraps > 0 ? watch.firstFrame / blockFrames : -1; };
    if (repeating) SetRepeatCount(player, limits.repeat);
    player->controls = limits.controls;
    // The cap holds for every pass.
    const int64_t cap = repeating ? maxBlocks * limits.repeat : maxBlocks;
    bool ok = true;
    int64_t index = 0;
    while (ok && index < cap && !(untilWrap && watch.wraps > 0 && index > wrapBlock())) {
        const int32_t got = RenderPcm16(player, frames.data(), blockFrames);
        if (got == 0) break; // the last pass ended with the block before
        RenderedBlock block{index, frames.data(), got,
                            player->mixer.blockPositions[player->pullBlock]};
        ok = sink(block, context);
        ++index;
        if (got < blockFrames) break;
    }

    local.blocks = index;
    local.wrapped = watch.wraps > 0;
    local.wrapBlock = wrapBlock();
    local.wrapOrder = watch.wraps > 0 ? watch.firstOrder : 0;
    local.wrapRow = watch.wraps > 0 ? watch.firstRow : 0;
    DestroyPlayer(player);
    if (summary) *summary = local;
    return ok;
}

void MakeWavHeader(uint8_t header[44], uint32_t frames, int32_t rate) {
    const uint32_t dataBytes = frames * 4;
    memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 36 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 16);
    PutLe16(header + 20, 1); // PCM
    PutLe16(header + 22, 2); // stereo
    PutLe32(header + 24, static_cast<uint32_t>(rate));
    PutLe32(header + 28, static_cast<uint32_t>(rate) * 4);
    PutLe16(header + 32, 4);  // bytes per frame
    PutLe16(header + 34, 16); // bits per sample
    memcpy(header + 36, "data", 4);
    PutLe32(header + 40, dataBytes);
}

namespace {

// The stem player's tick: the song's own, then silence for every voice but the track's two
// (track c plays on voices c and c + 32). The voices still move through their samples as in
// the whole mix, so the track's own voices sound exactly as they do there.
void StemTick(Player* player) {
    SequencerTick(player);
    const int32_t track = *static_cast<const int32_t*>(player->handlerContext);
    for (Voice& voice : player->voices) {
        if (voice.voiceNumber % MAX_CHANNELS == track) continue;
        voice.mixVolume = 0;
        voice.volumeLeft = voice.volumeRight = 0;
        voice.currentLeft = voice.currentRight = 0;
        voice.rampFrames = 0;
        voice.rampStepLeft = voice.rampStepRight = 0.0f;
    }
}

constexpr int32_t STEM_TRACKS[MAX_CHANNELS] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                               11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                               22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

} // namespace

Player* CreateStemPlayer(const Module* module, PlayerRules rules, int32_t track) {
    if (!module || track < 0 || track >= module->channelCount || track >= MAX_CHANNELS)
        return nullptr;
    Player* player = CreatePlayer(module, RENDER_RATE, rules);
    if (!player) return nullptr;
    player->handlerContext = const_cast<int32_t*>(&STEM_TRACKS[track]);
    player->tickHandler = StemTick;
    return player;
}

void MakeFloatWavHeader(uint8_t header[FLOAT_WAV_HEADER], uint32_t frames, int32_t rate) {
    const uint32_t dataBytes = frames * 8;
    memcpy(header, "RIFF", 4);
    PutLe32(header + 4, static_cast<uint32_t>(FLOAT_WAV_HEADER) - 8 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 18);
    PutLe16(header + 20, 3); // IEEE float
    PutLe16(header + 22, 2); // stereo
    PutLe32(header + 24, static_cast<uint32_t>(rate));
    PutLe32(header + 28, static_cast<uint32_t>(rate) * 8);
    PutLe16(header + 32, 8);  // bytes per frame
    PutLe16(header + 34, 32); // bits per sample
    PutLe16(header + 36, 0);  // no extension
    memcpy(header + 38, "fact", 4);
    PutLe32(header + 42, 4);
    PutLe32(header + 46, frames);
    memcpy(header + 50, "data", 4);
    PutLe32(header + 54, dataBytes);
}

namespace {

struct FileSink {
    FILE* wav;
    FILE* positions;
    int64_t frames;
    bool progress;
};

bool WriteBlock(const RenderedBlock& block, void* context) {
    FileSink* out = static_cast<FileSink*>(context);
    const size_t count = static_cast<size_t>(block.frameCount) * 2;
    if (fwrite(block.frames, sizeof(int16_t), count, out->wav) != count) return false;
    out->frames += block.frameCount;
    if (out->positions &&
        fprintf(out->positions, "%lld,%u,%u,%d\n", static_cast<long long>(block.index),
                block.position.order, block.position.row, block.position.timeMs) < 0)
        return false;
    if (out->progress && block.index % 50 == 0)
        fprintf(stderr, "\r%8.1f s  order %3u  row %3u", block.position.timeMs / 1000.0,
                block.position.order, block.position.row);
    return true;
}

void SetError(char* error, size_t size, const char* format, const char* a, const char* b) {
    if (error && size) snprintf(error, size, format, a, b);
}

// Writes each track's stem of `frames` frames into `dir` (made when missing). False with a
// message on failure.
bool WriteStems(const Module* module, PlayerRules rules, const RenderExtras& extras, int64_t frames,
                char* error, size_t errorSize) {
    const char* dir = extras.stemsDir;
    std::error_code made;
    std::filesystem::create_directory(dir, made);
    if (made) {
        SetError(error, errorSize, "cannot make the folder %s: %s", dir, made.message().c_str());
        return false;
    }
    const int32_t blockFrames = BlockFrames(RENDER_RATE);
    std::vector<float> block(static_cast<size_t>(blockFrames) * 2);
    const int32_t tracks = std::min<int32_t>(module->channelCount, MAX_CHANNELS);
    for (int32_t track = 0; track < tracks; ++track) {
        char path[4096];
        snprintf(path, sizeof path, "%s/channel%02d.wav", dir, track + 1);
        Player* player = CreateStemPlayer(module, rules, track);
        if (!player) {
            SetError(error, errorSize, "no player for the stem %s%s", path, "");
            return false;
        }
        if (extras.repeat > 0) SetRepeatCount(player, extras.repeat);
        player->controls = extras.controls;
        FILE* wav = fopen(path, "wb");
        if (!wav) {
            SetError(error, errorSize, "cannot write %s: %s", path, strerror(errno));
            DestroyPlayer(player);
            return false;
        }
        uint8_t header[FLOAT_WAV_HEADER];
        MakeFloatWavHeader(header, static_cast<uint32_t>(frames), RENDER_RATE);
        bool ok = fwrite(header, 1, sizeof header, wav) == sizeof header;
        for (int64_t done = 0; ok && done < frames;) {
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(blockFrames, frames - done));
            // The stem ends where the mix ends; a short render (which the same song and rules
            // cannot give) would be padded with silence.
            const int32_t got = RenderFloat(player, block.data(), n);
            std::fill(block.begin() + 2 * got, block.begin() + 2 * n, 0.0f);
            ok = fwrite(block.data(), sizeof(float), static_cast<size_t>(2 * n), wav) ==
                 static_cast<size_t>(2 * n);
            done += n;
        }
        DestroyPlayer(player);
        if (fclose(wav) != 0) ok = false;
        if (!ok) {
            SetError(error, errorSize, "cannot write %s%s", path, "");
            return false;
        }
    }
    return true;
}

} // namespace

bool RenderFileToWav(const char* songPath, const char* wavPath, const char* positionsPath,
                     double seconds, RenderFileResult* result, char* error, size_t errorSize,
                     bool progress, PlayerRules rules, const RenderExtras* extras) {
    const RenderExtras chosen = extras ? *extras : RenderExtras{};
    if (result) *result = RenderFileResult{};
    FILE* probe = fopen(songPath, "rb");
    if (!probe) {
        SetError(error, errorSize, "cannot read %s: %s", songPath, strerror(errno));
        return false;
    }
    fclose(probe);
    LoadError loadError{};
    Module* module = LoadModule(&standardFileCallbacks, songPath, nullptr, &loadError);
    if (!module) {
        SetError(error, errorSize, "%s cannot be played: %s", songPath, loadError.message);
        return false;
    }
    // The demo's rules know XM songs only: a MOD song plays by the standard rules (ProTracker's)
    // unless the demo's were asked for by name.
    if (module->format == ModuleFormat::Mod && rules == PlayerRules::Demo) {
        if (chosen.rulesGiven) {
            SetError(error, errorSize, "%s is a MOD song; %s", songPath,
                     "the demo's rules play XM songs only (use --rules standard)");
            FreeModule(module);
            return false;
        }
        rules = PlayerRules::Standard;
    }

    FileSink out{};
    out.progress = progress;
    out.wav = fopen(wavPath, "wb");
    if (!out.wav) {
        SetError(error, errorSize, "cannot write %s: %s", wavPath, strerror(errno));
        FreeModule(module);
        return false;
    }
    // A buffer set up front (rendering itself then allocates nothing), small enough to stay in the
    // cache between the copy into it and the kernel's copy out of it.
    std::vector<char> wavBuffer(1 << 16);
    setvbuf(out.wav, wavBuffer.data(), _IOFBF, wavBuffer.size());
    if (positionsPath) {
        out.positions = fopen(positionsPath, "w");
        if (!out.positions) {
            SetError(error, errorSize, "cannot write %s: %s", positionsPath, strerror(errno));
            fclose(out.wav);
            FreeModule(module);
            return false;
        }
        fputs("block,order,row,ms\n", out.positions);
    }

    uint8_t header[44];
    MakeWavHeader(header, 0, RENDER_RATE);
    bool ok = fwrite(header, 1, sizeof header, out.wav) == sizeof header;

    RenderLimits limits{};
    limits.repeat = chosen.repeat;
    limits.controls = chosen.controls;
    if (seconds > 0) {
        const int32_t blockFrames = BlockFrames(RENDER_RATE);
        const double frames = seconds * RENDER_RATE;
        limits.blocks = static_cast<int64_t>((frames + blockFrames - 1) / blockFrames);
        if (limits.blocks < 1) limits.blocks = 1;
    }
    RenderSummary summary{};
    if (ok && !RenderModule(module, rules, limits, WriteBlock, &out, &summary)) {
        SetError(error, errorSize, "rendering %s failed (%s)", songPath,
                 out.frames == 0 ? "playback could not start" : "write error");
        ok = false;
    }
    if (progress) fputc('\n', stderr);
    if (ok && chosen.stemsDir) {
        // The stems play as the mix did: a length in seconds leaves the repeat count aside.
        RenderExtras stems = chosen;
        if (limits.blocks > 0) stems.repeat = 0;
        ok = WriteStems(module, rules, stems, out.frames, error, errorSize);
    }
    FreeModule(module);

    if (ok) {
        MakeWavHeader(header, static_cast<uint32_t>(out.frames), RENDER_RATE);
        ok = fseek(out.wav, 0, SEEK_SET) == 0 && fwrite(header, 1, sizeof header, out.wav) == 44;
        if (!ok) SetError(error, errorSize, "cannot write %s%s", wavPath, "");
    }
    if (fclose(out.wav) != 0 && ok) {
        SetError(error, errorSize, "cannot write %s%s", wavPath, "");
        ok = false;
    }
    if (out.positions && fclose(out.positions) != 0 && ok) {
        SetError(error, errorSize, "cannot write %s%s", positionsPath, "");
        ok = false;
    }
    if (result) {
        result->frames = out.frames;
        result->wrapped = summary.wrapped;
    }
    return ok;
}
