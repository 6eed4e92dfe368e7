// soundtrack.h: the demo's music as the listener hears it, rendered ahead into memory through
// the player's real block path, and the slice of it that belongs to each video frame.
// Main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Soundtrack {
    int32_t rate = 44100;
    std::vector<int16_t> samples; // interleaved stereo from playback start; empty: silence
    std::vector<int16_t> silence; // stands in where the song is missing or has run out
};

// Renders `songPath` from playback start for at least `seconds`. The device starts playing the
// pre-filled ring at program start, so sample frame t * rate of this render is what sounds at
// program time t. False with a message in *error when the song cannot be read or played; the
// soundtrack is then silent.
bool RenderSoundtrack(const std::string& songPath, double seconds, Soundtrack* track,
                      std::string* error);

// First sound frame of video frame `frame` at `fps`: floor(frame * rate / fps), so that the
// slices of consecutive frames meet exactly and add up to the video's length.
int64_t SoundFrameAt(int64_t frame, int fps, int32_t rate);

// The sound of video frame `frame`: a pointer into the render (or into silence past its end)
// and the number of stereo frames. The pointer stays valid while the soundtrack lives.
const int16_t* SoundForFrame(Soundtrack* track, int64_t frame, int fps, size_t* frames);
