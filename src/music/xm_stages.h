// xm_stages.h: the XM loader's stages, each over the one byte reader: the song header
// (xm_header.cpp), the patterns (xm_patterns.cpp), the instruments with their sample headers
// (xm_instruments.cpp), the sample data (sample_decoding.cpp), the recovery of cut files
// (recovery.cpp), the tracker that saved the file (tracker_detection.cpp) and the freeing of a
// song (song_memory.cpp). xm_loader.cpp runs them in the order of the file's layout, once or
// twice (see there). Internal to the loader. Any thread; one load touches only its own reader
// and song.
//
// Messages number instruments and samples from 1 and patterns from 0, as a tracker's editor
// shows them, so that a musician can find the place.
#pragma once

#include <cstdint>

#include "music/byte_reader.h"
#include "music/module.h"

// How sizes that disagree with the data they describe are read (see xm_loader.cpp).
enum class Reading {
    Strict,   // the demo's reading, unchanged for every file it accepts
    Tolerant, // the mature players' reading, for files the strict reading refuses
};

// What one reading of an XM file learns on the way besides the song itself.
struct XmReading {
    ByteReader bytes;
    Reading reading;
    bool fileEnded;         // the tolerant reading met the end of the file; all after is silent
    bool otherSampleMark;   // a sample header's reserved byte is neither 0 nor the 4-bit packing's
    bool longPatternHeader; // a pattern header's length field says more than its fields take
};

// ---- The song header (xm_header.cpp) ----
// Everything before the first pattern or instrument: signature, names, counts, flags, the order
// table; allocates the pattern and instrument tables. `storedPatterns` is the number the file
// stores. `headerAccepted` tells whether the song header was sound, so that a failure after it
// may be worth a second reading.
bool ReadSongHeader(XmReading& x, Module* module, int32_t& storedPatterns, uint16_t& instruments,
                    bool& headerAccepted, LoadError* error);
// The versions stored in the early layout (every instrument header first, then the patterns,
// then all sample data); 1.02 also has the short pattern header.
bool EarlyLayout(uint16_t version);

// ---- Patterns (xm_patterns.cpp) ----
// Reads the stored patterns and gives the ones the order list names beyond them 64 empty rows.
bool ReadPatterns(XmReading& x, Module* module, int32_t storedPatterns, LoadError* error);

// ---- Instruments and sample headers (xm_instruments.cpp) ----
// Reads every instrument's headers, and with `withData` (the 1.04 layout) each one's sample data
// right after them. Every instrument from the first one the file ends in (or from the first one
// when the file has already ended) stays silent.
bool ReadInstruments(XmReading& x, Module* module, bool withData, LoadError* error);
// Reads the data of one instrument's samples (their headers read before).
bool ReadInstrumentSamples(XmReading& x, Module* module, int index, LoadError* error);

// ---- Sample data (sample_decoding.cpp) ----
// Reads (or asks the sample loader for) one sample's data and leaves `length` + 8 frames of
// plain 16-bit audio in `data`. Indices are from 0.
bool ReadSampleData(XmReading& x, Module* module, Sample& sample, int instrumentIndex,
                    int sampleIndex, LoadError* error);
// Frees a sample's frames and its stereo record (the record itself is its owner's to free).
void FreeSampleData(const Sample* sample);

// ---- Recovery of cut files (recovery.cpp) ----
// The tolerant reading of a sample whose data the file holds only in part (`held` bytes).
void CutToTheFile(Sample& sample, int64_t held);
// Frees the samples an instrument has read so far and leaves it silent, keeping its name.
void SilenceInstrument(Module* module, Instrument& instrument);
// Leaves the instruments from `first` on silent (every slot the shared silent sample).
void SilenceInstrumentsFrom(Module* module, int first);

// ---- The tracker that saved the file (tracker_detection.cpp) ----
// Called with the reader just past the last sample's data; see Module::exclusiveLoops.
bool SavedByEarlyOtherTracker(XmReading& x, const Module* module);

// ---- Freeing (song_memory.cpp) ----
// Frees everything a load allocated and leaves the song's tables empty.
void FreeSongData(Module* module);
void FreeSong(Module* module);

// ---- The second reading (xm_second_reading.cpp) ----
// Reads the file once more for the standard rules and keeps in `module->standardReading` only
// what comes out different from the first reading; nothing when that reading fails.
void ReadForTheStandardRules(Module* module, ModuleStream* stream);
// Frees what a second reading owns (what it shares stays the song's).
void FreeSecondReading(Module* song, Module* reading);

// ---- The whole file (xm_loader.cpp) ----
// A reading of the given kind at the start of `stream`.
void StartXmReading(XmReading& x, ModuleStream* stream, Reading reading);
// Reads the whole file in one reading into a new, empty song.
bool ParseXmFile(XmReading& x, Module* module, bool& headerAccepted, LoadError* error);
