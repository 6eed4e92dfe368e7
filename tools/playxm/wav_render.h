// wav_render.h: --render: a song through the library's player into a 16-bit stereo WAV file,
// with xmrender's length rules, so that the same choices give the same bytes. Main thread.
#pragma once

#include <string>

#include "music/mix_controls.h"
#include "neatxm.h"

struct RenderChoice {
    int rate = 44100;
    neatxm_rules rules = NEATXM_RULES_STANDARD;
    double seconds = 0; // > 0: whole blocks until at least this long; 0: until the first wrap
    int repeat = 0;     // > 0: the song this many times, ending exactly at its last return
    MixControls mix;    // the listener's controls
};

// Writes the WAV file; on failure returns false with a message in `error`.
bool RenderSongToWav(const neatxm_song* song, const char* wavPath, const RenderChoice& choice,
                     std::string* error);
