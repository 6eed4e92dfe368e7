// api.cpp: the public C interface (include/neatxm.h): the version, errors, loading and the song's
// facts and pattern data. Loading and song queries on any thread. Players are in api_player.cpp,
// their position, seeking, channels and events in api_position.cpp.
#include "neatxm.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "music/api_internal.h"
#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"
#include "music/song_handle.h"

namespace {

constexpr int32_t LENGTH_RATE = 44100;
constexpr int64_t LENGTH_LIMIT_FRAMES = int64_t{20} * 60 * LENGTH_RATE;

#define NEATXM_TEXT_2(x) #x
#define NEATXM_TEXT(x) NEATXM_TEXT_2(x)

neatxm_error ErrorOfLoad(int32_t code) {
    switch (code) {
    case LOAD_OK: return NEATXM_OK;
    case LOAD_CANNOT_OPEN: return NEATXM_ERROR_CANNOT_OPEN;
    case LOAD_NOT_XM: return NEATXM_ERROR_NOT_MODULE;
    case LOAD_TRUNCATED: return NEATXM_ERROR_TRUNCATED;
    case LOAD_UNSUPPORTED: return NEATXM_ERROR_UNSUPPORTED;
    case LOAD_OUT_OF_MEMORY: return NEATXM_ERROR_OUT_OF_MEMORY;
    default: return NEATXM_ERROR_INVALID;
    }
}

neatxm_error Refuse(neatxm_error code, char* message, size_t messageSize, const char* text) {
    api::Tell(message, messageSize, text);
    return code;
}

// The caller's stream as the loader's file operations. The context is this record: the
// caller's operations, and the handle it opened itself if it gave one (then `open` hands that
// out and `close` leaves it to the caller).
struct StreamContext {
    const neatxm_stream* stream;
    void* givenHandle;
    bool readFailed; // a read reported an error: the load's failure is the stream's
};
StreamContext& Context(void* context) {
    return *static_cast<StreamContext*>(context);
}

void* StreamOpen(void* context, const char* name) {
    const StreamContext& c = Context(context);
    if (c.givenHandle) return c.givenHandle;
    return c.stream->open ? c.stream->open(c.stream->user, name) : nullptr;
}
int StreamClose(void* context, void* handle) {
    const StreamContext& c = Context(context);
    if (!c.givenHandle && c.stream->close) c.stream->close(c.stream->user, handle);
    return 0;
}
// The loader reads at most a sample's bytes at once (well below 2 GiB), and a failed read is a
// short one to it: it then reports the file as cut short.
int32_t StreamReadBytes(void* context, void* buffer, int32_t count, void* handle) {
    StreamContext& c = Context(context);
    const int64_t got = c.stream->read(c.stream->user, handle, buffer, count);
    if (got < 0) c.readFailed = true;
    return got < 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(got, count));
}
int StreamSeekTo(void* context, void* handle, int32_t offset, int origin) {
    const StreamContext& c = Context(context);
    return c.stream->seek(c.stream->user, handle, offset, origin);
}
// Positions past 2 GiB cannot be told to the loader, whose files are far smaller; it reads
// such a position as an error (a negative one).
int32_t StreamTellAt(void* context, void* handle) {
    const StreamContext& c = Context(context);
    const int64_t at = c.stream->tell(c.stream->user, handle);
    return at < 0 || at > INT32_MAX ? -1 : static_cast<int32_t>(at);
}

// Wraps a loaded module; the length to the first wrap is found once, here.
neatxm_error Wrap(Module* module, const LoadError& loaded, neatxm_song** out, char* message,
                  size_t messageSize) {
    if (!module) return Refuse(ErrorOfLoad(loaded.code), message, messageSize, loaded.message);
    auto* song = new (std::nothrow) neatxm_song{module, -1.0};
    if (!song) {
        FreeModule(module);
        return Refuse(NEATXM_ERROR_OUT_OF_MEMORY, message, messageSize, "out of memory");
    }
    // Under the library's default rules: the length a player made with them plays.
    const int64_t frames =
        FramesToFirstWrap(module, LENGTH_RATE, LENGTH_LIMIT_FRAMES, PlayerRules::Standard);
    song->lengthSeconds = frames >= 0 ? static_cast<double>(frames) / LENGTH_RATE : -1.0;
    api::Tell(message, messageSize, "");
    *out = song;
    return NEATXM_OK;
}

const Instrument* InstrumentAt(const neatxm_song* song, int32_t instrument) {
    if (!song || instrument < 0 || instrument >= song->module->instrumentCount ||
        !song->module->instruments)
        return nullptr;
    return &song->module->instruments[instrument];
}

// Pattern data as the standard rules play it: the song's own reading, unless it had to be
// read a second way for them (pattern headers longer than their fields).
const Module* PatternReading(const neatxm_song* song) {
    return song->module->standardReading ? song->module->standardReading : song->module;
}

} // namespace

// The loader reads XM files only so far; this is where its record of the format is read once
// it reads others.
neatxm_format api::FormatOf(const Module* module) {
    return module->format == ModuleFormat::Mod ? NEATXM_FORMAT_MOD : NEATXM_FORMAT_XM;
}

void api::Tell(char* message, size_t messageSize, const char* text) {
    if (message && messageSize > 0) std::snprintf(message, messageSize, "%s", text);
}

extern "C" {

uint32_t neatxm_version(void) {
    return NEATXM_VERSION;
}

const char* neatxm_version_text(void) {
    return NEATXM_TEXT(NEATXM_VERSION_MAJOR) "." NEATXM_TEXT(NEATXM_VERSION_MINOR) "." NEATXM_TEXT(
        NEATXM_VERSION_PATCH);
}

const char* neatxm_error_text(neatxm_error code) {
    switch (code) {
    case NEATXM_OK: return "no error";
    case NEATXM_ERROR_CANNOT_OPEN: return "the file could not be opened or read";
    case NEATXM_ERROR_NOT_MODULE: return "the file is not a module";
    case NEATXM_ERROR_TRUNCATED: return "the file is cut short";
    case NEATXM_ERROR_UNSUPPORTED: return "the song needs more than the player handles";
    case NEATXM_ERROR_OUT_OF_MEMORY: return "out of memory";
    case NEATXM_ERROR_INVALID: return "the file holds impossible values";
    case NEATXM_ERROR_ARGUMENT: return "a missing argument or an unknown choice";
    case NEATXM_ERROR_IN_USE: return "the song is still played by a player";
    case NEATXM_ERROR_RULES_MISMATCH: return "the rule set does not play this song's format";
    case NEATXM_ERROR_RANGE: return "a value outside its range";
    case NEATXM_ERROR_RECORD_SIZE: return "a record's size field is too small";
    }
    return "unknown error";
}

neatxm_error neatxm_song_load_file(const char* path, neatxm_song** song, char* message,
                                   size_t messageSize) {
    if (song) *song = nullptr;
    if (!path || !song)
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      !path ? "no file name given" : "no place given for the song");
    LoadError loaded{};
    return Wrap(LoadModule(&standardFileCallbacks, path, nullptr, &loaded), loaded, song, message,
                messageSize);
}

neatxm_error neatxm_song_load_memory(const void* data, size_t size, neatxm_song** song,
                                     char* message, size_t messageSize) {
    if (song) *song = nullptr;
    if ((!data && size > 0) || !song)
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      !song ? "no place given for the song" : "no data given");
    LoadError loaded{};
    return Wrap(LoadModuleFromMemory(data, size, nullptr, &loaded), loaded, song, message,
                messageSize);
}

neatxm_error neatxm_song_load_stream(const neatxm_stream* stream, const char* name, void* handle,
                                     neatxm_song** song, char* message, size_t messageSize) {
    if (song) *song = nullptr;
    if (!stream || !song)
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      !song ? "no place given for the song" : "no stream given");
    if (!NEATXM_RECORD_HOLDS(stream, neatxm_stream, tell))
        return Refuse(NEATXM_ERROR_RECORD_SIZE, message, messageSize,
                      "the stream's size field is smaller than its operations");
    if (!stream->read || !stream->seek || !stream->tell)
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      "a stream needs its read, seek and tell operations");
    if (!handle && (!name || !stream->open))
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      "a stream without a handle needs a name and an open operation");
    StreamContext context{stream, handle, false};
    FileCallbacks files{};
    SetFileCallbacks(&files, StreamOpen, StreamClose, StreamReadBytes, StreamSeekTo, StreamTellAt,
                     &context);
    LoadError loaded{};
    const char* shown = name ? name : "the stream";
    Module* module = LoadModule(&files, shown, nullptr, &loaded);
    if (!module && context.readFailed) {
        loaded.code = LOAD_CANNOT_OPEN;
        std::snprintf(loaded.message, sizeof loaded.message,
                      "%s: the stream's read operation reported an error", shown);
    }
    return Wrap(module, loaded, song, message, messageSize);
}

neatxm_error neatxm_song_free(neatxm_song* song) {
    if (!song) return NEATXM_ERROR_ARGUMENT;
    if (!FreeModule(song->module)) return NEATXM_ERROR_IN_USE;
    delete song;
    return NEATXM_OK;
}

neatxm_error neatxm_song_get_info(const neatxm_song* song, neatxm_song_info* info) {
    if (!song || !info) return NEATXM_ERROR_ARGUMENT;
    if (!api::OutputUsable(info)) return NEATXM_ERROR_RECORD_SIZE;
    const Module* m = song->module;
    neatxm_song_info full{};
    full.size = sizeof full;
    full.format = api::FormatOf(m);
    full.channels = m->channelCount;
    full.orders = m->songLength;
    full.restart_position = m->restartPosition;
    full.patterns = m->patternCount;
    full.instruments = m->instrumentCount;
    full.samples = m->sampleCount;
    full.linear_frequencies = (m->flags & MODULE_LINEAR_FREQUENCIES) ? 1 : 0;
    full.default_speed = m->defaultSpeed;
    full.default_bpm = m->defaultBpm;
    full.version = m->version;
    full.length_seconds = song->lengthSeconds;
    api::CopyOut(full, info);
    return NEATXM_OK;
}

const char* neatxm_song_title(const neatxm_song* song) {
    return song ? song->module->title : "";
}

const char* neatxm_song_tracker(const neatxm_song* song) {
    return song ? song->module->trackerName : "";
}

const char* neatxm_song_instrument_name(const neatxm_song* song, int32_t instrument) {
    const Instrument* found = InstrumentAt(song, instrument);
    return found ? found->name : "";
}

int32_t neatxm_song_instrument_samples(const neatxm_song* song, int32_t instrument) {
    const Instrument* found = InstrumentAt(song, instrument);
    return found ? found->sampleCount : 0;
}

const char* neatxm_song_sample_name(const neatxm_song* song, int32_t instrument, int32_t sample) {
    const Instrument* found = InstrumentAt(song, instrument);
    if (!found || sample < 0 || sample >= found->sampleCount) return "";
    return found->samples[sample]->name;
}

int32_t neatxm_song_order(const neatxm_song* song, int32_t position) {
    if (!song || position < 0 || position >= song->module->songLength) return -1;
    return song->module->orders[position];
}

int32_t neatxm_song_pattern_rows(const neatxm_song* song, int32_t pattern) {
    if (!song || pattern < 0 || pattern >= PatternReading(song)->patternCount) return 0;
    return PatternReading(song)->patterns[pattern].rowCount;
}

neatxm_error neatxm_song_get_row(const neatxm_song* song, int32_t pattern, int32_t row,
                                 neatxm_cell* cells, int32_t capacity) {
    if (!song || (!cells && capacity > 0) || capacity < 0) return NEATXM_ERROR_ARGUMENT;
    const Module* m = PatternReading(song);
    if (pattern < 0 || pattern >= m->patternCount || row < 0 ||
        row >= m->patterns[pattern].rowCount)
        return NEATXM_ERROR_RANGE;
    const PatternCell* from = m->patterns[pattern].cells;
    const int32_t channels = std::min<int32_t>(capacity, m->channelCount);
    for (int32_t c = 0; c < channels; ++c) {
        const PatternCell& cell =
            from ? from[static_cast<size_t>(row) * m->channelCount + c] : PatternCell{};
        // The player keeps key-off as 255; the file's number for it is 97.
        cells[c] =
            neatxm_cell{static_cast<uint8_t>(cell.note == 255 ? NEATXM_NOTE_KEY_OFF : cell.note),
                        cell.instrument, cell.volumeColumn, cell.effect, cell.effectParameter};
    }
    return NEATXM_OK;
}

} // extern "C"

const Module* SongModule(const neatxm_song* song) {
    return song ? song->module : nullptr;
}
