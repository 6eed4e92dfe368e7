/* render_wav.c: the neatxm library from C: loads a song (XM or MOD), renders its first 10
 * seconds at 44100 Hz as 16-bit stereo with cubic interpolation and the soft limiter, and writes
 * them to a WAV file.
 *
 *   render_wav SONG OUT.wav
 *
 * Exits with 1, after the library's message, when the song cannot be loaded. */
#include <neatxm.h>

#include <stdint.h>
#include <stdio.h>

enum { RATE = 44100, SECONDS = 10, CHUNK_FRAMES = 4096 };

/* WAV files are little-endian whatever the machine. */
static void put16(FILE* file, unsigned value) {
    fputc(value & 0xFF, file);
    fputc((value >> 8) & 0xFF, file);
}

static void put32(FILE* file, uint32_t value) {
    put16(file, value & 0xFFFF);
    put16(file, value >> 16);
}

static void write_wav_header(FILE* file, uint32_t frames) {
    uint32_t data_bytes = frames * 4; /* 2 channels x 2 bytes */
    fputs("RIFF", file);
    put32(file, 36 + data_bytes);
    fputs("WAVEfmt ", file);
    put32(file, 16);       /* format block size */
    put16(file, 1);        /* PCM */
    put16(file, 2);        /* channels */
    put32(file, RATE);     /* frames per second */
    put32(file, RATE * 4); /* bytes per second */
    put16(file, 4);        /* bytes per frame */
    put16(file, 16);       /* bits per sample */
    fputs("data", file);
    put32(file, data_bytes);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s SONG OUT.wav\n", argv[0]);
        return 2;
    }
    /* Built against one major version, the program needs a library of the same. */
    if (neatxm_version() >> 16 != NEATXM_VERSION_MAJOR) {
        fprintf(stderr, "neatxm %s found, but this program needs %d.x\n", neatxm_version_text(),
                NEATXM_VERSION_MAJOR);
        return 1;
    }

    char message[256];
    neatxm_song* song = NULL;
    if (neatxm_song_load_file(argv[1], &song, message, sizeof message) != NEATXM_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], message);
        return 1;
    }
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    neatxm_song_get_info(song, &info);
    printf("\"%s\": %d channels, %d orders, %d instruments\n", neatxm_song_title(song),
           info.channels, info.orders, info.instruments);

    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.rate = RATE;
    config.interpolation = NEATXM_INTERPOLATION_CUBIC;
    config.limiter = 1;
    neatxm_player* player = NULL;
    neatxm_error made = neatxm_player_create(song, &config, &player, message, sizeof message);
    FILE* out = made == NEATXM_OK ? fopen(argv[2], "wb") : NULL;
    if (!out) {
        fprintf(stderr, "%s\n", made == NEATXM_OK ? "cannot create the WAV file" : message);
        neatxm_player_free(player);
        neatxm_song_free(song);
        return 1;
    }

    const uint32_t total = RATE * SECONDS;
    write_wav_header(out, total);
    int16_t frames[CHUNK_FRAMES * 2]; /* interleaved: first channel, second channel */
    for (uint32_t done = 0; done < total;) {
        size_t want = total - done < CHUNK_FRAMES ? total - done : CHUNK_FRAMES;
        /* A player plays on at the song's end by default (repeat 0), so every call fills all
         * it is asked. */
        size_t got = neatxm_player_render_s16(player, frames, want);
        for (size_t i = 0; i < got * 2; ++i) put16(out, (uint16_t)frames[i]);
        done += (uint32_t)got;
    }

    int failed = ferror(out) | fclose(out);
    neatxm_player_free(player); /* players first: a song still played cannot be freed */
    neatxm_song_free(song);
    if (failed) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    printf("wrote %s: %d s at %d Hz\n", argv[2], SECONDS, RATE);
    return 0;
}
