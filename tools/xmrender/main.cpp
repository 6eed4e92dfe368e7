// main.cpp: the xmrender command line: render a module to a 44100 Hz 16-bit stereo WAV file,
// optionally with per-block positions, or measure render speed with --bench.
#include "render.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char USAGE[] =
    "usage: xmrender [--seconds N | --repeat N] [--positions FILE.csv] [--stems DIR]\n"
    "                [--rules demo|standard] [MIX OPTIONS] SONG OUT.wav\n"
    "       xmrender --bench [--rules demo|standard] [MIX OPTIONS] SONG [SONG...]\n"
    "\n"
    "Renders SONG (XM or MOD) through the player's own playback path to OUT.wav (44100 Hz, 16-bit\n"
    "stereo PCM), from playback start, in whole 884-frame blocks.\n"
    "\n"
    "  --seconds N          render until at least N seconds (default: until the song first\n"
    "                       wraps back to a place it has played, at most 20 minutes)\n"
    "  --repeat N           play the song N times (N >= 1) and end exactly where its last\n"
    "                       pass comes back to a place it has played\n"
    "  --positions FILE     write block,order,row,ms for every block to FILE (CSV)\n"
    "  --stems DIR          also write each channel alone to DIR/channel01.wav and on\n"
    "                       (32-bit float stereo, as long as OUT.wav): the channels add up\n"
    "                       to the mix but for rounding\n"
    "  --rules demo|standard\n"
    "                       the player's rules (default: demo, the demo's soundtrack bit for\n"
    "                       bit); standard plays as the original tracker does: the format's\n"
    "                       stereo orientation and panning law, its flow control, and its\n"
    "                       handling of notes, instruments, key-off, envelopes and effects.\n"
    "                       MOD songs play by ProTracker's rules (standard; the demo's\n"
    "                       rules are for XM songs only)\n"
    "  --interpolation none|linear|cubic|sinc\n"
    "                       how voices read between sample points (default: linear)\n"
    "  --gain DB            master gain, -60 to +24 dB (default: 0)\n"
    "  --separation PCT     stereo separation, 0 (mono) to 200 % (default: the rules' own,\n"
    "                       100 for XM songs, 60 for MOD songs)\n"
    "  --limiter            soft-limit the 16-bit output instead of clipping it\n"
    "  --bench              render each song until it wraps, WAV included (to a temporary\n"
    "                       file), and print the speed as a multiple of real time\n"
    "  --help               show this text\n";

int Bench(const std::vector<const char*>& songs, PlayerRules rules, const RenderExtras& extras) {
    char path[] = "/tmp/xmrender-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        fprintf(stderr, "xmrender: cannot create a temporary file\n");
        return 1;
    }
    close(fd);
    int status = 0;
    // Wall time is what a user waits; processor time is what one core spends, which stays
    // meaningful when other work shares the machine.
    printf("%-28s %9s %9s %9s %11s %11s\n", "song", "audio s", "wall s", "cpu s", "x real wall",
           "x real cpu");
    for (const char* song : songs) {
        char error[512] = "";
        RenderFileResult result{};
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        const bool ok = RenderFileToWav(song, path, nullptr, 0, &result, error, sizeof error, false,
                                        rules, &extras);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        if (!ok) {
            fprintf(stderr, "xmrender: %s\n", error);
            status = 1;
            continue;
        }
        const char* name = strrchr(song, '/') ? strrchr(song, '/') + 1 : song;
        const double audio = static_cast<double>(result.frames) / RENDER_RATE;
        printf("%-28s %9.1f %9.3f %9.3f %11.0f %11.0f\n", name, audio, elapsed, cpu,
               audio / elapsed, cpu > 0 ? audio / cpu : 0.0);
    }
    unlink(path);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 0;
    const char* positions = nullptr;
    RenderExtras extras;
    bool bench = false;
    PlayerRules rules = PlayerRules::Demo;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds > 0) || seconds > 24 * 3600) {
                fprintf(stderr, "xmrender: --seconds needs a positive number of seconds\n");
                return 2;
            }
        } else if (arg == "--positions" && i + 1 < argc) {
            positions = argv[++i];
        } else if (arg == "--repeat" && i + 1 < argc) {
            char* end = nullptr;
            const long count = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || count < 1 || count > 1000) {
                fprintf(stderr, "xmrender: --repeat needs a whole number of passes, 1 to 1000\n");
                return 2;
            }
            extras.repeat = static_cast<int32_t>(count);
        } else if (arg == "--stems" && i + 1 < argc) {
            extras.stemsDir = argv[++i];
        } else if (arg == "--rules" && i + 1 < argc) {
            const std::string name = argv[++i];
            extras.rulesGiven = true;
            if (name == "demo") {
                rules = PlayerRules::Demo;
            } else if (name == "standard") {
                rules = PlayerRules::Standard;
            } else {
                fprintf(stderr, "xmrender: --rules takes demo or standard\n");
                return 2;
            }
        } else if (arg == "--interpolation" && i + 1 < argc) {
            const std::string name = argv[++i];
            if (name == "none")
                extras.controls.interpolation = Interpolation::None;
            else if (name == "linear")
                extras.controls.interpolation = Interpolation::Linear;
            else if (name == "cubic")
                extras.controls.interpolation = Interpolation::Cubic;
            else if (name == "sinc")
                extras.controls.interpolation = Interpolation::Sinc;
            else {
                fprintf(stderr, "xmrender: --interpolation takes none, linear, cubic or sinc\n");
                return 2;
            }
        } else if (arg == "--gain" && i + 1 < argc) {
            char* end = nullptr;
            const double db = strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(db >= MIN_GAIN_DB && db <= MAX_GAIN_DB)) {
                fprintf(stderr, "xmrender: --gain takes -60 to 24 (dB)\n");
                return 2;
            }
            extras.controls.gainDb = static_cast<float>(db);
        } else if (arg == "--separation" && i + 1 < argc) {
            char* end = nullptr;
            const long pct = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || pct < MIN_SEPARATION || pct > MAX_SEPARATION) {
                fprintf(stderr, "xmrender: --separation takes 0 to 200 (%%)\n");
                return 2;
            }
            extras.controls.separation = static_cast<int32_t>(pct);
        } else if (arg == "--limiter") {
            extras.controls.limiter = true;
        } else if (arg == "--bench") {
            bench = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "xmrender: unknown or incomplete option %s\n\n%s", arg.c_str(), USAGE);
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (bench) {
        if (files.empty() || positions || seconds > 0 || extras.repeat > 0 || extras.stemsDir) {
            fprintf(stderr, "xmrender: --bench takes only song files\n\n%s", USAGE);
            return 2;
        }
        return Bench(files, rules, extras);
    }
    if (files.size() != 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (seconds > 0 && extras.repeat > 0) {
        fprintf(stderr, "xmrender: --seconds and --repeat both set the length; give one\n");
        return 2;
    }
    char error[512] = "";
    RenderFileResult result{};
    const bool progress = isatty(STDERR_FILENO) || isatty(STDOUT_FILENO);
    if (!RenderFileToWav(files[0], files[1], positions, seconds, &result, error, sizeof error,
                         progress, rules, &extras)) {
        fprintf(stderr, "xmrender: %s\n", error);
        return 1;
    }
    return 0;
}
