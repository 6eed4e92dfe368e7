// output.h: the audio device, the output thread and playback control; the music start-up of the
// entry routine. Main thread, except OutputThreadMain.
#pragma once

#include "music/playback_thread.h"

#include <cstdint>

struct Module;

// The song that StartMusic loaded, or null.
extern Module* song;

// The platform's looping audio device as a WaveDevice table.
extern const WaveDevice platformWaveDevice;

// Installs the file operations, opens the device at 44100 Hz, loads "Zarq-Neat.xm" and starts
// playing it. 1 when playing; failures print one line on standard output.
int StartMusic();
// Opens the device at `rate` Hz and sets the output sizes and mixer constants for it, all voices
// cleared. False when the file operations or the device are missing, or the device refuses.
bool OpenWaveOutput(int32_t rate);
// Closes the device (stopping any playback on it first). Harmless when none is open.
void CloseWaveOutput();
