// glue.cpp: the package's one door into the library. The script side (core.js) calls only the
// nx_* functions below; every call into the library is made here, so a change of the library's
// interface is a change of this file alone. Numbers cross as 32-bit integers and doubles; a
// result larger than one number is written into a caller's buffer in the wasm memory.
#include "neatxm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// kernel_tables_built.cpp: fills the interpolation kernels on the first call.
void BuildKernelTables();

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
    BuildKernelTables(); // the interpolation kernels, once (kernel_tables_built.cpp)
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
