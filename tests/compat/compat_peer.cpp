// compat_peer.cpp: plays every corpus song (XM or MOD) with our player and with a mature peer
// player (libopenmpt) side by side, in-process, and checks per song that both load or both refuse,
// that the order/row timeline agrees on every 884-frame block, and that the loudness envelopes move
// together (the last block, cut short by the song's end, aside). Prints one line per song and
// exits non-zero when a song fails a check that the known-differences file does not list, or
// passes one that it does.
//
//   compat_peer [--rules standard|demo] [--seconds N] [--known FILE] [--verbose] CORPUS_DIR
//               [NAME_FILTER]
//
// The peer's own end of the song (or --seconds, default 240) sets each song's length. Exit
// status 77 (a skip for ctest) when the corpus folder is absent. --verbose adds both players'
// row timelines and envelopes, for finding where they part.
#include "music/module.h"
#include "music/player.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t BLOCK = 884; // the player's block at 44100 Hz
constexpr int32_t CHUNK = 68;  // 13 chunks to a block: positions are sampled per chunk
constexpr int32_t CHUNKS_PER_BLOCK = BLOCK / CHUNK;
constexpr int32_t ENVELOPE_FRAMES = RATE / 20; // RMS windows of 50 ms
constexpr double MIN_CORRELATION = 0.9;
// The envelope's floor: 60 dB below full scale. Quieter than that both players count as silent,
// so that a ramp's last few steps or a fade's tail do not dominate the shape.
constexpr double FLOOR_POWER = 32768.0 * 32768.0 * 1e-6;

struct Position {
    int32_t order;
    int32_t row;
    bool operator==(const Position&) const = default;
};

// One side's run: the position after every chunk, the power of every 50 ms window, the tick
// length (frames) at every chunk, the frames played.
struct Run {
    bool loaded = false;
    std::string error;
    std::vector<Position> positions;
    std::vector<int32_t> tickFrames;
    std::vector<double> power; // mean square per window (both channels)
    int64_t frames = 0;
};

struct PowerMeter {
    std::vector<double>* out;
    double sum = 0;
    int32_t count = 0;
    void Add(const int16_t* stereo, int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) {
            const double l = stereo[2 * i], r = stereo[2 * i + 1];
            sum += (l * l + r * r) * 0.5;
            if (++count == ENVELOPE_FRAMES) {
                out->push_back(sum / ENVELOPE_FRAMES);
                sum = 0;
                count = 0;
            }
        }
    }
};

std::vector<char> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Run RunOurs(const std::vector<char>& bytes, PlayerRules rules, int64_t capFrames, bool untilWrap) {
    Run run;
    LoadError error{};
    Module* module = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr, &error);
    if (!module) {
        run.error = error.message;
        return run;
    }
    run.loaded = true;
    Player* player = CreatePlayer(module, RATE, rules);
    if (!player) {
        run.error = "no player";
        FreeModule(module);
        return run;
    }
    // The peer's run decides the length (it ends where the peer finds the song's end): our
    // player goes on past its own first wrap so that the whole of the peer's timeline is
    // compared. Without the peer's run, our first wrap ends it.
    player->endMode = untilWrap ? EndMode::Stop : EndMode::Wrap;
    // Both players pan as the song's rules do (MOD songs: hard left and right), so that the
    // loudness of both channels together compares like with like.
    player->controls.separation = 100;
    int16_t buffer[CHUNK * 2];
    PowerMeter meter{&run.power};
    while (run.frames < capFrames) {
        const int32_t got = RenderPcm16(player, buffer, CHUNK);
        if (got < CHUNK) break;
        meter.Add(buffer, got);
        run.frames += got;
        run.positions.push_back({player->heard.order, player->heard.row});
        run.tickFrames.push_back(RATE * 5 / (2 * std::max(player->heard.bpm, 1)));
    }
    DestroyPlayer(player);
    FreeModule(module);
    return run;
}

Run RunPeer(const std::vector<char>& bytes, int64_t capFrames) {
    Run run;
    int error = 0;
    const char* message = nullptr;
    // The peer's own log stays quiet: its refusals are reported in the song's line.
    openmpt_module* mod =
        openmpt_module_create_from_memory2(bytes.data(), bytes.size(), openmpt_log_func_silent,
                                           nullptr, nullptr, nullptr, &error, &message, nullptr);
    if (!mod) {
        run.error = message ? message : "refused";
        openmpt_free_string(message);
        return run;
    }
    openmpt_free_string(message);
    run.loaded = true;
    // Linear interpolation, as our mixer does; the loudness differs anyway (only the envelope's
    // shape is compared). The song's end stops the run instead of fading or repeating.
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    // The peer's 100 % leaves a quarter of each MOD track on the other side (measured: one
    // track alone is 9.5 dB quieter there than on its own); its 200 % is the hard left and right
    // our player and the Amiga pan to. The peer names the MOD family's files mod, stk (15
    // samples), st26 and ice (the later 15-sample tracker's); other formats pan as they say at
    // 100 %.
    const char* type = openmpt_module_get_metadata(mod, "type");
    bool hardPanned = false;
    for (const char* family : {"mod", "stk", "st26", "ice"})
        hardPanned = hardPanned || (type && std::strcmp(type, family) == 0);
    openmpt_free_string(type);
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_STEREOSEPARATION_PERCENT,
                                    hardPanned ? 200 : 100);
    openmpt_module_set_repeat_count(mod, 0);
    openmpt_module_ctl_set_text(mod, "play.at_end", "stop");
    openmpt_module_ctl_set_integer(mod, "dither", 0);
    int16_t buffer[CHUNK * 2];
    PowerMeter meter{&run.power};
    while (run.frames < capFrames) {
        const size_t got = openmpt_module_read_interleaved_stereo(mod, RATE, CHUNK, buffer);
        if (got < static_cast<size_t>(CHUNK)) break;
        meter.Add(buffer, CHUNK);
        run.frames += CHUNK;
        run.positions.push_back(
            {openmpt_module_get_current_order(mod), openmpt_module_get_current_row(mod)});
    }
    openmpt_module_destroy(mod);
    return run;
}

// The positions with repeats merged: the sequence of rows entered.
std::vector<Position> RowSequence(const std::vector<Position>& positions, size_t count) {
    std::vector<Position> rows;
    for (size_t i = 0; i < count; ++i)
        if (rows.empty() || !(rows.back() == positions[i])) rows.push_back(positions[i]);
    return rows;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b, size_t n,
                   bool* flat) {
    auto db = [](double power) { return 10.0 * std::log10(std::max(power, FLOOR_POWER)); };
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += db(a[i]), mb += db(b[i]);
    ma /= n, mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = db(a[i]) - ma, y = db(b[i]) - mb;
        sab += x * y, saa += x * x, sbb += y * y;
    }
    // Both envelopes flat within a decibel (a held tone, or silence): nothing to correlate, and
    // nothing that disagrees either.
    *flat = saa / n < 1.0 && sbb / n < 1.0;
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

std::string Describe(const Position& p) {
    return std::to_string(p.order) + "/" + std::to_string(p.row);
}

// The three checks of a song; a check that does not apply (both refuse) passes.
struct Verdict {
    bool load = true;     // both load or both refuse
    bool timeline = true; // every block within a tick, and the same rows entered
    bool envelope = true; // the loudness envelopes correlate
    std::string line;     // the figures, and where the timelines part
};

Verdict Compare(const Run& ours, const Run& peer, bool verbose) {
    Verdict v;
    char text[200];
    if (ours.loaded != peer.loaded) {
        v.load = false;
        v.line = ours.loaded ? "loads here, the peer refuses it (" + peer.error + ")"
                             : "refused here (" + ours.error + "), the peer loads it";
        return v;
    }
    if (!ours.loaded) {
        v.line = "both refuse";
        return v;
    }
    // Whole blocks both sides played; the block cut short by the end of the shorter run is left
    // out.
    const size_t chunks = std::min(ours.positions.size(), peer.positions.size());
    const size_t blocks = chunks / CHUNKS_PER_BLOCK;
    size_t exact = 0, close = 0;
    int64_t firstBad = -1;
    for (size_t b = 0; b < blocks; ++b) {
        const size_t e = (b + 1) * CHUNKS_PER_BLOCK - 1;
        if (ours.positions[e] == peer.positions[e]) {
            ++exact, ++close;
            continue;
        }
        // The players may see a row change up to a tick apart (where a tick falls relative to
        // the block boundary): the block agrees when the peer stands at our row within one tick.
        const size_t slack = static_cast<size_t>(ours.tickFrames[e] / CHUNK + 1);
        bool found = false;
        for (size_t i = e > slack ? e - slack : 0; i <= std::min(e + slack, chunks - 1); ++i)
            found = found || peer.positions[i] == ours.positions[e];
        if (found) {
            ++close;
        } else if (firstBad < 0) {
            firstBad = static_cast<int64_t>(b);
        }
    }
    // The rows entered, in order, must be the same: a slack of a tick may not hide a row played
    // in one and not the other.
    const size_t span = blocks * CHUNKS_PER_BLOCK;
    const auto rowsOurs = RowSequence(ours.positions, span);
    const auto rowsPeer = RowSequence(peer.positions, span);
    size_t sameRows = 0;
    while (sameRows < rowsOurs.size() && sameRows < rowsPeer.size() &&
           rowsOurs[sameRows] == rowsPeer[sameRows])
        ++sameRows;
    // The last row of the span may be entered by one player a little before the other.
    const bool rowsAgree = sameRows + 1 >= std::max(rowsOurs.size(), rowsPeer.size());

    const size_t windows = std::min(ours.power.size(), peer.power.size());
    bool flat = false;
    const double correlation =
        windows >= 3 ? Correlation(ours.power, peer.power, windows, &flat) : 1.0;
    const bool envelopeAgrees = windows < 3 || flat || correlation > MIN_CORRELATION;

    v.timeline = close == blocks && rowsAgree;
    v.envelope = envelopeAgrees;
    snprintf(text, sizeof text,
             "blocks %zu exact %5.1f%% within a tick %5.1f%%  rows %s  envelope r=%.3f%s  "
             "length %.1f s",
             blocks, blocks ? 100.0 * exact / blocks : 100.0,
             blocks ? 100.0 * close / blocks : 100.0, rowsAgree ? "same" : "DIFFER", correlation,
             flat ? " (flat)" : "", peer.frames / double(RATE));
    v.line = text;
    if (firstBad >= 0) {
        const size_t e = (firstBad + 1) * CHUNKS_PER_BLOCK - 1;
        v.line += "\n       first block apart: " + std::to_string(firstBad) + " (" +
                  std::to_string(firstBad * BLOCK * 1000 / RATE) + " ms): ours " +
                  Describe(ours.positions[e]) + ", peer " + Describe(peer.positions[e]);
    }
    if (!rowsAgree) {
        v.line += "\n       rows entered: same for " + std::to_string(sameRows) + ", then";
        for (size_t i = sameRows; i < sameRows + 12; ++i) {
            v.line += " " + (i < rowsOurs.size() ? Describe(rowsOurs[i]) : "-") + "|" +
                      (i < rowsPeer.size() ? Describe(rowsPeer[i]) : "-");
        }
        v.line += " (ours|peer)";
    }
    if (verbose) {
        // Every row entered with the time (ms) at which the chunk that first shows it ends.
        auto timeline = [&](const std::vector<Position>& positions) {
            std::string out;
            for (size_t i = 0; i < span; ++i)
                if (i == 0 || !(positions[i] == positions[i - 1]))
                    out += " " + Describe(positions[i]) + "@" +
                           std::to_string((i + 1) * CHUNK * 1000 / RATE);
            return out;
        };
        v.line += "\n       rows ours:" + timeline(ours.positions);
        v.line += "\n       rows peer:" + timeline(peer.positions);
        char level[32];
        v.line += "\n       dB ours|peer:";
        for (size_t i = 0; i < windows && i < 200; ++i) {
            snprintf(level, sizeof level, " %.0f|%.0f",
                     10 * std::log10(std::max(ours.power[i], 1.0)),
                     10 * std::log10(std::max(peer.power[i], 1.0)));
            v.line += level;
        }
    }
    return v;
}

// Known differences: "SONG CHECK # why" lines (CHECK: load, timeline or envelope), read from
// a file. A song's listed check may fail without failing the run; when it passes, the run fails
// so that the line is taken out.
std::vector<std::pair<std::string, std::string>> ReadKnown(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> known;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        char song[256], check[32];
        if (sscanf(line.c_str(), "%255s %31s", song, check) == 2) known.emplace_back(song, check);
    }
    return known;
}

// XM and MOD files, by their extension in any case (the corpus keeps nothing else beside them
// but its README).
bool IsSong(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".xm" || extension == ".mod";
}

} // namespace

int main(int argc, char** argv) {
    PlayerRules rules = PlayerRules::Standard;
    double seconds = 240;
    bool verbose = false;
    std::string knownPath;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rules" && i + 1 < argc) {
            rules = std::string(argv[++i]) == "demo" ? PlayerRules::Demo : PlayerRules::Standard;
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (arg == "--known" && i + 1 < argc) {
            knownPath = argv[++i];
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        fprintf(stderr, "usage: compat_peer [--rules standard|demo] [--seconds N] [--known FILE] "
                        "[--verbose] CORPUS_DIR [NAME_FILTER]\n");
        return 2;
    }
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(args[0], ec))
        if (IsSong(entry.path())) files.push_back(entry.path());
    if (ec || files.empty()) {
        printf("compat_peer: no songs in %s: skipped\n", args[0].c_str());
        return 77;
    }
    std::sort(files.begin(), files.end());
    const auto known = knownPath.empty() ? std::vector<std::pair<std::string, std::string>>{}
                                         : ReadKnown(knownPath);
    auto isKnown = [&](const std::string& song, const char* check) {
        return std::find(known.begin(), known.end(), std::make_pair(song, std::string(check))) !=
               known.end();
    };
    const int64_t capFrames = static_cast<int64_t>(seconds * RATE);
    int checked = 0, failed = 0, bothLoad = 0, onTimeline = 0, knownFailures = 0;
    for (const auto& path : files) {
        const std::string name = std::filesystem::relative(path, args[0]).generic_string();
        if (args.size() > 1 && name.find(args[1]) == std::string::npos) continue;
        const std::vector<char> bytes = ReadFile(path);
        // The peer's run first: its length is the song's (see RunOurs).
        const Run peer = RunPeer(bytes, capFrames);
        const Run ours = RunOurs(bytes, rules, peer.loaded ? peer.frames : capFrames, !peer.loaded);
        const Verdict v = Compare(ours, peer, verbose);
        std::string status;
        bool songFails = false;
        const std::pair<const char*, bool> checks[] = {
            {"load", v.load}, {"timeline", v.timeline}, {"envelope", v.envelope}};
        for (const auto& [check, passed] : checks) {
            const bool listed = isKnown(name, check);
            if (!passed && listed) {
                status += std::string(" known-") + check;
                ++knownFailures;
            } else if (!passed) {
                status += std::string(" FAIL-") + check;
                songFails = true;
            } else if (listed) {
                status += std::string(" AGREES-NOW-") + check + "(take it off the list)";
                songFails = true;
            }
        }
        printf("%-44s %-4s%s  %s\n", name.c_str(), songFails ? "FAIL" : "ok", status.c_str(),
               v.line.c_str());
        fflush(stdout);
        ++checked;
        if (songFails) ++failed;
        if (ours.loaded && peer.loaded) {
            ++bothLoad;
            if (v.timeline) ++onTimeline;
        }
    }
    printf("\n%d songs, %d failed, %d known differences; %d load in both players, %d of them "
           "on the peer's order/row timeline on every block\n",
           checked, failed, knownFailures, bothLoad, onTimeline);
    return failed == 0 ? 0 : 1;
}
