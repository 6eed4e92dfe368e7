/* old_records.c: a program of an older minor version meets the library whose records have grown.
 * It is built against neatxm.h but declares its records as an older header would have, with
 * fewer fields, and checks that the library honours their sizes: it writes only the fields
 * they hold (the bytes after them stay as they were), reads only those (the fields they lack
 * take their defaults, whatever lies in memory after them), and refuses a size that holds no
 * field at all. Prints one line per failed check; exits 1 on any.
 *
 *   old_records SONG.xm */
#include <neatxm.h>

#include <stdio.h>
#include <string.h>

/* The records as an older header declared them: their first fields, in the same order. */
typedef struct old_song_info {
    uint32_t size;
    int32_t format, channels, orders;
} old_song_info;

typedef struct old_config {
    uint32_t size;
    int32_t rate, rules;
} old_config;

typedef struct old_position {
    uint32_t size;
    int32_t order, pattern, row;
} old_position;

typedef struct old_channel_state {
    uint32_t size;
    int32_t active, note;
} old_channel_state;

typedef struct old_event {
    int64_t frame;
    int32_t kind, channel;
} old_event;

/* Each old record with memory after it that the library must neither write nor read. */
#define FILL 0x5A
typedef struct {
    old_song_info record;
    unsigned char after[64];
} song_info_in_memory;
typedef struct {
    old_config record;
    int32_t after[16]; /* values no field may take: a read past the record would be refused */
} config_in_memory;
typedef struct {
    old_position record;
    unsigned char after[64];
} position_in_memory;
typedef struct {
    old_channel_state record;
    unsigned char after[64];
} channel_in_memory;

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        printf("old_records: FAILED: %s\n", what);
        ++failures;
    }
}

static int untouched(const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != FILL) return 0;
    return 1;
}

enum { RATE = 22050, FRAMES = 20000 };
static int16_t old_frames[2 * FRAMES], new_frames[2 * FRAMES];

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s SONG.xm\n", argv[0]);
        return 2;
    }
    check(neatxm_version() >> 16 == NEATXM_VERSION_MAJOR, "the library's major version");
    check(neatxm_version() >= NEATXM_VERSION, "the library is at least the header's version");

    char message[256];
    neatxm_song* song = NULL;
    if (neatxm_song_load_file(argv[1], &song, message, sizeof message) != NEATXM_OK) {
        printf("old_records: %s: %s\n", argv[1], message);
        return 1;
    }
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    check(neatxm_song_get_info(song, &info) == NEATXM_OK, "song facts in today's record");

    /* ---- an old output record: the fields it holds, nothing after them ---- */
    song_info_in_memory old_info;
    memset(&old_info, FILL, sizeof old_info);
    old_info.record.size = sizeof old_info.record;
    check(neatxm_song_get_info(song, (neatxm_song_info*)&old_info.record) == NEATXM_OK,
          "song facts in an old record");
    check(old_info.record.size == sizeof(old_song_info), "the old record keeps its size");
    check(old_info.record.format == info.format && old_info.record.channels == info.channels &&
              old_info.record.orders == info.orders,
          "the old record's song facts");
    check(untouched(old_info.after, sizeof old_info.after), "nothing written after the facts");
    old_info.record.size = sizeof(uint32_t);
    check(neatxm_song_get_info(song, (neatxm_song_info*)&old_info.record) ==
              NEATXM_ERROR_RECORD_SIZE,
          "a record of its size field alone is refused");

    /* ---- an old configuration: the rest takes the defaults ---- */
    config_in_memory old;
    memset(&old, 0x7F, sizeof old);
    old.record.size = sizeof old.record;
    old.record.rate = RATE;
    old.record.rules = NEATXM_RULES_DEMO;
    neatxm_player* from_old = NULL;
    check(neatxm_player_create(song, (const neatxm_player_config*)&old.record, &from_old, message,
                               sizeof message) == NEATXM_OK,
          "a player from an old configuration");
    neatxm_player_config today = NEATXM_PLAYER_CONFIG_INIT;
    today.rate = RATE;
    today.rules = NEATXM_RULES_DEMO;
    neatxm_player* from_today = NULL;
    check(neatxm_player_create(song, &today, &from_today, message, sizeof message) == NEATXM_OK,
          "a player from today's configuration");
    if (!from_old || !from_today) {
        printf("old_records: %s\n", message);
        return 1;
    }
    neatxm_player_config used = NEATXM_PLAYER_CONFIG_INIT, wanted = NEATXM_PLAYER_CONFIG_INIT;
    neatxm_player_get_config(from_old, &used);
    neatxm_player_get_config(from_today, &wanted);
    check(memcmp(&used, &wanted, sizeof used) == 0, "the fields the old record lacks are defaults");
    check(neatxm_player_render_s16(from_old, old_frames, FRAMES) == FRAMES &&
              neatxm_player_render_s16(from_today, new_frames, FRAMES) == FRAMES &&
              memcmp(old_frames, new_frames, sizeof old_frames) == 0,
          "both players render the same frames");

    /* ---- old position and channel records ---- */
    neatxm_position position = NEATXM_POSITION_INIT;
    neatxm_player_get_position(from_today, &position);
    position_in_memory old_position;
    memset(&old_position, FILL, sizeof old_position);
    old_position.record.size = sizeof old_position.record;
    check(neatxm_player_get_position(from_old, (neatxm_position*)&old_position.record) == NEATXM_OK,
          "the position in an old record");
    check(old_position.record.order == position.order &&
              old_position.record.pattern == position.pattern &&
              old_position.record.row == position.row,
          "the old record's position");
    check(untouched(old_position.after, sizeof old_position.after),
          "nothing written after the position");

    neatxm_channel_state state = NEATXM_CHANNEL_STATE_INIT;
    neatxm_player_get_channel(from_today, 0, &state);
    channel_in_memory old_state;
    memset(&old_state, FILL, sizeof old_state);
    old_state.record.size = sizeof old_state.record;
    check(neatxm_player_get_channel(from_old, 0, (neatxm_channel_state*)&old_state.record) ==
              NEATXM_OK,
          "a channel in an old record");
    check(old_state.record.active == state.active && old_state.record.note == state.note,
          "the old record's channel");
    check(untouched(old_state.after, sizeof old_state.after), "nothing written after the channel");

    /* ---- old events: the caller's stride, nothing past the array ---- */
    neatxm_event events[8];
    int32_t count = 0, old_count = 0;
    neatxm_player_take_events(from_today, events, sizeof events[0], 8, &count);
    unsigned char old_events[sizeof(old_event) * 9];
    memset(old_events, FILL, sizeof old_events);
    check(neatxm_player_take_events(from_old, old_events, sizeof(old_event), 8, &old_count) ==
              NEATXM_OK,
          "events in old records");
    check(old_count == count && count == 8, "as many old events as new ones");
    for (int32_t i = 0; i < old_count && i < count; ++i) {
        old_event e;
        memcpy(&e, old_events + (size_t)i * sizeof e, sizeof e);
        if (e.frame != events[i].frame || e.kind != events[i].kind ||
            e.channel != events[i].channel) {
            check(0, "an old event differs from the new one");
            break;
        }
    }
    check(untouched(old_events + 8 * sizeof(old_event), sizeof(old_event)),
          "nothing written past the old events");

    neatxm_player_free(from_old);
    neatxm_player_free(from_today);
    check(neatxm_song_free(song) == NEATXM_OK, "the song is freed after its players");
    if (failures == 0) printf("old_records: all checks passed\n");
    return failures ? 1 : 0;
}
