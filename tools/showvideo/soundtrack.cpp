// soundtrack.cpp: renders the song into memory through xmrender's core (the ring pre-fill, then
// block after block) and cuts it into per-frame slices. Main thread.
#include "soundtrack.h"

#include <cmath>
#include <cstdio>

#include "music/file_access.h"
#include "music/module.h"
#include "render.h"

namespace {

bool AppendBlock(const RenderedBlock& block, void* context) {
    auto* samples = static_cast<std::vector<int16_t>*>(context);
    samples->insert(samples->end(), block.frames, block.frames + size_t(block.frameCount) * 2);
    return true;
}

} // namespace

bool RenderSoundtrack(const std::string& songPath, double seconds, Soundtrack* track,
                      std::string* error) {
    track->rate = RENDER_RATE;
    track->samples.clear();
    if (!(seconds > 0)) seconds = 0;
    const int64_t wanted = int64_t(std::ceil(seconds * RENDER_RATE));

    FILE* probe = std::fopen(songPath.c_str(), "rb");
    if (!probe) {
        *error = songPath + " not found";
        return false;
    }
    std::fclose(probe);
    SetStandardFileCallbacks();
    Module* module = LoadModule(songPath.c_str(), nullptr);
    if (!module) {
        *error = songPath + " is not a module the player can load";
        return false;
    }
    const int32_t blockFrames = ((RENDER_RATE / 50) + 3) & ~3;
    RenderLimits limits{};
    limits.blocks = wanted / blockFrames + 1;
    track->samples.reserve(size_t(limits.blocks * blockFrames * 2));
    const bool ok = RenderModule(module, limits, AppendBlock, &track->samples, nullptr);
    FreeModule(module);
    if (!ok) {
        track->samples.clear();
        *error = "the player could not start " + songPath;
        return false;
    }
    return true;
}

int64_t SoundFrameAt(int64_t frame, int fps, int32_t rate) {
    return frame * rate / fps;
}

const int16_t* SoundForFrame(Soundtrack* track, int64_t frame, int fps, size_t* frames) {
    const int64_t first = SoundFrameAt(frame, fps, track->rate);
    const int64_t count = SoundFrameAt(frame + 1, fps, track->rate) - first;
    *frames = size_t(count);
    const int64_t have = int64_t(track->samples.size() / 2);
    if (first + count <= have) return track->samples.data() + first * 2;
    // Past the render (a missing song, or a longer show than asked for): silence. The pointer
    // must outlive the write, so the buffer is sized once for the longest slice at this rate.
    const size_t longest = size_t(track->rate / fps + 1) * 2;
    if (track->silence.size() < longest) track->silence.assign(longest, 0);
    return track->silence.data();
}
