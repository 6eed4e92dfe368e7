// make_seeds.cpp: writes the MOD fuzzer's seed files (small songs made with the tests' MOD
// writer: one per tag family and layout, with effects on every track) into a folder.
// Usage: mod_fuzz_seeds <folder>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mod_writer.h"

namespace {

// Two patterns touching every effect, two samples (one looped).
modw::Song Busy(const std::string& tag, int channels) {
    modw::Song song = modw::MinimalSong();
    song.tag = tag;
    song.channels = channels;
    song.orders = {0, 1, 0};
    modw::Sample looped = song.samples[0];
    looped.loopStartWords = 16;
    looped.loopLengthWords = 32;
    looped.finetune = 0x0D;
    song.samples.push_back(looped);
    const int samples = tag.empty() ? 15 : 31;
    for (int p = 0; p < 2; ++p) {
        for (int r = 0; r < 64; ++r) {
            for (int t = 0; t < channels; ++t) {
                const int k = r * channels + t + p * 7;
                modw::Cell cell;
                cell.period = k % 3 == 0 ? modw::Period(k % 36) : 0;
                cell.sample = static_cast<uint8_t>(k % 5 == 0 ? 1 + k % 2 : 0);
                cell.effect = static_cast<uint8_t>(k % 16);
                cell.parameter = static_cast<uint8_t>((k * 37) % 256);
                if (cell.sample > samples) cell.sample = 1;
                modw::Put(song, p, r, t, cell);
            }
        }
    }
    return song;
}

bool Save(const std::string& folder, const std::string& name, const modw::Song& song) {
    const std::vector<uint8_t> bytes = modw::WriteMod(song);
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;
    const std::pair<const char*, int> tags[] = {{"M.K.", 4}, {"FLT4", 4}, {"FLT8", 4},
                                                {"6CHN", 6}, {"CD81", 8}, {"12CH", 12},
                                                {"TDZ3", 3}, {"FEST", 4}, {"", 4}};
    for (const auto& [tag, channels] : tags) {
        const std::string name = std::string("busy_") + (tag[0] ? tag : "15samples") + ".mod";
        ok = Save(folder, name, Busy(tag, channels)) && ok;
    }
    modw::Song cut = Busy("M.K.", 4);
    cut.truncateTo = 1084 + 1024 + 100;
    ok = Save(folder, "cut_in_patterns.mod", cut) && ok;
    // A ten-minute song whose one F20 reads as a speed (the timing scan's variant).
    modw::Song speeds = modw::MinimalSong();
    modw::Put(speeds, 0, 63, 0, {0, 0, 0xF, 0x20});
    modw::Put(speeds, 1, 0, 0, {0, 0, 0xF, 0x06});
    speeds.orders.assign(21, 1);
    speeds.orders[0] = 0;
    ok = Save(folder, "speeds_only.mod", speeds) && ok;
    return ok ? 0 : 1;
}
