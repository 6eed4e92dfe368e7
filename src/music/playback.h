// playback.h: the platform-free half of playback control: output sizes for a rate, the
// playback-field reset, the mixer's buffers and the pre-fill of the ring. The output (device
// and thread) and the offline renderer both start playback through these, so that both render
// exactly the same blocks. Main thread (or the renderer's only thread).
#pragma once

#include <cstdint>

struct Module;

// Output sizes and mixer constants for a rate, and all voices cleared, numbered and given the
// step 1.0. blockFrames = (rate / 50 + 3) & ~3, ringFrames = blockFrames * 100.
void ConfigureOutput(int32_t rate);
// The playback start's reset of the song: its playback fields, its startHandler, the tempo
// (tickFrames for the configured rate) and the channel table. PreparePlayback does this too;
// tests that drive the sequencer tick by tick call it alone.
void ResetPlaybackState(Module* module);
// Resets the module's playback fields, calls its startHandler, sets the tempo, resets the
// channel table, makes it the playing module, allocates the ring, mix buffer and position
// table zeroed, and renders every block of the ring once in order (fillBlock ends at 0).
// False (nothing allocated, nothing playing) when the output is not configured or an
// allocation fails.
bool PreparePlayback(Module* module);
// Frees the mix buffer, ring and position table; no module is playing afterwards. Harmless
// when nothing was prepared.
void ReleasePlaybackBuffers();

// ---- Stopping (the output adds the device and the output thread behind these) ----

#include <atomic>

// Set while the output thread is inside MixBlock; stopping and freeing a song wait for it.
extern std::atomic<bool> blockInProgress;
// Stops the current playback (whatever module is given, as long as it is not null) and frees
// the mixer's buffers. 1, or 0 for a null module. Stopping twice is harmless.
int StopPlayback(Module* module);
