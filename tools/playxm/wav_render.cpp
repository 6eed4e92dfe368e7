// wav_render.cpp: --render: whole player blocks pulled from the library's player into a WAV
// file, until the song first comes back to a place it has played (at most 20 minutes), for a
// given time, or for a number of passes, with the header xmrender writes. Main thread.
#include "wav_render.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "music/mixer.h"
#include "music/player.h"
#include "music/seeking.h"
#include "music/song_handle.h"
#include "render.h"

bool RenderSongToWav(const neatxm_song* song, const char* wavPath, const RenderChoice& choice,
                     std::string* error) {
    const PlayerRules rules =
        choice.rules == NEATXM_RULES_DEMO ? PlayerRules::Demo : PlayerRules::Standard;
    Player* player = CreatePlayer(SongModule(song), choice.rate, rules);
    if (!player) {
        *error = "the player could not be made (rate or memory)";
        return false;
    }
    player->controls = choice.mix;
    if (choice.repeat > 0) SetRepeatCount(player, choice.repeat);
    // The player's block: the wrap rule below counts whole blocks, as xmrender does.
    const int blockFrames = BlockFrames(choice.rate);
    int64_t blocks = (int64_t{20} * 60 * choice.rate + blockFrames - 1) / blockFrames;
    const bool untilWrap = choice.seconds <= 0 && choice.repeat <= 0;
    if (choice.seconds > 0) {
        const double frames = choice.seconds * choice.rate;
        blocks = static_cast<int64_t>((frames + blockFrames - 1) / blockFrames);
        if (blocks < 1) blocks = 1;
    }
    if (choice.repeat > 0) blocks *= choice.repeat;

    FILE* wav = fopen(wavPath, "wb");
    if (!wav) {
        *error = std::string("cannot write ") + wavPath + ": " + strerror(errno);
        DestroyPlayer(player);
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
        const int32_t got = RenderPcm16(player, frames.data(), blockFrames);
        ok = fwrite(frames.data(), 4, static_cast<size_t>(got), wav) == static_cast<size_t>(got);
        written += got;
        // The last pass of a repeat count ends inside its block.
        if (got < blockFrames) break;
        // The block in which the song came back to a place it had played is the last one.
        if (untilWrap && player->watch.wraps > 0) break;
    }
    DestroyPlayer(player);
    if (ok) {
        MakeWavHeader(header, static_cast<uint32_t>(written), choice.rate);
        ok = fseek(wav, 0, SEEK_SET) == 0 && fwrite(header, 1, sizeof header, wav) == sizeof header;
    }
    if (fclose(wav) != 0) ok = false;
    if (!ok) *error = std::string("cannot write ") + wavPath;
    return ok;
}
