// api_internal.h: what the files of the public interface (api*.cpp) share: the handles behind
// neatxm_song and neatxm_player, and the checks of the caller's growable records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "neatxm.h"

struct Module;
struct Player;

struct neatxm_song {
    Module* module;
    double lengthSeconds;
};

struct neatxm_player {
    Player* player;
    int32_t repeat; // the repeat count last set (the player keeps it in its own terms)
};

namespace api {

// True when the caller's record (its `size` first) reaches to the end of `field`.
#define NEATXM_RECORD_HOLDS(record, type, field)                                                   \
    ((record)->size >= offsetof(type, field) + sizeof(((type*)nullptr)->field))

// An output record the caller hands in is usable when it holds at least one field after
// `size`; then the library's complete record is copied into it as far as the caller's reaches.
template <typename Record> bool OutputUsable(const Record* record) {
    return record->size >= sizeof(uint32_t) * 2;
}
template <typename Record> void CopyOut(const Record& full, Record* caller) {
    const uint32_t size = caller->size;
    std::memcpy(static_cast<void*>(caller), &full, size < sizeof full ? size : sizeof full);
    caller->size = size;
}

// Writes `text` into the caller's message buffer, cut to fit; nothing when there is none.
void Tell(char* message, size_t messageSize, const char* text);

// The format the song was read from: the one place that maps the loader's record of it.
neatxm_format FormatOf(const Module* module);

} // namespace api
