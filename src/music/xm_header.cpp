// xm_header.cpp: the XM loader's song header stage: the signature, the song's and tracker's
// names, the format version, the counts, flags and tempo, and the order table; the pattern and
// instrument tables are allocated here, bounded by what the file can hold. Any thread.
#include <algorithm>
#include <cstring>

#include "music/load_failure.h"
#include "music/xm_stages.h"

bool EarlyLayout(uint16_t version) {
    return version == 0x0102 || version == 0x0103;
}

bool ReadSongHeader(XmReading& x, Module* module, int32_t& storedPatterns, uint16_t& instruments,
                    bool& headerAccepted, LoadError* error) {
    ByteReader& r = x.bytes;
    char magic[17];
    if (!ReadBytes(r, magic, 17) || std::memcmp(magic, "Extended Module: ", 17) != 0) {
        return Fail(error, LOAD_NOT_XM,
                    "not an extended module (the file does not start with \"Extended Module: \")");
    }
    module->initialGlobalVolume = 64;

    uint32_t headerSize;
    uint16_t songLength, restart, channels, flags, speed, bpm;
    uint16_t stored;
    if (!Text(r, module->title, 20) || !Skip(r, 1) || !Text(r, module->trackerName, 20) ||
        !U16(r, module->version) || !U32(r, headerSize) || !U16(r, songLength) ||
        !U16(r, restart) || !U16(r, channels) || !U16(r, stored) || !U16(r, instruments) ||
        !U16(r, flags) || !U16(r, speed) || !U16(r, bpm)) {
        return Fail(error, LOAD_TRUNCATED, "the header runs past the end of the file");
    }
    // The order table is always 256 bytes long, but a small file may end inside it (its
    // patterns then start within the table); entries the file does not hold are 0, as a
    // tracker reading only the header size would have them.
    for (uint8_t& order : module->orders) {
        if (!U8(r, order)) break;
    }
    // Whether the file holds the whole song header (up to the order table's end at most).
    const bool songHeaderWhole = HasBytes(r, 60 + std::min<int64_t>(headerSize, 276) - r.position);
    if (!SeekTo(r, int64_t{60} + headerSize)) {
        return Fail(error, LOAD_INVALID, "the header size (%u bytes) reaches beyond 2 GB",
                    headerSize);
    }
    // The order table holds 256 entries: a longer song is played up to the table's end.
    module->songLength = static_cast<int16_t>(std::min<int>(songLength, 256));
    // A restart position outside the song restarts it from the top.
    module->restartPosition = static_cast<int16_t>(restart < module->songLength ? restart : 0);
    // The channel table and the voice pairing hold 32 tracks; a file with more (or none) cannot
    // be played and is refused.
    if (channels < 1) {
        return Fail(error, LOAD_INVALID, "the header says 0 channels; a song needs at least 1");
    }
    if (channels > 32) {
        return Fail(error, LOAD_UNSUPPORTED,
                    "the header says %u channels; at most 32 can be played", channels);
    }
    module->channelCount = static_cast<int16_t>(channels);
    // Cells name instruments 1-128 only, so instruments beyond 128 can never sound and are not
    // loaded.
    module->instrumentCount = static_cast<int16_t>(std::min<int>(instruments, 128));
    module->flags = flags;
    module->defaultSpeed = static_cast<int16_t>(speed);
    module->defaultBpm = static_cast<int16_t>(bpm);

    int32_t used = 0;
    for (int i = 0; i < module->songLength; ++i)
        used = std::max<int32_t>(used, module->orders[i] + 1);
    module->usedPatternCount = used;
    // Each stored pattern needs at least its 9-byte header in the file; refusing counts the file
    // cannot hold keeps the pattern table (and the empty patterns it allocates) bounded.
    if (stored > 256) {
        return Fail(error, LOAD_UNSUPPORTED,
                    "the header says %u patterns; at most 256 are supported", stored);
    }
    // The tolerant reading plays a file that ends among its pattern headers (after a whole song
    // header) as the mature players do: the patterns from there on empty, every instrument
    // silent (see ReadPatterns). A file cut inside its song header stays refused.
    if (!HasBytes(r, int64_t{9} * stored) && (x.reading == Reading::Strict || !songHeaderWhole)) {
        headerAccepted = songHeaderWhole;
        return Fail(error, LOAD_TRUNCATED,
                    "the header says %u pattern%s; the file ends before their headers", stored,
                    stored == 1 ? "" : "s");
    }
    module->patternCount = std::max<int32_t>(stored, used);
    if (module->patternCount > 0) {
        module->patterns =
            static_cast<Pattern*>(Zeroed(int64_t{module->patternCount} * sizeof(Pattern)));
        if (!module->patterns) {
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the pattern table");
        }
    }
    headerAccepted = true;
    if (module->instrumentCount > 0) {
        module->instruments =
            static_cast<Instrument*>(Zeroed(int64_t{module->instrumentCount} * sizeof(Instrument)));
        if (!module->instruments) {
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the instrument table");
        }
    }
    storedPatterns = stored;
    return true;
}
