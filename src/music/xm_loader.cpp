// xm_loader.cpp: reads an XM file through a module stream into a Module (patterns unpacked,
// samples widened to 16 bits and delta-decoded, loops in frames): runs the stages of
// xm_stages.h in the order of the file's layout, once or twice. Any thread; one load touches
// only its own stream and song.
//
// Every read and seek is checked and every size taken from the file is bounded by the bytes
// the file still holds, so that a damaged file fails the load cleanly (null, nothing left
// allocated) instead of reading or writing outside a buffer or asking for gigabytes. Each
// failure says what is wrong with the file in a LoadError. Messages number instruments and
// samples from 1 and patterns from 0, as a tracker's editor shows them, so that a musician can
// find the place.
//
// Two readings. A file is first read the way the demo has always read it: a pattern header is
// taken as 9 bytes (8 in format 1.02) whatever its length field says, a pattern's cells are
// decoded by count and the next pattern starts where they end, and every header lies in the
// file. Every file that reading accepts loads exactly as it always has. When it refuses a file
// whose song header is sound, the file is read once more the way the mature players read it
// (Reading::Tolerant), and only when that fails too is the file refused, with the second
// reading's reason. A sample loader may then be asked for a sample twice. A file the strict
// reading accepts although a pattern header says it is longer than its fields is read the
// tolerant way too, for the standard rules (xm_second_reading.cpp).
//
// Layouts: versions 1.02 and 1.03 store every instrument header (with its sample headers) first,
// then the patterns, then the data of all samples in instrument order; every other version is
// read as 1.04 (patterns, then each instrument followed by its samples' data).
#include <new>

#include "music/file_access.h"
#include <cstring>

#include "music/load_failure.h"
#include "music/mod_stages.h"
#include "music/xm_stages.h"

void StartXmReading(XmReading& x, ModuleStream* stream, Reading reading) {
    x = XmReading{};
    StartReading(x.bytes, stream);
    x.reading = reading;
}

bool ParseXmFile(XmReading& x, Module* module, bool& headerAccepted, LoadError* error) {
    int32_t storedPatterns = 0;
    uint16_t instruments = 0;
    if (!ReadSongHeader(x, module, storedPatterns, instruments, headerAccepted, error))
        return false;
    // ==== The early layout ====
    if (EarlyLayout(module->version)) {
        if (!ReadInstruments(x, module, false, error)) return false;
        if (!ReadPatterns(x, module, storedPatterns, error)) return false;
        for (int i = 0; i < module->instrumentCount; ++i) {
            if (!ReadInstrumentSamples(x, module, i, error)) return false;
        }
        return true;
    }
    // ==== The 1.04 layout ====
    if (!ReadPatterns(x, module, storedPatterns, error)) return false;
    if (!ReadInstruments(x, module, true, error)) return false;
    module->exclusiveLoops = !x.fileEnded && instruments == module->instrumentCount &&
                             SavedByEarlyOtherTracker(x, module);
    return true;
}

namespace {

// Parses a new song from `stream` and frees it again when that fails.
Module* LoadFromStream(ModuleStream* stream, SampleLoader sampleLoader, LoadError* error) {
    auto* module = new (std::nothrow) Module();
    if (!module) {
        Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the song");
        return nullptr;
    }
    module->sampleLoader = sampleLoader;
    if (ParseSong(module, stream, error)) return module;
    FreeSong(module);
    return nullptr;
}

} // namespace

int ParseXm(Module* module, ModuleStream* stream, LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!module || !stream) {
        return Fail(error, LOAD_CANNOT_OPEN, "nothing to read: no song or no stream was given");
    }
    XmReading strict;
    StartXmReading(strict, stream, Reading::Strict);
    bool headerAccepted = false;
    if (ParseXmFile(strict, module, headerAccepted, error)) {
        if (strict.longPatternHeader) ReadForTheStandardRules(module, stream);
        return 1;
    }
    // Running out of memory is not the file's fault, and a song header the strict reading
    // refuses is read the same way by the tolerant one.
    if (!headerAccepted || error->code == LOAD_OUT_OF_MEMORY) return 0;
    FreeSongData(module);
    XmReading tolerant;
    StartXmReading(tolerant, stream, Reading::Tolerant);
    if (ParseXmFile(tolerant, module, headerAccepted, error)) {
        Succeed(error);
        return 1;
    }
    return 0;
}

int ParseSong(Module* module, ModuleStream* stream, LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!module || !stream) {
        return Fail(error, LOAD_CANNOT_OPEN, "nothing to read: no song or no stream was given");
    }
    // The format is told by the file's first bytes: the XM signature, else a MOD's header (its
    // tag at 1080 or 1464, or a 15-sample header that holds together).
    ByteReader r;
    StartReading(r, stream);
    uint8_t head[1468] = {};
    const int64_t held = ReadUpTo(r, head, sizeof head);
    if (held >= 17 && std::memcmp(head, "Extended Module: ", 17) == 0)
        return ParseXm(module, stream, error);
    if (LooksLikeMod(head, held)) return ParseMod(module, stream, error);
    if (const char* kind = RefusedKind(head, held)) {
        return Fail(error, LOAD_UNSUPPORTED, "%s", kind);
    }
    // One packer keeps its mark at the file's end.
    const int64_t size = held + BytesLeft(r, int64_t{1} << 31);
    uint8_t tail[4];
    if (size >= 8 && SeekTo(r, size - 4) && ReadBytes(r, tail, 4) &&
        (std::memcmp(tail, "Ice!", 4) == 0 || std::memcmp(tail, "ICE!", 4) == 0)) {
        return Fail(error, LOAD_UNSUPPORTED,
                    "a module packed by an Atari file packer (Ice); unpack it first");
    }
    return Fail(error, LOAD_NOT_XM,
                "neither an extended module (the file does not start with \"Extended Module: \") "
                "nor a MOD file");
}

Module* LoadModule(const FileCallbacks* files, const char* name, SampleLoader sampleLoader,
                   LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!FileCallbacksComplete(files)) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open %s: no complete set of file operations",
             name ? name : "a song");
        return nullptr;
    }
    if (!name) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open a song without a name");
        return nullptr;
    }
    ModuleStream* stream = OpenModuleStream(files, name);
    if (!stream) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open %s", name);
        return nullptr;
    }
    Module* module = LoadFromStream(stream, sampleLoader, error);
    CloseModuleStream(stream);
    return module;
}

Module* LoadModuleFromMemory(const void* data, uint64_t size, SampleLoader sampleLoader,
                             LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!data && size > 0) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot read a song from a null buffer");
        return nullptr;
    }
    // Everything the song keeps is copied out of the buffer, so reading it in place is enough.
    MemoryFile file{static_cast<const uint8_t*>(data), size, 0};
    ModuleStream stream = MemoryStream(&file);
    return LoadFromStream(&stream, sampleLoader, error);
}
