// module.h: the loaded song (Module, Pattern, PatternCell, Instrument, Sample) and the XM loader's
// entry points. The records are plain; the loader fills them once and nothing changes them
// afterwards, so that any number of players (player.h), on any threads, can play one song.
#pragma once

#include <atomic>
#include <cstdint>

struct FileCallbacks;
struct Module;
struct ModuleStream;

// Places a sample's plain (not delta-coded) values of the stated width at the start of `buffer`.
using SampleLoader = int (*)(void* buffer, uint32_t storedBytes, int bits, int instrumentIndex,
                             int sampleIndex);
struct PatternCell {
    uint8_t note;         // 0 none, 1-96 notes, 255 key-off
    uint8_t instrument;   // 0 none, 1-128
    uint8_t volumeColumn; // raw volume-column byte
    uint8_t effect;
    uint8_t effectParameter;
};
static_assert(sizeof(PatternCell) == 5);

struct Pattern {
    int32_t rowCount;
    PatternCell* cells; // rowCount x channelCount, row-major
};

struct Sample {
    int16_t* data;       // length + 8 frames; null when length is 0
    uint32_t length;     // frames
    uint32_t loopStart;  // first frame of the loop (0 when not looping)
    uint32_t loopLength; // frames in the loop (length when not looping)
    uint8_t volume;      // 0-64
    int8_t finetune;
    int32_t panning;  // 0-255
    uint8_t bits;     // 16 for every loaded sample
    uint8_t loopKind; // 1 no loop, 2 forward, 4 ping-pong
    int8_t relativeNote;
    int32_t id;    // 1-based number among the song's loaded samples; 0 for the shared silent one
    char name[23]; // as stored, blanks and all, always terminated
    // A stereo sample (type bit 0x20) stores its left channel's frames, then its right's; the
    // fields above keep them as one run. `stereo` is the same sample as the standard rules play
    // it: each channel with `length` frames of its own (its `data` the left's, `right` the
    // right's), the loop halved too. Null for mono samples and inside the stereo record.
    const Sample* stereo;
    const int16_t* right; // the right channel's frames (length + 8), null but in a stereo record
    uint8_t channels;     // 2 for a stereo sample, 1 otherwise
};

enum LoopKind : uint8_t { LOOP_NONE = 1, LOOP_FORWARD = 2, LOOP_PINGPONG = 4 };

struct EnvelopePoint {
    uint16_t x; // ticks
    uint16_t y; // value
};

// Samples an instrument may hold: the note map's bytes address samples 0-31.
constexpr int MAX_INSTRUMENT_SAMPLES = 32;

struct Instrument {
    int32_t sampleCount;                           // 0-32
    const Sample* samples[MAX_INSTRUMENT_SAMPLES]; // slots from sampleCount on: &silentSample
    uint8_t sampleMap[96];
    EnvelopePoint volumeEnvelope[12];
    EnvelopePoint panningEnvelope[12];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustain;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeEnvelopeFlags; // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningEnvelopeFlags;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout; // file value x 2
    char name[23];    // as stored, always terminated
};

enum EnvelopeFlag : uint8_t { ENVELOPE_ON = 1, ENVELOPE_SUSTAIN = 2, ENVELOPE_LOOP = 4 };

// The file format a song was read from. Every loader entry point tells the formats apart by the
// file's content, never by its name.
enum class ModuleFormat : uint8_t { Xm = 0, Mod = 1 };
// Which relative of the MOD format a MOD file is, as its tag (or its layout) tells; the rules
// that play it apply the small differences of the tracker that wrote it. None for XM files.
enum class ModVariant : uint8_t {
    None = 0,
    ProTracker = 1,     // M.K., M!K!, M&K!, and the 4-channel tags of trackers that follow it
    Startrekker = 2,    // FLT4, FLT8, EXO4, EXO8
    Octalyser = 3,      // CD61, CD81
    Multichannel = 4,   // xCHN, xxCH, xxCN, TDZx, OKTA, OCTA
    FifteenSamples = 5, // the original 15-sample layout, without a tag
    TrackLayout = 6,    // MTN / IT10: patterns made of tracks shared between order positions
    Fest = 7,           // FEST
    Fa0x = 8,           // FA04, FA06, FA08 (four bytes of their own after the tag)
    Noisetracker = 9,   // M.K. files whose song reads every F command as a speed (no tempo)
};

struct Module {
    Pattern* patterns;
    Instrument* instruments;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    uint16_t flags; // bit 0: linear frequency table
    int16_t defaultSpeed;
    int16_t defaultBpm;
    uint8_t orders[256];
    uint8_t initialGlobalVolume;
    SampleLoader sampleLoader;
    int32_t sampleCount; // samples with a record of their own (ids 1 to sampleCount)
    // What the file says about itself: names as stored, always terminated.
    char title[21];
    char trackerName[21];
    uint16_t version; // format version, e.g. 0x0104 (0 for MOD files)
    ModuleFormat format = ModuleFormat::Xm;
    ModVariant modVariant = ModVariant::None;
    // Pattern loops as the tracker that wrote the file plays them (the standard rules only): one
    // loop at a time across all tracks, and a loop's jump overrides B and D on its row. Set by
    // the loader for files another tracker saved under the original tracker's signature.
    bool exclusiveLoops;
    // A tempo takes effect from the tick after the one that reads it (ProTracker's rules): the
    // Amiga's timer takes a new count only when the current one runs out. Set by the loader for
    // four-track files the Amiga tracker saved; other machines' trackers change it at once.
    bool tempoFromNextTick = false;
    // The same file as the mature players read it, where that differs from the reading above
    // (pattern headers longer than their fields); the standard rules play it. Its tables point
    // at this song's wherever the two readings agree (patterns, the instrument table, single
    // samples) and are its own only where they differ. Owned; usually null.
    Module* standardReading;
    // Players created for this song and not yet destroyed; a song in use cannot be freed.
    mutable std::atomic<int32_t> playerCount{0};
};

enum ModuleFlag : uint16_t { MODULE_LINEAR_FREQUENCIES = 1 };

// The shared sample with every field zero, standing for every missing sample.
extern const Sample silentSample;

// Why a load failed: a code for programs and a sentence for people ("instrument 3: sample 2 runs
// past the end of the file").
enum LoadErrorCode : int32_t {
    LOAD_OK = 0,
    LOAD_CANNOT_OPEN = 1,   // the name could not be opened, or no file operations were given
    LOAD_NOT_XM = 2,        // neither an extended module nor a MOD file
    LOAD_TRUNCATED = 3,     // the file ends before the data its headers announce
    LOAD_UNSUPPORTED = 4,   // beyond what the player handles (channels, rows, samples)
    LOAD_OUT_OF_MEMORY = 5, // an allocation failed
    LOAD_INVALID = 6,       // contradicting or impossible header values
};
struct LoadError {
    int32_t code;
    char message[200];
};

// Loads an XM or MOD file (told apart by content) through the given file operations; null when it
// cannot be opened or parsed (nothing is left allocated then), with the reason in `error` when that
// is not null.
Module* LoadModule(const FileCallbacks* files, const char* name, SampleLoader sampleLoader,
                   LoadError* error = nullptr);
// Loads an XM or MOD file held in memory (the bytes are copied where needed; the buffer may go
// after).
Module* LoadModuleFromMemory(const void* data, uint64_t size, SampleLoader sampleLoader,
                             LoadError* error = nullptr);
// Fills a new Module from an open stream holding an XM or a MOD file (told apart by content); 1
// on success, 0 on failure (reason in `error`).
int ParseSong(Module* module, ModuleStream* stream, LoadError* error = nullptr);
// The same for an XM file alone.
int ParseXm(Module* module, ModuleStream* stream, LoadError* error = nullptr);
// Frees a song. 1; 0 for null, and 0 (freeing nothing) while a player still plays it.
int FreeModule(Module* module);
