/* render_wav.c: the neatxm library from C: loads an XM song, renders its first 10 seconds at
 * 44100 Hz as 16-bit stereo and writes them to a WAV file.
 *
 *   render_wav SONG.xm OUT.wav
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
        fprintf(stderr, "usage: %s SONG.xm OUT.wav\n", argv[0]);
        return 2;
    }

    neatxm_error error;
    neatxm_song* song = neatxm_load_file(argv[1], &error);
    if (!song) {
        fprintf(stderr, "%s: %s\n", argv[1], error.message);
        return 1;
    }
    neatxm_song_info info;
    neatxm_song_get_info(song, &info);
    printf("\"%s\": %d channels, %d orders, %d instruments\n", neatxm_song_title(song),
           info.channels, info.orders, info.instruments);

    neatxm_player* player = neatxm_player_create(song, RATE, NEATXM_RULES_STANDARD, &error);
    FILE* out = player ? fopen(argv[2], "wb") : NULL;
    if (!out) {
        fprintf(stderr, "%s\n", player ? "cannot create the WAV file" : error.message);
        neatxm_player_destroy(player);
        neatxm_song_free(song);
        return 1;
    }

    const uint32_t total = RATE * SECONDS;
    write_wav_header(out, total);
    int16_t frames[CHUNK_FRAMES * 2]; /* interleaved: first channel, second channel */
    for (uint32_t done = 0; done < total;) {
        size_t want = total - done < CHUNK_FRAMES ? total - done : CHUNK_FRAMES;
        /* A player wraps at the song's end by default, so every call fills all it is asked. */
        size_t got = neatxm_render_s16(player, frames, want);
        for (size_t i = 0; i < got * 2; ++i) put16(out, (uint16_t)frames[i]);
        done += (uint32_t)got;
    }

    int failed = ferror(out) | fclose(out);
    neatxm_player_destroy(player); /* players first: a song still played cannot be freed */
    neatxm_song_free(song);
    if (failed) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    printf("wrote %s: %d s at %d Hz\n", argv[2], SECONDS, RATE);
    return 0;
}
