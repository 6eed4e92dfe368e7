/* neatxm.h: a player for extended tracker modules (XM): load a song, make players for it, pull
 * 16-bit or float stereo frames from them.
 *
 * Threads: a song, once loaded, is read-only; any number of players on any threads may play it
 * at once. A player is not locked: use each player from one thread at a time. Loading, song
 * queries and freeing may run on any thread; free a song only after its last player.
 *
 * Determinism: what a player renders depends only on the song's bytes, the rate and the rules,
 * never on the clock or on how the frames are asked for: any split of the same total gives the
 * same frames. Rendering allocates nothing.
 *
 * C-compatible; a thin C++ layer over it is in neatxm.hpp. */
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

#define NEATXM_VERSION_MAJOR 1
#define NEATXM_VERSION_MINOR 0
#define NEATXM_VERSION_PATCH 0

typedef struct neatxm_song neatxm_song;
typedef struct neatxm_player neatxm_player;

/* ---- Errors ------------------------------------------------------------------------------ */

typedef enum neatxm_error_code {
    NEATXM_OK = 0,
    NEATXM_ERROR_CANNOT_OPEN = 1,   /* the file could not be opened */
    NEATXM_ERROR_NOT_XM = 2,        /* not an extended module */
    NEATXM_ERROR_TRUNCATED = 3,     /* the file ends before the data its headers announce */
    NEATXM_ERROR_UNSUPPORTED = 4,   /* beyond what the player handles (channels, rows, samples) */
    NEATXM_ERROR_OUT_OF_MEMORY = 5, /* an allocation failed */
    NEATXM_ERROR_INVALID = 6,       /* contradicting or impossible values in the file */
    NEATXM_ERROR_ARGUMENT = 7,      /* a null pointer, a rate out of range, an unknown choice */
    NEATXM_ERROR_IN_USE = 8         /* a song still played by a player cannot be freed */
} neatxm_error_code;

/* What went wrong, for programs (code) and for people (message: one sentence in English that
 * says what is wrong with the file, e.g. "the header says 0 channels; a song needs at least 1").
 */
typedef struct neatxm_error {
    int code; /* a neatxm_error_code */
    char message[200];
} neatxm_error;

/* ---- Loading ----------------------------------------------------------------------------- */

/* File operations for loading through the caller's own files (archives, resources, a network):
 * the same meaning as the C library's fopen "rb" / fclose / fread / fseek / ftell. `seek` takes
 * the origins 0 (start), 1 (current) and 2 (end) and returns 0 on success. All five are needed. */
typedef struct neatxm_file_callbacks {
    void* (*open)(const char* name);
    int (*close)(void* handle);
    int32_t (*read)(void* buffer, int32_t count, void* handle);
    int (*seek)(void* handle, int32_t offset, int origin);
    int32_t (*tell)(void* handle);
} neatxm_file_callbacks;

/* Each returns the song, or NULL with the reason in `error` (which may be NULL). */
NEATXM_API neatxm_song* neatxm_load_file(const char* path, neatxm_error* error);
NEATXM_API neatxm_song* neatxm_load_memory(const void* data, size_t size, neatxm_error* error);
NEATXM_API neatxm_song* neatxm_load_callbacks(const neatxm_file_callbacks* files, const char* name,
                                              neatxm_error* error);
/* Frees a song. NEATXM_OK; NEATXM_ERROR_IN_USE (nothing freed) while a player still plays it;
 * NEATXM_ERROR_ARGUMENT for NULL. */
NEATXM_API int neatxm_song_free(neatxm_song* song);

/* ---- Song facts -------------------------------------------------------------------------- */

typedef struct neatxm_song_info {
    int channels;
    int orders;           /* length of the order list */
    int restart_position; /* where the order list goes on after its end */
    int patterns;
    int instruments;
    int samples;            /* samples with data of their own, over all instruments */
    int linear_frequencies; /* 1: linear frequency table; 0: the period table */
    int default_speed;      /* ticks per row */
    int default_bpm;
    int version; /* format version, e.g. 0x0104 */
    /* Seconds until the song first comes back to a place it has played (its end going back to
     * the restart position, or a jump back), at 44100 Hz under the standard rules; -1 when it
     * does not within 20 minutes. */
    double length_seconds;
} neatxm_song_info;

NEATXM_API int neatxm_song_get_info(const neatxm_song* song, neatxm_song_info* info);
/* Names as the file stores them (up to 20 or 22 characters, trailing blanks kept); "" when the
 * index is out of range. Instruments and samples count from 0. */
NEATXM_API const char* neatxm_song_title(const neatxm_song* song);
NEATXM_API const char* neatxm_song_tracker(const neatxm_song* song);
NEATXM_API const char* neatxm_instrument_name(const neatxm_song* song, int instrument);
NEATXM_API int neatxm_instrument_samples(const neatxm_song* song, int instrument);
NEATXM_API const char* neatxm_sample_name(const neatxm_song* song, int instrument, int sample);
/* The pattern played at an order position; -1 out of range. */
NEATXM_API int neatxm_song_order(const neatxm_song* song, int position);

/* ---- Players ----------------------------------------------------------------------------- */

/* Where the format's rules and the demo this player was made for differ. NEATXM_RULES_STANDARD
 * follows the format and its original tracker: panning 0 is left, 255 right, with the tracker's
 * panning law, and its flow control, notes, instruments, key-off, envelopes, volume column and
 * effects as the tracker plays them. NEATXM_RULES_DEMO reproduces the demo's soundtrack bit for
 * bit (simpler note and effect handling; panning 255 gives the whole volume to the first output
 * channel). */
typedef enum neatxm_rules { NEATXM_RULES_STANDARD = 0, NEATXM_RULES_DEMO = 1 } neatxm_rules;

/* What happens when the song comes back to a place it has played: it goes on (the default), or
 * rendering stops there (the render calls then return fewer frames, then 0). */
typedef enum neatxm_end { NEATXM_END_WRAP = 0, NEATXM_END_STOP = 1 } neatxm_end;

/* A player for `song` at `rate` Hz (50 to 384000), positioned at the song's start. NULL with the
 * reason in `error` on a NULL song, a rate out of range, an unknown rule set or no memory. */
NEATXM_API neatxm_player* neatxm_player_create(const neatxm_song* song, int rate,
                                               neatxm_rules rules, neatxm_error* error);
NEATXM_API void neatxm_player_destroy(neatxm_player* player);

/* Render up to `frames` stereo frames, interleaved (first channel, second channel), into the
 * caller's buffer. Returns the frames written: all of them, unless the end mode is
 * NEATXM_END_STOP and the song has come back to a place it has played. Float frames are the
 * mix before its 16-bit rounding, 1.0 = 32768, not clipped. */
NEATXM_API size_t neatxm_render_s16(neatxm_player* player, int16_t* interleaved, size_t frames);
NEATXM_API size_t neatxm_render_float(neatxm_player* player, float* interleaved, size_t frames);

typedef struct neatxm_position {
    int order;   /* order position */
    int pattern; /* pattern at that position */
    int row;     /* the row really playing (also during a pattern loop's jump back) */
    int tick;    /* tick within the row; 0 is the row's first */
    int speed;   /* ticks per row */
    int bpm;
    uint64_t frames; /* frames rendered since the start (a seek sets the count anew) */
    double seconds;  /* frames / rate */
    int loops;       /* times the song came back to a place it had played */
    int ended;       /* NEATXM_END_STOP has stopped the rendering */
} neatxm_position;

/* Where the song stands at the last frame rendered. */
NEATXM_API int neatxm_player_position(const neatxm_player* player, neatxm_position* position);
/* Moves to the start of an order position (0 to orders - 1); the next frame rendered is that
 * position's first row. Notes that sound go on. The frame count becomes the time at which the
 * song first reaches that position when played from its start (unchanged when it does not
 * before wrapping); loops are counted anew. */
NEATXM_API int neatxm_player_seek(neatxm_player* player, int order);
NEATXM_API int neatxm_player_set_end(neatxm_player* player, neatxm_end end);
/* The volume of a channel's voice at the last tick, for level meters: 0-255, where a note at
 * full volume (64) under full global volume gives half the range (128 under the standard rules,
 * 127 under the demo's); 0 when silent or out of range. */
NEATXM_API int neatxm_player_channel_volume(const neatxm_player* player, int channel);

#ifdef __cplusplus
}
#endif

#endif /* NEATXM_H */
