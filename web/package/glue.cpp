// glue.cpp: the package's one door into the library. The script side (core.js) calls only the
// nx_* functions below; every call into the library is made here, so a change of the library's
// interface is a change of this file alone. Numbers cross as 32-bit integers and doubles; a
// result larger than one number is written into a caller's buffer in the wasm memory.
//
// Two versions of the interface are served: 2.x (its controls, seeking, events and rows are
// public calls) and, below it, 1.0, where the glue reaches the player's records for what 1.0
// has no call for. Both give the script side the same functions.
#include "neatxm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if NEATXM_VERSION_MAJOR >= 2

namespace {

struct LastError {
    int32_t code;
    char message[200];
} lastError{};

// Events as the script reads them: ten 32-bit numbers each.
struct EventRecord {
    int32_t frameLow, frameHigh; // frame from the song's start
    int32_t kind;                // 0 note started, 1 row changed, 2 order changed
    int32_t channel, note, instrument, sample, order, pattern, row;
};
static_assert(sizeof(EventRecord) == 40);

// A player as the package sees it: the library's player, the mutes and solos it was given (a
// seek back in time makes the player anew, with the same configuration and switches) and the
// seek still under way.
struct WebPlayer {
    const neatxm_song* song;
    neatxm_player* player;
    uint32_t muted, solo;
    int64_t seekTarget; // frame a seek by time is playing towards; -1 when none
    // Where a seek to an order and row went, until the next frame is handed out (the library
    // tells where it stands at the last frame handed out, which lies before the seek).
    int32_t pendingOrder, pendingRow; // -1 when none
};

int32_t Keep(neatxm_error code, const char* message = nullptr) {
    lastError.code = code;
    std::snprintf(lastError.message, sizeof lastError.message, "%s",
                  message ? message : neatxm_error_text(code));
    return code;
}

int64_t FramesPlayed(const WebPlayer* p) {
    neatxm_position position = NEATXM_POSITION_INIT;
    neatxm_player_get_position(p->player, &position);
    return position.frame;
}

void DropEvents(WebPlayer* p) {
    static neatxm_event scrap[64];
    int32_t count = 0;
    do neatxm_player_take_events(p->player, scrap, sizeof scrap[0], 64, &count);
    while (count == 64);
}

// Makes the library's player anew at the song's start with the configuration and switches of
// the old one.
bool Remake(WebPlayer* p, const neatxm_player_config& config) {
    neatxm_player* fresh = nullptr;
    const neatxm_error code =
        neatxm_player_create(p->song, &config, &fresh, lastError.message, sizeof lastError.message);
    if (code != NEATXM_OK) {
        lastError.code = code;
        return false;
    }
    for (int32_t c = 0; c < NEATXM_MAX_CHANNELS; ++c) {
        if (p->muted & (uint32_t{1} << c)) neatxm_player_set_mute(fresh, c, 1);
        if (p->solo & (uint32_t{1} << c)) neatxm_player_set_solo(fresh, c, 1);
    }
    neatxm_player_free(p->player);
    p->player = fresh;
    p->pendingOrder = -1;
    return true;
}

} // namespace

extern "C" {

void* nx_alloc(int32_t bytes) {
    return std::malloc(bytes > 0 ? static_cast<size_t>(bytes) : 1);
}
void nx_free(void* block) {
    std::free(block);
}

int32_t nx_error_code() {
    return lastError.code;
}
const char* nx_error_message() {
    return lastError.message;
}

// ---- Songs ----

neatxm_song* nx_song_load(const void* data, int32_t size) {
    neatxm_song* song = nullptr;
    lastError.code = neatxm_song_load_memory(data, static_cast<size_t>(size), &song,
                                             lastError.message, sizeof lastError.message);
    return song;
}
int32_t nx_song_free(neatxm_song* song) {
    return neatxm_song_free(song);
}

// Facts into out[0..10]: channels, orders, restart, patterns, instruments, samples, linear
// frequencies, speed, bpm, version, format (0 XM, 1 MOD). The length in seconds is the result
// (-1: it does not end).
double nx_song_info(const neatxm_song* song, int32_t* out) {
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    if (neatxm_song_get_info(song, &info) != NEATXM_OK) return -1;
    const int32_t values[11] = {info.channels,
                                info.orders,
                                info.restart_position,
                                info.patterns,
                                info.instruments,
                                info.samples,
                                info.linear_frequencies,
                                info.default_speed,
                                info.default_bpm,
                                info.version,
                                info.format};
    std::memcpy(out, values, sizeof values);
    return info.length_seconds;
}
const char* nx_song_title(const neatxm_song* song) {
    return neatxm_song_title(song);
}
const char* nx_song_tracker(const neatxm_song* song) {
    return neatxm_song_tracker(song);
}
const char* nx_instrument_name(const neatxm_song* song, int32_t i) {
    return neatxm_song_instrument_name(song, i);
}
int32_t nx_instrument_samples(const neatxm_song* song, int32_t i) {
    return neatxm_song_instrument_samples(song, i);
}
const char* nx_sample_name(const neatxm_song* song, int32_t i, int32_t s) {
    return neatxm_song_sample_name(song, i, s);
}
int32_t nx_song_order(const neatxm_song* song, int32_t position) {
    return neatxm_song_order(song, position);
}
// Rows of a pattern; -1 out of range.
int32_t nx_pattern_rows(const neatxm_song* song, int32_t pattern) {
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    if (neatxm_song_get_info(song, &info) != NEATXM_OK || pattern < 0 || pattern >= info.patterns)
        return -1;
    return neatxm_song_pattern_rows(song, pattern);
}
// The pattern's cells, row by row, five bytes each (note, instrument, volume column, effect,
// parameter) into `out`, which holds rows x channels x 5 bytes. Returns the bytes written.
int32_t nx_pattern_cells(const neatxm_song* song, int32_t pattern, uint8_t* out) {
    static_assert(sizeof(neatxm_cell) == 5);
    const int32_t rows = nx_pattern_rows(song, pattern);
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    if (rows < 0 || !out || neatxm_song_get_info(song, &info) != NEATXM_OK) return 0;
    auto* cells = reinterpret_cast<neatxm_cell*>(out);
    for (int32_t r = 0; r < rows; ++r)
        neatxm_song_get_row(song, pattern, r, cells + r * info.channels, info.channels);
    return rows * info.channels * 5;
}

// ---- Players ----

WebPlayer* nx_player_create(neatxm_song* song, int32_t rate, int32_t rules, int32_t loop) {
    auto* p = static_cast<WebPlayer*>(std::calloc(1, sizeof(WebPlayer)));
    if (!p) return Keep(NEATXM_ERROR_OUT_OF_MEMORY), nullptr;
    p->song = song;
    p->seekTarget = -1;
    p->pendingOrder = -1;
    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.rate = rate;
    config.rules = rules;
    config.repeat = loop ? 0 : 1; // not looping: the song plays once
    if (!Remake(p, config)) {
        std::free(p);
        return nullptr;
    }
    return p;
}
void nx_player_destroy(WebPlayer* p) {
    if (!p) return;
    neatxm_player_free(p->player);
    std::free(p);
}

// Interleaved stereo float frames (1.0 = full scale, the 16-bit output's 32768); returns the
// frames written. While a seek is under way, nothing: call nx_player_seek_step until it is done.
int32_t nx_player_render(WebPlayer* p, float* out, int32_t frames) {
    if (!p || !out || frames <= 0 || p->seekTarget >= 0) return 0;
    p->pendingOrder = -1;
    return static_cast<int32_t>(
        neatxm_player_render_float(p->player, out, static_cast<size_t>(frames)));
}
// The same as 16-bit frames, rounded and clipped as the library does for its own output.
int32_t nx_player_render_s16(WebPlayer* p, int16_t* out, int32_t frames) {
    if (!p || !out || frames <= 0 || p->seekTarget >= 0) return 0;
    p->pendingOrder = -1;
    return static_cast<int32_t>(
        neatxm_player_render_s16(p->player, out, static_cast<size_t>(frames)));
}

int32_t nx_player_set_loop(WebPlayer* p, int32_t loop) {
    return p ? neatxm_player_set_repeat(p->player, loop ? 0 : 1) : NEATXM_ERROR_ARGUMENT;
}

// Controls (the script side checks the ranges against the same limits).
void nx_player_set_interpolation(WebPlayer* p, int32_t mode) {
    neatxm_player_set_interpolation(p->player, static_cast<neatxm_interpolation>(mode));
}
void nx_player_set_separation(WebPlayer* p, int32_t percent) {
    neatxm_player_set_separation(p->player, percent);
}
void nx_player_set_gain(WebPlayer* p, double decibels) {
    neatxm_player_set_gain(p->player, static_cast<float>(decibels));
}
void nx_player_set_mute(WebPlayer* p, int32_t channel, int32_t on) {
    if (neatxm_player_set_mute(p->player, channel, on) != NEATXM_OK) return;
    const uint32_t bit = uint32_t{1} << channel;
    p->muted = on ? p->muted | bit : p->muted & ~bit;
}
void nx_player_set_solo(WebPlayer* p, int32_t channel, int32_t on) {
    if (neatxm_player_set_solo(p->player, channel, on) != NEATXM_OK) return;
    const uint32_t bit = uint32_t{1} << channel;
    p->solo = on ? p->solo | bit : p->solo & ~bit;
}
int32_t nx_player_mute_mask(const WebPlayer* p) {
    return static_cast<int32_t>(p->muted);
}
int32_t nx_player_solo_mask(const WebPlayer* p) {
    return static_cast<int32_t>(p->solo);
}

// Seeking by time is exact: the frames after it are those a straight render gives from that
// frame on. The player goes back to the start when the target lies behind it, then plays
// forward without output; nx_player_seek_step does that in pieces, so a live player can spread
// a long seek over several audio callbacks. Returns 0, or an error code.
int32_t nx_player_seek_frame(WebPlayer* p, double frame) {
    if (!p || !(frame >= 0)) return Keep(NEATXM_ERROR_ARGUMENT);
    const int64_t target = static_cast<int64_t>(frame);
    if (target < FramesPlayed(p)) {
        neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
        neatxm_player_get_config(p->player, &config);
        if (!Remake(p, config)) return lastError.code;
    }
    p->seekTarget = target;
    p->pendingOrder = -1;
    return NEATXM_OK;
}
// Plays towards the seek's target by at most `budget` frames. Returns the frames still to go
// (0: done, the next render starts at the target; -1: the song ended before it).
double nx_player_seek_step(WebPlayer* p, int32_t budget) {
    static float scrap[2 * 1024];
    if (!p || p->seekTarget < 0) return 0;
    int64_t left = p->seekTarget - FramesPlayed(p);
    for (int64_t spent = 0; left > 0 && spent < budget;) {
        const size_t piece = static_cast<size_t>(std::min<int64_t>({left, budget - spent, 1024}));
        if (neatxm_player_render_float(p->player, scrap, piece) < piece) {
            p->seekTarget = -1;
            DropEvents(p);
            return -1;
        }
        left -= static_cast<int64_t>(piece);
        spent += static_cast<int64_t>(piece);
    }
    if (left > 0) return static_cast<double>(left);
    p->seekTarget = -1;
    DropEvents(p);
    return 0;
}

// To the first frame of row `row` of order position `order`. Returns 0, or an error code.
int32_t nx_player_seek_order(WebPlayer* p, int32_t order, int32_t row) {
    if (!p) return Keep(NEATXM_ERROR_ARGUMENT);
    p->seekTarget = -1;
    DropEvents(p);
    const neatxm_error code = neatxm_player_seek_order(p->player, order, row);
    if (code != NEATXM_OK) return Keep(code);
    p->pendingOrder = order;
    p->pendingRow = row;
    return NEATXM_OK;
}

// Where the player stands, into out[0..9]: order, pattern, row, tick, speed, bpm, frames,
// seconds, loops, ended.
void nx_player_position(const WebPlayer* p, double* out) {
    neatxm_position now = NEATXM_POSITION_INIT;
    neatxm_player_get_position(p->player, &now);
    if (p->pendingOrder >= 0) {
        now.order = p->pendingOrder;
        now.pattern = neatxm_song_order(p->song, p->pendingOrder);
        now.row = p->pendingRow;
        now.tick = 0;
    }
    const double values[10] = {double(now.order), double(now.pattern), double(now.row),
                               double(now.tick),  double(now.speed),   double(now.bpm),
                               double(now.frame), now.seconds,         double(now.passes),
                               double(now.ended)};
    std::memcpy(out, values, sizeof values);
}

// Channel levels (0-255, for meters) into out[0..channels-1].
void nx_player_volumes(const WebPlayer* p, int32_t channels, uint8_t* out) {
    for (int32_t c = 0; c < channels; ++c) {
        neatxm_channel_state state = NEATXM_CHANNEL_STATE_INIT;
        const bool known = neatxm_player_get_channel(p->player, c, &state) == NEATXM_OK;
        out[c] = static_cast<uint8_t>(known ? std::clamp(state.level, 0, 255) : 0);
    }
}

// Events since the last call, oldest first, as EventRecords into `out` (room for `capacity`).
int32_t nx_player_events(WebPlayer* p, EventRecord* out, int32_t capacity) {
    static neatxm_event taken[64];
    if (!p || !out || capacity <= 0) return 0;
    int32_t written = 0;
    while (written < capacity) {
        int32_t n = 0;
        neatxm_player_take_events(p->player, taken, sizeof taken[0],
                                  std::min<int32_t>(64, capacity - written), &n);
        for (int32_t i = 0; i < n; ++i) {
            const neatxm_event& e = taken[i];
            out[written++] = {static_cast<int32_t>(e.frame & 0xffffffff),
                              static_cast<int32_t>(e.frame >> 32),
                              e.kind,
                              e.channel,
                              e.note,
                              e.instrument,
                              e.sample,
                              e.order,
                              e.pattern,
                              e.row};
        }
        if (n < 64) break;
    }
    return written;
}
double nx_player_events_dropped(const WebPlayer* p) {
    return static_cast<double>(neatxm_player_events_dropped(p->player));
}

} // extern "C"

#else // the 1.0 interface

#include "music/mix_controls.h"
#include "music/module.h"
#include "music/player.h"

#if __has_include("music/player_events.h")
#include "music/player_events.h"
#define NX_PLAYER_EVENTS 1
#endif
#if __has_include("music/seeking.h")
#include "music/seeking.h"
#define NX_SEEKING 1
#endif

// The library's handles as api.cpp defines them. This version of the interface has no calls
// for the listener's controls or the pattern cells, so the glue reaches the records under them
// (the package ships the library it was built with, so the two cannot drift apart).
struct neatxm_song {
    Module* module;
    double lengthSeconds;
};
struct neatxm_player {
    Player* player;
};

namespace {

neatxm_error lastError{};

// Events as the script reads them: ten 32-bit numbers each.
struct EventRecord {
    int32_t frameLow, frameHigh; // frame from the song's start
    int32_t kind;                // 0 note started, 1 row changed, 2 order changed
    int32_t channel, note, instrument, sample, order, pattern, row;
};
static_assert(sizeof(EventRecord) == 40);
#ifndef NX_PLAYER_EVENTS
constexpr int32_t EVENT_QUEUE = 1024;
// Without the player's own event queue, rows are watched between pieces of this many frames.
constexpr int32_t WATCH_FRAMES = 32;
#endif

// A player as the package sees it: the library's player, what it was made with (a seek back in
// time makes it anew) and the seek still under way.
struct WebPlayer {
    neatxm_song* song;
    neatxm_player* player;
    int32_t rate;
    neatxm_rules rules;
    neatxm_end end;
    int64_t seekTarget; // frame a seek by time is playing towards; -1 when none
    // Where a seek to an order and row went, until the next frame is handed out (the library
    // tells where it stands at the last frame handed out, which lies before the seek).
    int32_t pendingOrder, pendingRow; // -1 when none
#ifndef NX_PLAYER_EVENTS
    int32_t watchedOrder, watchedRow; // where the last piece ended; -1 before the first frame
    EventRecord events[EVENT_QUEUE];
    int32_t eventCount;
    uint64_t dropped;
#endif
};

Player* Internal(const WebPlayer* p) {
    return p->player->player;
}

void Fail(int code, const char* message) {
    lastError.code = code;
    std::snprintf(lastError.message, sizeof lastError.message, "%s", message);
}

int64_t FramesPlayed(const WebPlayer* p) {
    neatxm_position position{};
    neatxm_player_position(p->player, &position);
    return static_cast<int64_t>(position.frames);
}

#ifndef NX_PLAYER_EVENTS
void Push(WebPlayer* p, const EventRecord& event) {
    if (p->eventCount == EVENT_QUEUE) { // keep the newest
        std::memmove(p->events, p->events + 1, sizeof(EventRecord) * (EVENT_QUEUE - 1));
        --p->eventCount;
        ++p->dropped;
    }
    p->events[p->eventCount++] = event;
}

// After a piece: a row (and an order) newly reached gives its events, and the notes of that
// row's cells are taken as started there (a note delay starts them a few ticks later).
void Watch(WebPlayer* p, int64_t frame) {
    neatxm_position now{};
    neatxm_player_position(p->player, &now);
    if (now.order == p->watchedOrder && now.row == p->watchedRow) return;
    const int32_t low = static_cast<int32_t>(frame & 0xffffffff);
    const int32_t high = static_cast<int32_t>(frame >> 32);
    if (now.order != p->watchedOrder)
        Push(p, {low, high, 2, -1, -1, -1, -1, now.order, now.pattern, now.row});
    Push(p, {low, high, 1, -1, -1, -1, -1, now.order, now.pattern, now.row});
    p->watchedOrder = now.order;
    p->watchedRow = now.row;
    const Module* module = p->song->module;
    if (now.pattern < 0 || now.pattern >= module->patternCount) return;
    const Pattern& pattern = module->patterns[now.pattern];
    if (now.row < 0 || now.row >= pattern.rowCount || !pattern.cells) return;
    const PatternCell* cells = pattern.cells + now.row * module->channelCount;
    for (int32_t c = 0; c < module->channelCount; ++c)
        if (cells[c].note >= 1 && cells[c].note <= 96)
            Push(p, {low, high, 0, c, cells[c].note, cells[c].instrument ? cells[c].instrument : -1,
                     -1, now.order, now.pattern, now.row});
}
#endif

size_t RenderLibrary(neatxm_player* player, float* out, size_t frames) {
    return neatxm_render_float(player, out, frames);
}
size_t RenderLibrary(neatxm_player* player, int16_t* out, size_t frames) {
    return neatxm_render_s16(player, out, frames);
}

// Renders `frames` frames (null `out`: into a scrap buffer, for seeking), watching the rows.
template <typename Sample> int32_t Render(WebPlayer* p, Sample* out, int32_t frames) {
    static Sample scrap[2 * 1024];
    int32_t done = 0;
    while (done < frames) {
#ifdef NX_PLAYER_EVENTS
        const int32_t step = out ? frames - done : std::min<int32_t>(frames - done, 1024);
#else
        const int32_t step = std::min<int32_t>(frames - done, out ? WATCH_FRAMES : 1024);
        const int64_t at = FramesPlayed(p);
#endif
        const int32_t got = static_cast<int32_t>(
            RenderLibrary(p->player, out ? out + 2 * done : scrap, static_cast<size_t>(step)));
#ifndef NX_PLAYER_EVENTS
        if (got > 0 && out) Watch(p, at);
#endif
        done += got;
        if (got > 0) p->pendingOrder = -1;
        if (got < step) break;
    }
    return done;
}

// Forgets the events not taken yet: a seek's are not heard, and the row it lands on is told anew.
void DropEvents(WebPlayer* p) {
#ifdef NX_PLAYER_EVENTS
    static PlayerEvent taken[64];
    while (TakePlayerEvents(Internal(p), taken, 64) == 64) {
    }
#else
    p->eventCount = 0;
    p->watchedOrder = p->watchedRow = -1;
#endif
}

// Makes the library's player anew at the song's start, with the controls of the old one.
bool Remake(WebPlayer* p) {
    neatxm_player* fresh = neatxm_player_create(p->song, p->rate, p->rules, &lastError);
    if (!fresh) return false;
    if (p->player) {
        fresh->player->controls = Internal(p)->controls;
        neatxm_player_destroy(p->player);
    }
    p->player = fresh;
    p->pendingOrder = -1;
    neatxm_player_set_end(p->player, p->end);
#ifndef NX_PLAYER_EVENTS
    p->watchedOrder = p->watchedRow = -1;
#endif
    return true;
}

uint32_t Bit(int32_t channel) {
    return channel >= 0 && channel < 32 ? uint32_t{1} << channel : 0;
}

} // namespace

extern "C" {

void* nx_alloc(int32_t bytes) {
    return std::malloc(bytes > 0 ? static_cast<size_t>(bytes) : 1);
}
void nx_free(void* block) {
    std::free(block);
}

int32_t nx_error_code() {
    return lastError.code;
}
const char* nx_error_message() {
    return lastError.message;
}

// ---- Songs ----

neatxm_song* nx_song_load(const void* data, int32_t size) {
    return neatxm_load_memory(data, static_cast<size_t>(size), &lastError);
}
int32_t nx_song_free(neatxm_song* song) {
    return neatxm_song_free(song);
}

// Facts into out[0..10]: channels, orders, restart, patterns, instruments, samples, linear
// frequencies, speed, bpm, version, format (0: XM, the only one 1.0 loads). The length in
// seconds is the result (-1: it does not end).
double nx_song_info(const neatxm_song* song, int32_t* out) {
    neatxm_song_info info{};
    if (neatxm_song_get_info(song, &info) != NEATXM_OK) return -1;
    const int32_t values[11] = {info.channels,
                                info.orders,
                                info.restart_position,
                                info.patterns,
                                info.instruments,
                                info.samples,
                                info.linear_frequencies,
                                info.default_speed,
                                info.default_bpm,
                                info.version,
                                0};
    std::memcpy(out, values, sizeof values);
    return info.length_seconds;
}
const char* nx_song_title(const neatxm_song* song) {
    return neatxm_song_title(song);
}
const char* nx_song_tracker(const neatxm_song* song) {
    return neatxm_song_tracker(song);
}
const char* nx_instrument_name(const neatxm_song* song, int32_t i) {
    return neatxm_instrument_name(song, i);
}
int32_t nx_instrument_samples(const neatxm_song* song, int32_t i) {
    return neatxm_instrument_samples(song, i);
}
const char* nx_sample_name(const neatxm_song* song, int32_t i, int32_t s) {
    return neatxm_sample_name(song, i, s);
}
int32_t nx_song_order(const neatxm_song* song, int32_t position) {
    return neatxm_song_order(song, position);
}
// Rows of a pattern; -1 out of range.
int32_t nx_pattern_rows(const neatxm_song* song, int32_t pattern) {
    if (!song || pattern < 0 || pattern >= song->module->patternCount) return -1;
    return song->module->patterns[pattern].rowCount;
}
// The pattern's cells, row by row, five bytes each (note, instrument, volume column, effect,
// parameter) into `out`, which holds rows x channels x 5 bytes. Returns the bytes written.
int32_t nx_pattern_cells(const neatxm_song* song, int32_t pattern, uint8_t* out) {
    const int32_t rows = nx_pattern_rows(song, pattern);
    if (rows < 0 || !out) return 0;
    const int32_t bytes = rows * song->module->channelCount * 5;
    const PatternCell* cells = song->module->patterns[pattern].cells;
    if (cells)
        std::memcpy(out, cells, static_cast<size_t>(bytes));
    else
        std::memset(out, 0, static_cast<size_t>(bytes));
    return bytes;
}

// ---- Players ----

WebPlayer* nx_player_create(neatxm_song* song, int32_t rate, int32_t rules, int32_t loop) {
    auto* p = static_cast<WebPlayer*>(std::calloc(1, sizeof(WebPlayer)));
    if (!p) return Fail(NEATXM_ERROR_OUT_OF_MEMORY, "out of memory"), nullptr;
    p->song = song;
    p->rate = rate;
    p->rules = static_cast<neatxm_rules>(rules);
    p->end = loop ? NEATXM_END_WRAP : NEATXM_END_STOP;
    p->seekTarget = -1;
    p->pendingOrder = -1;
    if (!Remake(p)) {
        std::free(p);
        return nullptr;
    }
    return p;
}
void nx_player_destroy(WebPlayer* p) {
    if (!p) return;
    neatxm_player_destroy(p->player);
    std::free(p);
}

// Interleaved stereo float frames (1.0 = full scale, the 16-bit output's 32768); returns the frames
// written. While a seek is under way, nothing: call nx_player_seek_step until it is done.
int32_t nx_player_render(WebPlayer* p, float* out, int32_t frames) {
    if (!p || !out || frames <= 0 || p->seekTarget >= 0) return 0;
    return Render(p, out, frames);
}
// The same as 16-bit frames, rounded and clipped as the library does for its own output.
int32_t nx_player_render_s16(WebPlayer* p, int16_t* out, int32_t frames) {
    if (!p || !out || frames <= 0 || p->seekTarget >= 0) return 0;
    return Render(p, out, frames);
}

int32_t nx_player_set_loop(WebPlayer* p, int32_t loop) {
    if (!p) return NEATXM_ERROR_ARGUMENT;
    p->end = loop ? NEATXM_END_WRAP : NEATXM_END_STOP;
    return neatxm_player_set_end(p->player, p->end);
}

// Controls (the value ranges are checked on the script side, against the same limits).
void nx_player_set_interpolation(WebPlayer* p, int32_t mode) {
    Internal(p)->controls.interpolation = static_cast<Interpolation>(mode);
}
void nx_player_set_separation(WebPlayer* p, int32_t percent) {
    Internal(p)->controls.separation = percent;
}
void nx_player_set_gain(WebPlayer* p, double decibels) {
    Internal(p)->controls.gainDb = static_cast<float>(decibels);
}
void nx_player_set_mute(WebPlayer* p, int32_t channel, int32_t on) {
    uint32_t& muted = Internal(p)->controls.muted;
    muted = on ? muted | Bit(channel) : muted & ~Bit(channel);
}
void nx_player_set_solo(WebPlayer* p, int32_t channel, int32_t on) {
    uint32_t& solo = Internal(p)->controls.solo;
    solo = on ? solo | Bit(channel) : solo & ~Bit(channel);
}
int32_t nx_player_mute_mask(const WebPlayer* p) {
    return static_cast<int32_t>(Internal(p)->controls.muted);
}
int32_t nx_player_solo_mask(const WebPlayer* p) {
    return static_cast<int32_t>(Internal(p)->controls.solo);
}

// Seeking by time is exact: the frames after it are those a straight render gives from that
// frame on. The player goes back to the start when the target lies behind it, then plays
// forward without output; nx_player_seek_step does that in pieces, so a live player can spread
// a long seek over several audio callbacks. Returns 0, or an error code.
int32_t nx_player_seek_frame(WebPlayer* p, double frame) {
    if (!p || !(frame >= 0)) return NEATXM_ERROR_ARGUMENT;
    const int64_t target = static_cast<int64_t>(frame);
    if (target < FramesPlayed(p) && !Remake(p)) return lastError.code;
    p->seekTarget = target;
    return NEATXM_OK;
}
// Plays towards the seek's target by at most `budget` frames. Returns the frames still to go
// (0: done, the next render starts at the target; -1: the song ended before it).
double nx_player_seek_step(WebPlayer* p, int32_t budget) {
    if (!p || p->seekTarget < 0) return 0;
    const int64_t left = p->seekTarget - FramesPlayed(p);
    const int32_t step = static_cast<int32_t>(std::min<int64_t>(left, budget));
    if (step > 0 && Render(p, static_cast<float*>(nullptr), step) < step) {
        p->seekTarget = -1;
        DropEvents(p);
        return -1;
    }
    if (left - step > 0) return static_cast<double>(left - step);
    p->seekTarget = -1;
    DropEvents(p);
    return 0;
}

// To the first frame of row `row` of order position `order`. Returns 0, or an error code.
int32_t nx_player_seek_order(WebPlayer* p, int32_t order, int32_t row) {
    if (!p || row < 0) return NEATXM_ERROR_ARGUMENT;
    p->seekTarget = -1;
    DropEvents(p);
#ifdef NX_SEEKING
    if (!SeekOrderRow(Internal(p), order, row)) return NEATXM_ERROR_ARGUMENT;
    p->pendingOrder = order;
    p->pendingRow = row;
    return NEATXM_OK;
#else
    if (neatxm_player_seek(p->player, order) != NEATXM_OK) return NEATXM_ERROR_ARGUMENT;
    if (row == 0) {
        p->pendingOrder = order;
        p->pendingRow = 0;
        return NEATXM_OK;
    }
    // Without a row seek in the library: play on (unheard) until the row is reached, in pieces
    // of a few frames, so the next frame lies at most that far into the row.
    // (The position is the last frame's, so each check follows a piece.)
    static float scrap[2 * 8];
    for (int32_t guard = 0; guard < (1 << 22); ++guard) {
        if (neatxm_render_float(p->player, scrap, 8) < 8) break;
        neatxm_position now{};
        neatxm_player_position(p->player, &now);
        if (now.order != order) break;
        if (now.row >= row) return NEATXM_OK;
    }
    return NEATXM_ERROR_ARGUMENT;
#endif
}

// Where the player stands, into out[0..9]: order, pattern, row, tick, speed, bpm, frames,
// seconds, loops, ended.
void nx_player_position(const WebPlayer* p, double* out) {
    neatxm_position now{};
    neatxm_player_position(p->player, &now);
    if (p->pendingOrder >= 0) {
        now.order = p->pendingOrder;
        now.pattern = neatxm_song_order(p->song, p->pendingOrder);
        now.row = p->pendingRow;
        now.tick = 0;
    }
    const double values[10] = {double(now.order),  double(now.pattern), double(now.row),
                               double(now.tick),   double(now.speed),   double(now.bpm),
                               double(now.frames), now.seconds,         double(now.loops),
                               double(now.ended)};
    std::memcpy(out, values, sizeof values);
}

// Channel volumes (0-255, for meters) into out[0..channels-1].
void nx_player_volumes(const WebPlayer* p, int32_t channels, uint8_t* out) {
    for (int32_t c = 0; c < channels; ++c)
        out[c] = static_cast<uint8_t>(neatxm_player_channel_volume(p->player, c));
}

// Events since the last call, oldest first, as EventRecords into `out` (room for `capacity`).
int32_t nx_player_events(WebPlayer* p, EventRecord* out, int32_t capacity) {
    if (!p || !out || capacity <= 0) return 0;
#ifdef NX_PLAYER_EVENTS
    static PlayerEvent taken[64];
    int32_t written = 0;
    while (written < capacity) {
        const int32_t n =
            TakePlayerEvents(Internal(p), taken, std::min<int32_t>(64, capacity - written));
        for (int32_t i = 0; i < n; ++i) {
            const PlayerEvent& e = taken[i];
            out[written++] = {static_cast<int32_t>(e.frame & 0xffffffff),
                              static_cast<int32_t>(e.frame >> 32),
                              static_cast<int32_t>(e.kind),
                              e.channel,
                              e.note,
                              e.instrument,
                              e.sample,
                              e.order,
                              e.pattern,
                              e.row};
        }
        if (n < 64) break;
    }
    return written;
#else
    const int32_t n = std::min(capacity, p->eventCount);
    std::memcpy(out, p->events, sizeof(EventRecord) * static_cast<size_t>(n));
    std::memmove(p->events, p->events + n,
                 sizeof(EventRecord) * static_cast<size_t>(p->eventCount - n));
    p->eventCount -= n;
    return n;
#endif
}
double nx_player_events_dropped(const WebPlayer* p) {
#ifdef NX_PLAYER_EVENTS
    return static_cast<double>(PlayerEventsDropped(Internal(p)));
#else
    return static_cast<double>(p->dropped);
#endif
}

} // extern "C"

#endif // NEATXM_VERSION_MAJOR
