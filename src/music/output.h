// output.h: the audio device, the output thread and playback control; the music start-up of the
// entry routine. Main thread, except OutputThreadMain.
#pragma once

// Installs the file operations, opens the device at 44100 Hz, loads "Zarq-Neat.xm" and starts
// playing it. 1 when playing; failures print one line on standard output.
int StartMusic();
