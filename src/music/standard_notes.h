// standard_notes.h: what a track keeps for the standard rules' note handling (notes, instruments,
// key-off, envelopes, fade-out, the volume column), beside the fields both rule sets share.
#pragma once

#include <cstdint>

struct StandardNoteState {
    uint8_t unused; // nothing of its own yet
};
