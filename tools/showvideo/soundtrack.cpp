// soundtrack.cpp: renders the song into memory through the player (the blocks the live
// program's ring pre-fill and output thread render, in order) and cuts it into per-frame slices.
// Main thread.
#include "soundtrack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"
#include "render.h"

bool RenderSoundtrack(const std::string& songPath, double seconds, Soundtrack* track,
                      std::string* error) {
    track->rate = RENDER_RATE;
    track->samples.clear();
    if (!(seconds > 0)) seconds = 0;
    const int64_t wanted = int64_t(std::ceil(seconds * RENDER_RATE));

    LoadError loadError{};
    Module* module = LoadModule(&standardFileCallbacks, songPath.c_str(), nullptr, &loadError);
    if (!module) {
        *error = loadError.code == LOAD_CANNOT_OPEN
                     ? songPath + " not found"
                     : songPath + " is not a module the player can load: " + loadError.message;
        return false;
    }
    Player* player = CreatePlayer(module, RENDER_RATE, PlayerRules::Demo);
    if (!player) {
        FreeModule(module);
        *error = "the player could not start " + songPath;
        return false;
    }
    // Whole blocks, one more than the seconds need, as the live program's ring holds them.
    const int64_t blockFrames = player->mixer.blockFrames;
    const int64_t frames = (wanted / blockFrames + 1) * blockFrames;
    track->samples.resize(size_t(frames) * 2);
    for (int64_t done = 0; done < frames;) {
        const int32_t piece = int32_t(std::min<int64_t>(frames - done, 1 << 20));
        done += RenderPcm16(player, track->samples.data() + done * 2, piece);
    }
    DestroyPlayer(player);
    FreeModule(module);
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
