// output.h: the platform's audio device as an output's device table, and the music start-up of
// the entry routine. Main thread.
#pragma once

#include "music/playback_thread.h"

// The platform's looping audio device as a WaveDevice table.
extern const WaveDevice platformWaveDevice;

// The music start-up: makes an output over `device`, opens it at 44100 Hz, loads "Zarq-Neat.xm"
// through the standard file operations and starts playing it. Failures print one line on
// standard output ("Error upon initialization.", "Error loading song") and leave the output
// silent. Returns the output (the caller keeps it for as long as the music should play), or null
// when not even an output could be made.
MusicOutput* StartMusic(const WaveDevice* device = &platformWaveDevice);
