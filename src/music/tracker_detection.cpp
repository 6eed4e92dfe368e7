// tracker_detection.cpp: tells from what a file holds besides its song which tracker saved it,
// where that changes how the song plays. Any thread.
#include <cstring>

#include "music/xm_stages.h"

// An early tracker other than the original one saved its files under the original tracker's
// signature and version, and plays their pattern loops by rules of its own (one loop at a time
// across all tracks; a loop's jump overrides B and D on its row). The mature players tell such a
// file by what the original tracker never writes, and so do we (`Module::exclusiveLoops`): a song
// name padded with zeros (the original tracker pads with spaces) or anything after the last
// sample's data (that tracker's chunks: the song's text and the like). A later version of that
// tracker appends a block of extended settings (id "XTPM") and plays loops as the original
// tracker does; a sample header's reserved byte other than 0 and the 4-bit packing mark (0xAD)
// comes from neither. Called with the reader just past the last sample's data.
bool SavedByEarlyOtherTracker(XmReading& x, const Module* module) {
    ByteReader& r = x.bytes;
    // The original tracker signs the tracker field with its name, " v2.00" and three spaces; the
    // field's last nine bytes tell that signature from every other tracker's own.
    if (module->version != 0x0104 || std::memcmp(module->trackerName + 11, " v2.00   ", 9) != 0 ||
        x.otherSampleMark) {
        return false;
    }
    const bool zeroPaddedName = module->title[19] == '\0';
    if (!HasBytes(r, 1)) return zeroPaddedName;
    // Chunks of a 4-byte id and a 32-bit length; the walk ends at the first one that does not fit
    // (a file with other bytes after its samples is still that tracker's, as the players take it).
    for (int chunk = 0; chunk < 64; ++chunk) {
        char id[4];
        uint32_t length;
        if (!ReadBytes(r, id, 4) || !U32(r, length)) break;
        if (std::memcmp(id, "XTPM", 4) == 0) return false;
        if (!HasBytes(r, length) || !Skip(r, length)) break;
    }
    return true;
}
