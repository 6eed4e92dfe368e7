// wav_render.cpp: --render: whole player blocks pulled through the public API into a WAV file,
// until the song first comes back to a place it has played (at most 20 minutes) or for a given
// time, with the header xmrender writes. Main thread.
#include "wav_render.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "music/mixer.h"
#include "render.h"

bool RenderSongToWav(const neatxm_song* song, const char* wavPath, const RenderChoice& choice,
                     std::string* error) {
    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.rate = choice.rate;
    config.rules = choice.rules;
    char message[512];
    neatxm_player* player = nullptr;
    if (neatxm_player_create(song, &config, &player, message, sizeof message) != NEATXM_OK) {
        *error = message;
        return false;
    }
    // The player's block: the wrap rule below counts whole blocks, as xmrender does.
    const int blockFrames = BlockFrames(choice.rate);
    int64_t blocks = (int64_t{20} * 60 * choice.rate + blockFrames - 1) / blockFrames;
    const bool untilWrap = choice.seconds <= 0;
    if (!untilWrap) {
        const double frames = choice.seconds * choice.rate;
        blocks = static_cast<int64_t>((frames + blockFrames - 1) / blockFrames);
        if (blocks < 1) blocks = 1;
    }

    FILE* wav = fopen(wavPath, "wb");
    if (!wav) {
        *error = std::string("cannot write ") + wavPath + ": " + strerror(errno);
        neatxm_player_free(player);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    setvbuf(wav, buffer.data(), _IOFBF, buffer.size());
    uint8_t header[44];
    MakeWavHeader(header, 0, choice.rate);
    bool ok = fwrite(header, 1, sizeof header, wav) == sizeof header;

    std::vector<int16_t> frames(static_cast<size_t>(blockFrames) * 2);
    int64_t written = 0;
    for (int64_t b = 0; ok && b < blocks; ++b) {
        neatxm_player_render_s16(player, frames.data(), static_cast<size_t>(blockFrames));
        ok = fwrite(frames.data(), sizeof(int16_t), frames.size(), wav) == frames.size();
        written += blockFrames;
        // The block in which the song came back to a place it had played is the last one.
        neatxm_position position = NEATXM_POSITION_INIT;
        neatxm_player_get_position(player, &position);
        if (untilWrap && position.passes > 0) break;
    }
    neatxm_player_free(player);
    if (ok) {
        MakeWavHeader(header, static_cast<uint32_t>(written), choice.rate);
        ok = fseek(wav, 0, SEEK_SET) == 0 && fwrite(header, 1, sizeof header, wav) == sizeof header;
    }
    if (fclose(wav) != 0) ok = false;
    if (!ok) *error = std::string("cannot write ") + wavPath;
    return ok;
}
