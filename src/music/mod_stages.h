// mod_stages.h: the MOD loader's stages, each over the one byte reader: what the file is (its
// tag, or the content of a tagless one) and its song header (mod_header.cpp), the patterns
// (mod_patterns.cpp) and the samples (mod_samples.cpp). mod_loader.cpp runs them in the order
// of the file's layout. Internal to the loader. Any thread; one load touches only its own
// reader and song.
//
// A MOD song becomes the same records an XM song does: each of its 15 or 31 samples is an
// instrument with one sample (no envelopes), its periods are notes of the Amiga table, its
// effects keep their numbers (0-F, E0-EF).
#pragma once

#include <cstdint>

#include "music/byte_reader.h"
#include "music/module.h"

// The layout one MOD file has, as its header tells.
struct ModLayout {
    int32_t channels;       // tracks per row, 1-32
    int32_t samples;        // 15 or 31 sample headers
    int64_t patternStart;   // file offset of the first pattern (or track)
    int32_t storedPatterns; // patterns (tracks for the track layout) stored before the samples
    bool pairedPatterns;    // FLT8: each pattern stored as two four-track halves
    bool fifteenSamples;    // the first trackers' layout: loop starts in bytes, loops played alone
    char tag[5];
    uint8_t tracks[128][4]; // the track layout: each order position's four tracks
};

// The sample headers' fields as stored (lengths and loops in words).
struct ModSampleHeader {
    char name[23];
    uint16_t length;
    uint8_t finetune; // low nibble: -8..7
    uint8_t volume;
    uint16_t loopStart;
    uint16_t loopLength;
};

// ---- What the file is (mod_header.cpp) ----
// True when the bytes at the start of the file make a MOD song header of some kind (tagged,
// track layout, or a 15-sample file whose header and first pattern look like one). `head`
// holds the file's first `size` bytes (up to 1468).
bool LooksLikeMod(const uint8_t* head, int64_t size);
// A sentence naming what the file is when it is a known packing or relative of the format this
// player does not read ("a module packed by X; unpack it first"); null otherwise.
const char* RefusedKind(const uint8_t* head, int64_t size);

// ---- The song header (mod_header.cpp) ----
// Title, sample headers (into the instrument table), song length, restart, order table, tag;
// allocates the pattern and instrument tables.
bool ReadModHeader(ByteReader& r, Module* module, ModLayout& layout, ModSampleHeader* headers,
                   LoadError* error);

// ---- Patterns (mod_patterns.cpp) ----
// Reads the stored patterns into the song's pattern table; a file cut inside them keeps the
// rows it holds (the rest empty) and leaves `fileEnded` set.
bool ReadModPatterns(ByteReader& r, Module* module, const ModLayout& layout, bool& fileEnded,
                     LoadError* error);
// The note (1-96) closest to an Amiga period of the MOD scale (428 = C-2 there); 0 for no
// period.
uint8_t NoteOfModPeriod(int32_t period);

// ---- Samples (mod_samples.cpp) ----
// Makes each sample header an instrument with one sample (words to frames, finetune and volume
// taken into range, loops trimmed to the sample; a 15-sample file's looped sample keeps its loop
// alone) and reads the 8-bit signed frames, unpacking those stored four bits a frame; a cut file
// keeps what it holds.
bool ReadModSamples(ByteReader& r, Module* module, const ModLayout& layout,
                    const ModSampleHeader* headers, bool fileEnded, LoadError* error);

// ---- Timing (mod_timing.cpp) ----
// For a four-track file tagged `tag` (M.K. or M!K!) whose song only makes sense with its F
// commands from 20 on read as speeds: marks it as the older tracker's (ModVariant::Noisetracker)
// and says so in its facts. Otherwise sets Module::tempoFromNextTick for a four-track file the
// Amiga tracker saved (`headers`: the file's 31 sample headers). Run once the patterns are read.
void ChooseModTiming(Module* module, const char* tag, const ModSampleHeader* headers);

// ---- The whole file (mod_loader.cpp) ----
int ParseMod(Module* module, ModuleStream* stream, LoadError* error);
