// render.cpp: offline rendering through the real playback path, block positions, wrap
// detection and the WAV writer behind xmrender. Single-threaded.
#include "render.h"

#include "music/file_access.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"
#include "music/sequencer.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the WAV writer copies the ring's samples as they lie in memory");

namespace {

// 20 minutes of 884-frame blocks at 44100 Hz.
constexpr int64_t DEFAULT_MAX_BLOCKS = (20LL * 60 * RENDER_RATE + 883) / 884;

// Watches the sequencer's row ticks for the song's first wrap: the song has wrapped when it
// enters an order position at a row it has entered before (the natural end going back to the
// restart position, or a jump or break back to a place already played). Pattern loops move
// only the row within an order, so they are not mistaken for a wrap.
struct WrapWatch {
    Module* module;
    bool prefill;
    bool started;
    int64_t currentBlock;
    bool wrapped;
    int64_t wrapBlock;
    int32_t wrapOrder;
    int32_t wrapRow;
    uint8_t entered[256][256 / 8]; // order x row entry points seen so far
};
WrapWatch watch;

void WatchingTick(Module* module) {
    const bool rowTick = module->tick == 0;
    const bool entering = rowTick && (!watch.started || module->nextOrderPosition >= 0);
    if (rowTick) watch.started = true;
    const int32_t order =
        module->nextOrderPosition >= 0 ? module->nextOrderPosition : module->orderPosition;
    const int32_t row = module->nextRow >= 0 ? module->nextRow : module->row;
    SequencerTick(module);
    if (!entering || watch.wrapped) return;
    if (order < 0 || order > 255 || row < 0 || row > 255) return;
    uint8_t& bits = watch.entered[order][row / 8];
    const uint8_t bit = static_cast<uint8_t>(1u << (row % 8));
    if (bits & bit) {
        watch.wrapped = true;
        watch.wrapBlock = watch.prefill ? mixer.fillBlock : watch.currentBlock;
        watch.wrapOrder = order;
        watch.wrapRow = row;
    }
    bits |= bit;
}

bool HandOut(int64_t index, int32_t ringBlock, RenderSink sink, void* context) {
    RenderedBlock block;
    block.index = index;
    block.frames = mixer.outputRing + static_cast<int64_t>(ringBlock) * mixer.blockFrames * 2;
    block.frameCount = mixer.blockFrames;
    block.position = mixer.blockPositions[ringBlock];
    return sink(block, context);
}

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v & 0xFFFF);
    PutLe16(p + 2, v >> 16);
}

} // namespace

bool RenderModule(Module* module, const RenderLimits& limits, RenderSink sink, void* context,
                  RenderSummary* summary) {
    RenderSummary local{};
    local.wrapBlock = -1;
    memset(&watch, 0, sizeof watch);
    watch.module = module;
    watch.prefill = true;
    watch.wrapBlock = -1;

    ConfigureOutput(RENDER_RATE);
    // The watch calls the sequencer itself; whatever the loader installed is put back after.
    const ModuleHandler installed = module->tickHandler;
    module->tickHandler = WatchingTick;
    if (!PreparePlayback(module)) {
        module->tickHandler = installed;
        if (summary) *summary = local;
        return false;
    }
    watch.prefill = false;

    const int64_t maxBlocks = limits.blocks > 0
                                  ? limits.blocks
                                  : (limits.maxBlocks > 0 ? limits.maxBlocks : DEFAULT_MAX_BLOCKS);
    const int32_t ringBlocks = mixer.ringFrames / mixer.blockFrames;
    const bool untilWrap = limits.blocks <= 0;
    bool ok = true;
    int64_t index = 0;
    auto finished = [&](int64_t handed) {
        if (handed >= maxBlocks) return true;
        return untilWrap && watch.wrapped && handed > watch.wrapBlock;
    };
    // The pre-fill blocks first, in the order they were rendered.
    for (int32_t b = 0; b < ringBlocks && ok && !finished(index); ++b, ++index)
        ok = HandOut(index, b, sink, context);
    while (ok && !finished(index)) {
        const int32_t ringBlock = mixer.fillBlock;
        watch.currentBlock = index;
        MixBlock();
        ok = HandOut(index, ringBlock, sink, context);
        ++index;
    }

    local.blocks = index;
    local.wrapped = watch.wrapped;
    local.wrapBlock = watch.wrapBlock;
    local.wrapOrder = watch.wrapOrder;
    local.wrapRow = watch.wrapRow;
    ReleasePlaybackBuffers();
    module->tickHandler = installed;
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
                     bool progress) {
    if (result) *result = RenderFileResult{};
    FILE* probe = fopen(songPath, "rb");
    if (!probe) {
        SetError(error, errorSize, "cannot read %s: %s", songPath, strerror(errno));
        return false;
    }
    fclose(probe);
    SetStandardFileCallbacks();
    Module* module = LoadModule(songPath, nullptr);
    if (!module) {
        SetError(error, errorSize, "%s is not a valid XM module%s", songPath, "");
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
        const int32_t blockFrames = ((RENDER_RATE / 50) + 3) & ~3;
        const double frames = seconds * RENDER_RATE;
        limits.blocks = static_cast<int64_t>((frames + blockFrames - 1) / blockFrames);
        if (limits.blocks < 1) limits.blocks = 1;
    }
    RenderSummary summary{};
    if (ok && !RenderModule(module, limits, WriteBlock, &out, &summary)) {
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
