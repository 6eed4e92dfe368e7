// render.cpp: offline rendering through the real playback path, block positions, wrap
// detection and the WAV writer behind xmrender. Single-threaded.
#include "render.h"

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"

#include <bit>
#include <cerrno>
#include <cstring>
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
                  RenderSink sink, void* context, RenderSummary* summary,
                  const MixControls& controls) {
    RenderSummary local{};
    local.wrapBlock = -1;
    Player* player = CreatePlayer(module, RENDER_RATE, rules);
    if (!player) {
        if (summary) *summary = local;
        return false;
    }
    player->controls = controls;
    const int32_t blockFrames = player->mixer.blockFrames;
    // The one block buffer is made before rendering starts: rendering itself allocates nothing.
    std::vector<int16_t> frames(static_cast<size_t>(blockFrames) * 2);

    const int64_t maxBlocks = limits.blocks > 0
                                  ? limits.blocks
                                  : (limits.maxBlocks > 0 ? limits.maxBlocks : DEFAULT_MAX_BLOCKS);
    const bool untilWrap = limits.blocks <= 0;
    const WrapWatch& watch = player->watch;
    auto wrapBlock = [&] { return watch.wraps > 0 ? watch.firstFrame / blockFrames : -1; };
    bool ok = true;
    int64_t index = 0;
    while (ok && index < maxBlocks && !(untilWrap && watch.wraps > 0 && index > wrapBlock())) {
        RenderPcm16(player, frames.data(), blockFrames);
        RenderedBlock block{index, frames.data(), blockFrames,
                            player->mixer.blockPositions[player->pullBlock]};
        ok = sink(block, context);
        ++index;
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

} // namespace

bool RenderFileToWav(const char* songPath, const char* wavPath, const char* positionsPath,
                     double seconds, RenderFileResult* result, char* error, size_t errorSize,
                     bool progress, PlayerRules rules, const MixControls& controls) {
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
        SetError(error, errorSize, "%s is not a valid XM module: %s", songPath, loadError.message);
        return false;
    }

    FileSink out{};
    out.progress = progress;
    out.wav = fopen(wavPath, "wb");
    if (!out.wav) {
        SetError(error, errorSize, "cannot write %s: %s", wavPath, strerror(errno));
        FreeModule(module);
        return false;
    }
    // A large buffer set up front: rendering itself then allocates nothing.
    std::vector<char> wavBuffer(1 << 20);
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
    if (seconds > 0) {
        const int32_t blockFrames = BlockFrames(RENDER_RATE);
        const double frames = seconds * RENDER_RATE;
        limits.blocks = static_cast<int64_t>((frames + blockFrames - 1) / blockFrames);
        if (limits.blocks < 1) limits.blocks = 1;
    }
    RenderSummary summary{};
    if (ok && !RenderModule(module, rules, limits, WriteBlock, &out, &summary, controls)) {
        SetError(error, errorSize, "rendering %s failed (%s)", songPath,
                 out.frames == 0 ? "playback could not start" : "write error");
        ok = false;
    }
    if (progress) fputc('\n', stderr);
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
