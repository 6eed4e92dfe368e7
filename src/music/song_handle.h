// song_handle.h: the song behind a public song handle, for the in-tree tools that load through
// the public API and play on the library's output (which works on the song records). Any thread.
#pragma once

#include "neatxm.h"

struct Module;

// The loaded song of `song`, read-only; null for null.
const Module* SongModule(const neatxm_song* song);
