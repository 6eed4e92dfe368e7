/* neatxm.h: a player for tracker modules (XM and MOD). Load a song, make players for it, pull
 * 16-bit or float stereo frames from them.
 *
 * ---- Concepts -------------------------------------------------------------------------------
 *
 * A song (neatxm_song) is a loaded module file: its patterns, instruments and samples. It never
 * changes once loaded. A player (neatxm_player) plays one song: it holds everything that moves
 * while the song plays (position, tempo, voices, the listener's controls). Any number of players
 * may play one song. Frames are stereo: two values per frame, first channel then second, at the
 * rate the player was made with.
 *
 * A player follows one of two rule sets. NEATXM_RULES_STANDARD plays the format as its original
 * tracker does (MOD songs by the rules of the MOD format's tracker). NEATXM_RULES_DEMO
 * reproduces, bit for bit, the soundtrack of the demo this library was written for; it knows XM
 * songs only.
 *
 * ---- Records that grow ----------------------------------------------------------------------
 *
 * Every record passed by address begins with `size`, which the caller sets to sizeof the record
 * as its header declares it (the NEATXM_..._INIT macros do that and set the defaults). The
 * library reads and writes only the fields that lie within `size`, so a program built against an
 * older header keeps working with a newer library: fields it does not know keep their defaults
 * on the way in and are not written on the way out. A size smaller than the record's first
 * field after `size` (or, for neatxm_stream, than the operations it needs) gives
 * NEATXM_ERROR_RECORD_SIZE. Records hold only 32- and 64-bit fields (and pointers) with no gaps,
 * so every older size ends exactly on a field. Arrays of records (events) take the element's
 * size as an argument instead.
 *
 * ---- Errors ---------------------------------------------------------------------------------
 *
 * Every call that can fail returns a neatxm_error: NEATXM_OK (0) or a code below. The render
 * calls return the frames written instead, and plain queries (names, counts) return their value
 * with a stated neutral answer for bad arguments. neatxm_error_text gives each code a fixed
 * English phrase. Loading and player creation can also say what is wrong with the particular
 * file in a sentence ("the header says 0 channels; a song needs at least 1"): pass a buffer and
 * its size (or NULL and 0); the sentence is cut to fit and always terminated, and is "" on
 * success. Sentences are rarely longer than 200 bytes. On failure, the `song` or `player`
 * written through the out pointer is NULL.
 *
 * ---- Lifetimes ------------------------------------------------------------------------------
 *
 * A song lives until neatxm_song_free, which refuses (NEATXM_ERROR_IN_USE) while a player made
 * for it is alive: free the players first. A player lives until neatxm_player_free. Text the
 * song calls return (title, names) lives as long as the song and never changes. Text of
 * neatxm_error_text and neatxm_version_text lives for ever. No other pointer is handed out:
 * everything else is copied into the caller's records and buffers.
 *
 * ---- Threads --------------------------------------------------------------------------------
 *
 * Nothing in the library is shared between songs or players, and no call keeps global state.
 * A song is read-only: loading, song queries and players' work may run on any threads at once.
 * A player is not locked: make all calls on one player from one thread at a time (a program
 * that renders on an audio thread and sets controls from another serialises the two itself).
 * Freeing a song needs that no other thread is creating a player for it at the same time.
 *
 * ---- Determinism ----------------------------------------------------------------------------
 *
 * What a player renders depends only on the song's bytes, the player's configuration and the
 * calls made on it, never on the clock, the thread or how the frames are asked for: any split of
 * the same total gives the same frames, and an exact seek to a frame gives the frames a straight
 * render with the player's present controls gives there. Rendering allocates nothing and takes
 * no lock.
 *
 * A control changed while a song plays applies from the next block the player mixes; frames
 * already mixed into the current block (at most 1/50 s) are handed out as they were.
 *
 * ---- Versions -------------------------------------------------------------------------------
 *
 * The shared library is libneatxm.so.2; its symbols carry the version NEATXM_2.0. Minor
 * versions only add calls, fields at the end of records, and codes. NEATXM_VERSION is the
 * version of this header; neatxm_version() that of the library the program runs with.
 *
 * C-compatible (C99); a C++17 layer over it is in neatxm.hpp. */
#ifndef NEATXM_H
#define NEATXM_H

#include <stddef.h>
#include <stdint.h>

/* Symbols of the shared library; nothing else is exported from it. */
#if defined(_WIN32) && defined(NEATXM_BUILDING_SHARED)
#define NEATXM_API __declspec(dllexport)
#elif defined(__GNUC__)
#define NEATXM_API __attribute__((visibility("default")))
#else
#define NEATXM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define NEATXM_VERSION_MAJOR 2
#define NEATXM_VERSION_MINOR 0
#define NEATXM_VERSION_PATCH 0
/* major << 16 | minor << 8 | patch, as neatxm_version() returns it. */
#define NEATXM_VERSION                                                                             \
    ((NEATXM_VERSION_MAJOR << 16) | (NEATXM_VERSION_MINOR << 8) | NEATXM_VERSION_PATCH)

/* The library's version, as NEATXM_VERSION encodes it. A program may refuse a library whose
 * major version differs from the header's, or whose minor version is older. */
NEATXM_API uint32_t neatxm_version(void);
/* The same as text, "2.0.0". */
NEATXM_API const char* neatxm_version_text(void);

typedef struct neatxm_song neatxm_song;
typedef struct neatxm_player neatxm_player;

/* ---- Errors --------------------------------------------------------------------------------- */

typedef enum neatxm_error {
    NEATXM_OK = 0,
    NEATXM_ERROR_CANNOT_OPEN = 1,    /* the file could not be opened or read */
    NEATXM_ERROR_NOT_MODULE = 2,     /* not a module of a format the library plays */
    NEATXM_ERROR_TRUNCATED = 3,      /* the file ends before the data its headers announce */
    NEATXM_ERROR_UNSUPPORTED = 4,    /* beyond what the player handles (channels, rows, samples) */
    NEATXM_ERROR_OUT_OF_MEMORY = 5,  /* an allocation failed */
    NEATXM_ERROR_INVALID = 6,        /* contradicting or impossible values in the file */
    NEATXM_ERROR_ARGUMENT = 7,       /* a NULL pointer or an unknown choice */
    NEATXM_ERROR_IN_USE = 8,         /* a song still played by a player cannot be freed */
    NEATXM_ERROR_RULES_MISMATCH = 9, /* the rule set does not play this song's format */
    NEATXM_ERROR_RANGE = 10,         /* a number outside its range (rate, channel, time, gain) */
    NEATXM_ERROR_RECORD_SIZE = 11    /* a record's size field is smaller than any version's */
} neatxm_error;

/* A fixed English phrase for a code ("the file is not a module"); "unknown error" for a code
 * this library does not know. Lives for ever. */
NEATXM_API const char* neatxm_error_text(neatxm_error code);

/* ---- Loading -------------------------------------------------------------------------------- */

/* Origins of neatxm_stream.seek. */
#define NEATXM_STREAM_SET 0 /* from the start of the file */
#define NEATXM_STREAM_CUR 1 /* from the current position */
#define NEATXM_STREAM_END 2 /* from the end of the file */

/* Reading through the caller's own files (archives, resources, a network). Every operation gets
 * `user` first. `open` is needed only when a name is passed to neatxm_song_load_stream; `close`
 * is called (when given) only on a handle that `open` returned. The library reads during the
 * load call only and keeps nothing of the stream afterwards. */
typedef struct neatxm_stream {
    uint32_t size; /* sizeof(neatxm_stream) */
    uint32_t reserved;
    void* user;
    void* (*open)(void* user, const char* name); /* NULL on failure */
    void (*close)(void* user, void* handle);
    /* Bytes read into buffer, 0 at the end of the file, negative on an error. */
    int64_t (*read)(void* user, void* handle, void* buffer, int64_t count);
    /* 0 on success. */
    int (*seek)(void* user, void* handle, int64_t offset, int origin);
    /* The position from the start of the file, negative on an error. */
    int64_t (*tell)(void* user, void* handle);
} neatxm_stream;
#define NEATXM_STREAM_INIT                                                                         \
    { sizeof(neatxm_stream), 0, NULL, NULL, NULL, NULL, NULL, NULL }

/* Each loads a song into *song (NULL on failure) and returns NEATXM_OK or why not, with the
 * sentence in `message` (see Errors). The format is found from the bytes, not the name. */
NEATXM_API neatxm_error neatxm_song_load_file(const char* path, neatxm_song** song, char* message,
                                              size_t message_size);
/* The bytes are copied where needed; `data` may go once the call returns. */
NEATXM_API neatxm_error neatxm_song_load_memory(const void* data, size_t size, neatxm_song** song,
                                                char* message, size_t message_size);
/* Reads through `stream`: from `handle` when it is not NULL (a file the caller opened and
 * will close; `name` is then used only in messages and may be NULL), otherwise from what
 * stream->open returns for `name`. */
NEATXM_API neatxm_error neatxm_song_load_stream(const neatxm_stream* stream, const char* name,
                                                void* handle, neatxm_song** song, char* message,
                                                size_t message_size);
/* Frees a song: NEATXM_OK; NEATXM_ERROR_IN_USE (nothing freed) while a player made for it is
 * alive; NEATXM_ERROR_ARGUMENT for NULL. */
NEATXM_API neatxm_error neatxm_song_free(neatxm_song* song);

/* ---- Song facts ----------------------------------------------------------------------------- */

typedef enum neatxm_format { NEATXM_FORMAT_XM = 0, NEATXM_FORMAT_MOD = 1 } neatxm_format;

typedef struct neatxm_song_info {
    uint32_t size;              /* sizeof(neatxm_song_info) */
    int32_t format;             /* a neatxm_format */
    int32_t channels;           /* tracks of the pattern data */
    int32_t orders;             /* length of the order list */
    int32_t restart_position;   /* where the order list goes on after its end */
    int32_t patterns;           /* patterns stored */
    int32_t instruments;        /* instruments (a MOD's samples are its instruments) */
    int32_t samples;            /* samples with data of their own, over all instruments */
    int32_t linear_frequencies; /* 1: linear frequency table; 0: the period table */
    int32_t default_speed;      /* ticks per row */
    int32_t default_bpm;        /* tempo: ticks per second is bpm * 2 / 5 */
    int32_t version;            /* XM format version, e.g. 0x0104; 0 for MOD */
    /* Seconds until the song first comes back to a place it has played (its end going back to
     * the restart position, or a jump back), at 44100 Hz under the standard rules; -1 when it
     * does not within 20 minutes. */
    double length_seconds;
} neatxm_song_info;
#define NEATXM_SONG_INFO_INIT                                                                      \
    { sizeof(neatxm_song_info), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.0 }

NEATXM_API neatxm_error neatxm_song_get_info(const neatxm_song* song, neatxm_song_info* info);
/* Names as the file stores them (up to 20 or 22 characters, trailing blanks kept); "" for a NULL
 * song or an index out of range. They live as long as the song. Instruments and samples count
 * from 0. */
NEATXM_API const char* neatxm_song_title(const neatxm_song* song);
/* The program that wrote the file, as the file says ("" when it does not). */
NEATXM_API const char* neatxm_song_tracker(const neatxm_song* song);
NEATXM_API const char* neatxm_song_instrument_name(const neatxm_song* song, int32_t instrument);
/* Samples of an instrument; 0 out of range. */
NEATXM_API int32_t neatxm_song_instrument_samples(const neatxm_song* song, int32_t instrument);
NEATXM_API const char* neatxm_song_sample_name(const neatxm_song* song, int32_t instrument,
                                               int32_t sample);
/* The pattern played at an order position; -1 out of range. */
NEATXM_API int32_t neatxm_song_order(const neatxm_song* song, int32_t position);
/* Rows of a pattern; 0 out of range. */
NEATXM_API int32_t neatxm_song_pattern_rows(const neatxm_song* song, int32_t pattern);

/* One cell of pattern data, as the file stores it. The format fixes what a cell holds, so this
 * record does not grow and has no size field. */
#define NEATXM_NOTE_KEY_OFF 97
typedef struct neatxm_cell {
    uint8_t note;       /* 0 none, 1-96 (1 = C-0, 49 = C-4), NEATXM_NOTE_KEY_OFF */
    uint8_t instrument; /* 0 none, 1-128 */
    uint8_t volume;     /* the volume column's byte (0 none) */
    uint8_t effect;     /* effect number: 0-9 and 10-35 for the letters A-Z */
    uint8_t parameter;  /* the effect's parameter */
} neatxm_cell;

/* Copies the cells of one row of a pattern, one per channel, into `cells` (room for `capacity`
 * cells; channels beyond it are left out). NEATXM_ERROR_RANGE for a pattern or row that does
 * not exist. Any thread, even while players play the song. */
NEATXM_API neatxm_error neatxm_song_get_row(const neatxm_song* song, int32_t pattern, int32_t row,
                                            neatxm_cell* cells, int32_t capacity);

/* ---- Players -------------------------------------------------------------------------------- */

typedef enum neatxm_rules { NEATXM_RULES_STANDARD = 0, NEATXM_RULES_DEMO = 1 } neatxm_rules;

/* How a voice reads between a sample's points. Linear is the original tracker's. Cubic is a
 * 4-point spline; sinc a windowed sinc that also filters what a note pitched down would alias. */
typedef enum neatxm_interpolation {
    NEATXM_INTERPOLATION_NONE = 0,
    NEATXM_INTERPOLATION_LINEAR = 1,
    NEATXM_INTERPOLATION_CUBIC = 2,
    NEATXM_INTERPOLATION_SINC = 3
} neatxm_interpolation;

/* Ranges of the controls (a value outside gives NEATXM_ERROR_RANGE). */
#define NEATXM_MIN_RATE 50
#define NEATXM_MAX_RATE 384000
#define NEATXM_MAX_SEPARATION 200 /* percent */
#define NEATXM_MIN_GAIN_DB (-60.0f)
#define NEATXM_MAX_GAIN_DB 24.0f
#define NEATXM_MAX_RAMP_MS 100
#define NEATXM_MAX_CHANNELS 32

/* How a player is made. Every field after `size` may also be changed while it plays, except
 * `rate` and `rules`. */
typedef struct neatxm_player_config {
    uint32_t size;         /* sizeof(neatxm_player_config) */
    int32_t rate;          /* frames per second, NEATXM_MIN_RATE to NEATXM_MAX_RATE; 44100 */
    int32_t rules;         /* a neatxm_rules; NEATXM_RULES_STANDARD */
    int32_t interpolation; /* a neatxm_interpolation; NEATXM_INTERPOLATION_LINEAR */
    /* Stereo separation, percent: 0 mono, 100 as the song pans, 200 wide; -1 (the default) the
     * rule set's own: 100 for XM songs, narrower for the hard left and right of MOD songs. */
    int32_t separation;
    float gain_db;   /* master gain on top of the rule set's level, dB; 0 */
    int32_t ramp_ms; /* volume ramp length, 0 to NEATXM_MAX_RAMP_MS; -1 the rules' own */
    int32_t limiter; /* 1: 16-bit output is soft-limited instead of clipped; 0 */
    /* Times the song plays before rendering ends (it ends where the song comes back to a place
     * it has played for the repeat-th time); 0 (the default) plays on for ever. */
    int32_t repeat;
} neatxm_player_config;
#define NEATXM_PLAYER_CONFIG_INIT                                                                  \
    {                                                                                              \
        sizeof(neatxm_player_config), 44100, NEATXM_RULES_STANDARD, NEATXM_INTERPOLATION_LINEAR,   \
            -1, 0.0f, -1, 0, 0                                                                     \
    }

/* A player for `song`, positioned at its start, made as `config` says (NULL: every default) into
 * *player. NEATXM_ERROR_RANGE for a value outside its range, NEATXM_ERROR_RULES_MISMATCH for the
 * demo's rules and a MOD song, NEATXM_ERROR_OUT_OF_MEMORY. The song must outlive the player. */
NEATXM_API neatxm_error neatxm_player_create(const neatxm_song* song,
                                             const neatxm_player_config* config,
                                             neatxm_player** player, char* message,
                                             size_t message_size);
/* Frees a player; NULL is ignored. */
NEATXM_API void neatxm_player_free(neatxm_player* player);
/* The configuration the player plays with now (its creation's, with every change since); a
 * field left at -1 ("the rule set's own") comes back as the value it stands for. */
NEATXM_API neatxm_error neatxm_player_get_config(const neatxm_player* player,
                                                 neatxm_player_config* config);

/* Renders up to `frames` stereo frames, interleaved, into the caller's buffer and returns the
 * frames written: all of them, unless the repeat count has ended the song (then fewer, then 0).
 * 0 for a NULL player or buffer. Float frames are the mix before its 16-bit rounding and
 * limiting: 1.0 = 32768, not clipped. */
NEATXM_API size_t neatxm_player_render_s16(neatxm_player* player, int16_t* interleaved,
                                           size_t frames);
NEATXM_API size_t neatxm_player_render_float(neatxm_player* player, float* interleaved,
                                             size_t frames);

/* ---- Controls while playing ----------------------------------------------------------------- */

/* Each checks its value (NEATXM_ERROR_RANGE or NEATXM_ERROR_ARGUMENT, nothing changed) and
 * applies it from the next block mixed (see Determinism). */
NEATXM_API neatxm_error neatxm_player_set_interpolation(neatxm_player* player,
                                                        neatxm_interpolation interpolation);
NEATXM_API neatxm_error neatxm_player_set_separation(neatxm_player* player, int32_t percent);
NEATXM_API neatxm_error neatxm_player_set_gain(neatxm_player* player, float db);
NEATXM_API neatxm_error neatxm_player_set_ramp(neatxm_player* player, int32_t ms);
NEATXM_API neatxm_error neatxm_player_set_limiter(neatxm_player* player, int32_t on);
/* The repeat count as in the configuration, counted from the song's start (passes already
 * played count). A count the song has already reached ends it at its next return. */
NEATXM_API neatxm_error neatxm_player_set_repeat(neatxm_player* player, int32_t count);
/* Mute or unmute a channel (0 to channels - 1). While any channel is soloed, only soloed
 * channels sound; muting wins over solo. */
NEATXM_API neatxm_error neatxm_player_set_mute(neatxm_player* player, int32_t channel, int32_t on);
NEATXM_API neatxm_error neatxm_player_set_solo(neatxm_player* player, int32_t channel, int32_t on);

/* ---- Position and seeking ------------------------------------------------------------------- */

typedef struct neatxm_position {
    uint32_t size;   /* sizeof(neatxm_position) */
    int32_t order;   /* order position */
    int32_t pattern; /* pattern at that position */
    int32_t row;     /* the row really playing (also during a pattern loop's jump back) */
    int32_t tick;    /* tick within the row; 0 is the row's first */
    int32_t speed;   /* ticks per row */
    int32_t bpm;
    int32_t passes; /* times the song has come back to a place it had played */
    int64_t frame;  /* frames from the song's start to the next frame handed out */
    double seconds; /* frame / rate */
    int32_t ended;  /* 1: the repeat count has ended the song; rendering gives no frames */
    int32_t reserved;
} neatxm_position;
#define NEATXM_POSITION_INIT                                                                       \
    { sizeof(neatxm_position), 0, 0, 0, 0, 0, 0, 0, 0, 0.0, 0, 0 }

/* Where the song stands at the last frame handed out. */
NEATXM_API neatxm_error neatxm_player_get_position(const neatxm_player* player,
                                                   neatxm_position* position);

typedef enum neatxm_seek {
    /* The frames after the seek are the very frames a straight render gives there. Costs about
     * what rendering up to the target costs. */
    NEATXM_SEEK_EXACT = 0,
    /* Runs only the sequencer up to the target: positions, tempo, effects' memories are right,
     * notes that began before the target start there afresh. Much cheaper. */
    NEATXM_SEEK_FAST = 1
} neatxm_seek;

/* Moves so that the next frame handed out is frame `frame` from the song's start (a straight
 * render's timeline, repeats included). NEATXM_ERROR_RANGE when the repeat count ends the song
 * before it (the player then stays where it was). */
NEATXM_API neatxm_error neatxm_player_seek_frame(neatxm_player* player, int64_t frame,
                                                 neatxm_seek mode);
/* The same in seconds (rounded down to a frame). */
NEATXM_API neatxm_error neatxm_player_seek_seconds(neatxm_player* player, double seconds,
                                                   neatxm_seek mode);
/* Starts row `row` of order position `order` with the next frame handed out; notes that sound
 * go on. The frame count becomes the time at which the song first reaches that order from its
 * start (unchanged when it does not before coming back). NEATXM_ERROR_RANGE for an order or row
 * that does not exist. */
NEATXM_API neatxm_error neatxm_player_seek_order(neatxm_player* player, int32_t order, int32_t row);

/* ---- Channels and events, for display and sync ---------------------------------------------- */

typedef struct neatxm_channel_state {
    uint32_t size;      /* sizeof(neatxm_channel_state) */
    int32_t active;     /* 1 while the channel's voice sounds */
    int32_t note;       /* last note played, 1-96; -1 none */
    int32_t instrument; /* 1-128; -1 none */
    int32_t sample;     /* within the instrument, from 0; -1 none */
    int32_t volume;     /* the channel's volume, 0-64 */
    int32_t panning;    /* 0 left to 255 right */
    int32_t level;      /* the voice's mixed volume for meters, 0-255 (128 is a full note) */
    double frequency;   /* Hz the sample is played at; 0 when silent */
} neatxm_channel_state;
#define NEATXM_CHANNEL_STATE_INIT                                                                  \
    { sizeof(neatxm_channel_state), 0, 0, 0, 0, 0, 0, 0, 0.0 }

/* A channel (0 to channels - 1) at the last tick played. NEATXM_ERROR_RANGE out of range. */
NEATXM_API neatxm_error neatxm_player_get_channel(const neatxm_player* player, int32_t channel,
                                                  neatxm_channel_state* state);

typedef enum neatxm_event_kind {
    NEATXM_EVENT_NOTE = 0, /* a note started on a channel */
    NEATXM_EVENT_ROW = 1,  /* a new row began */
    NEATXM_EVENT_ORDER = 2 /* a new order position began */
} neatxm_event_kind;

typedef struct neatxm_event {
    int64_t frame;   /* frame from the song's start at which it happens */
    int32_t kind;    /* a neatxm_event_kind */
    int32_t channel; /* NEATXM_EVENT_NOTE: the channel, note (1-96), instrument (1-128) and */
    int32_t note;    /* sample within the instrument; -1 for other kinds */
    int32_t instrument;
    int32_t sample;
    int32_t order; /* where the song stands */
    int32_t pattern;
    int32_t row;
    int32_t reserved;
} neatxm_event;

/* Moves the events that happened since the last call (oldest first) into `events`, an array of
 * `capacity` records of `event_size` bytes each (sizeof(neatxm_event) of the caller's header),
 * and writes their number to *count. Events that did not fit stay for the next call. Events are
 * produced as the player mixes, so they run up to a block (1/50 s) ahead of the frames handed
 * out: compare their `frame` with the position's. The player keeps the newest 1024. */
NEATXM_API neatxm_error neatxm_player_take_events(neatxm_player* player, void* events,
                                                  size_t event_size, int32_t capacity,
                                                  int32_t* count);
/* Events lost because more than 1024 waited; counted since the player was made. */
NEATXM_API uint64_t neatxm_player_events_dropped(const neatxm_player* player);

#ifdef __cplusplus
}
#endif

#endif /* NEATXM_H */
