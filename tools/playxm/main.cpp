// main.cpp: the playxm command line: plays songs one after the other through the sound device,
// with a live screen and keys on a terminal, one line per song elsewhere, or renders one song to
// a WAV file. Main thread; the library's output runs its output thread.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/output.h"
#include "music/seeking.h"
#include "music/song_handle.h"
#include "neatxm.h"
#include "screen.h"
#include "terminal.h"
#include "wav_render.h"

namespace {

const char USAGE[] =
    "usage: playxm [options] SONG [SONG...]\n"
    "       playxm --render OUT.wav [options] SONG\n"
    "\n"
    "Plays the songs (XM or MOD files, in any mix) one after the other through the sound\n"
    "device. On a terminal it shows the song, its position and a level meter per channel (or\n"
    "the pattern playing), and takes keys:\n"
    "  space pause/resume        left/right 10 s back/on     up/down previous/next order\n"
    "  n/p next/previous song    +/- volume                  l looping on/off\n"
    "  i next interpolation      1-9, 0 mute channel 1-10    v pattern view on/off\n"
    "  q or Escape quit\n"
    "Elsewhere (output piped) it prints one line per song and plays each to its end.\n"
    "\n"
    "  --render OUT.wav   write the song to a 16-bit stereo WAV file instead of playing it:\n"
    "                     whole blocks until it first comes back to a place it has played\n"
    "                     (at most 20 minutes), the same bytes as xmrender with the same rules\n"
    "  --seconds N        play (or render) N seconds of each song, going round it as needed\n"
    "  --loop             loop each song until a key moves on (the l key toggles it)\n"
    "  --rate HZ          output rate (default 44100)\n"
    "  --rules R          standard (default): the format and its original tracker (MOD\n"
    "                     songs: ProTracker); demo: the demo's soundtrack bit for bit (XM only)\n"
    "  --repeat N         play each song N times, then go on (l still loops for ever)\n"
    "  --interpolation none|linear|cubic|sinc\n"
    "                     how samples are read between their points (default linear)\n"
    "  --gain DB          master gain, -60 to +24 dB (default 0)\n"
    "  --separation P     stereo separation, 0 (mono) to 200 %% (default: the rules' own,\n"
    "                     100 for XM songs, 60 for MOD songs)\n"
    "  --limiter          soft-limit the 16-bit output instead of clipping it\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 when every song played, 1 when a song could not be played, there is no\n"
    "sound device or it was lost while playing, 2 for a wrong command line, 128 + the signal\n"
    "after Ctrl-C or a kill.\n";

#ifdef _WIN32
const char NO_DEVICE_HINT[] =
    "check that Windows has a working audio output device, or write the song to a file with "
    "--render OUT.wav";
#else
const char NO_DEVICE_HINT[] =
    "check that a sound system is running (SDL_AUDIODRIVER chooses the driver: pulseaudio, "
    "pipewire, alsa; dummy plays into nothing), or write the song to a file with "
    "--render OUT.wav";
#endif

// Blocks of the output's ring: eight blocks of 20 ms keep the start and every key within a
// sixth of a second while leaving the output thread over 100 ms of slack; it wakes once a block
// (most of its cost is the waking).
constexpr int32_t RING_BLOCKS = 8;
constexpr int32_t PASS_MS = 20;

struct Options {
    RenderChoice choice; // the rate, rules, length and the listener's controls
    bool loop = false;
    const char* renderPath = nullptr;
    std::vector<const char*> songs;
};

// Interpolation's names, in the order of its values.
const char* const INTERPOLATIONS[] = {"none", "linear", "cubic", "sinc"};

bool ParseNumber(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0' && *value >= low && *value <= high;
}

// -1 when the program should go on; otherwise the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double number = 0;
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--render" && hasValue) {
            options->renderPath = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            if (!ParseNumber(argv[++i], 0, 24 * 3600, &number) || !(number > 0)) {
                fprintf(stderr, "playxm: --seconds needs a positive number of seconds\n");
                return 2;
            }
            options->choice.seconds = number;
        } else if (arg == "--rate" && hasValue) {
            if (!ParseNumber(argv[++i], 8000, 192000, &number) ||
                number != static_cast<int>(number)) {
                fprintf(stderr, "playxm: --rate needs a whole number of Hz from 8000 to 192000\n");
                return 2;
            }
            options->choice.rate = static_cast<int>(number);
        } else if (arg == "--rules" && hasValue) {
            const std::string rules = argv[++i];
            if (rules == "standard") {
                options->choice.rules = NEATXM_RULES_STANDARD;
            } else if (rules == "demo") {
                options->choice.rules = NEATXM_RULES_DEMO;
            } else {
                fprintf(stderr, "playxm: --rules takes demo or standard\n");
                return 2;
            }
        } else if (arg == "--loop") {
            options->loop = true;
        } else if (arg == "--limiter") {
            options->choice.mix.limiter = true;
        } else if (arg == "--repeat" && hasValue) {
            if (!ParseNumber(argv[++i], 1, 1000, &number) || number != static_cast<int>(number)) {
                fprintf(stderr, "playxm: --repeat needs a whole number of passes, 1 to 1000\n");
                return 2;
            }
            options->choice.repeat = static_cast<int>(number);
        } else if (arg == "--gain" && hasValue) {
            if (!ParseNumber(argv[++i], MIN_GAIN_DB, MAX_GAIN_DB, &number)) {
                fprintf(stderr, "playxm: --gain needs a number of dB from %g to %g\n",
                        double(MIN_GAIN_DB), double(MAX_GAIN_DB));
                return 2;
            }
            options->choice.mix.gainDb = static_cast<float>(number);
        } else if (arg == "--separation" && hasValue) {
            if (!ParseNumber(argv[++i], MIN_SEPARATION, MAX_SEPARATION, &number) ||
                number != static_cast<int>(number)) {
                fprintf(stderr, "playxm: --separation needs a whole percentage from %d to %d\n",
                        MIN_SEPARATION, MAX_SEPARATION);
                return 2;
            }
            options->choice.mix.separation = static_cast<int32_t>(number);
        } else if (arg == "--interpolation" && hasValue) {
            const std::string name = argv[++i];
            bool known = false;
            for (int k = 0; k < 4; ++k)
                if (name == INTERPOLATIONS[k]) {
                    options->choice.mix.interpolation = static_cast<Interpolation>(k);
                    known = true;
                }
            if (!known) {
                fprintf(stderr, "playxm: --interpolation takes none, linear, cubic or sinc\n");
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "playxm: unknown or incomplete option %s\n\n%s", arg.c_str(), USAGE);
            return 2;
        } else {
            options->songs.push_back(argv[i]);
        }
    }
    if (options->songs.empty()) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (options->renderPath && options->songs.size() != 1) {
        fprintf(stderr, "playxm: --render writes one song\n");
        return 2;
    }
    if (options->choice.repeat > 0 && options->choice.seconds > 0) {
        fprintf(stderr, "playxm: --seconds and --repeat both set the length; give one\n");
        return 2;
    }
    if (options->renderPath && options->loop && options->choice.seconds <= 0) {
        fprintf(stderr, "playxm: --render with --loop needs --seconds (a file must end)\n");
        return 2;
    }
    return -1;
}

int Render(const Options& options) {
    char message[512];
    neatxm_song* song = nullptr;
    if (neatxm_song_load_file(options.songs[0], &song, message, sizeof message) != NEATXM_OK) {
        fprintf(stderr, "playxm: %s: %s\n", options.songs[0], message);
        return 1;
    }
    std::string problem;
    const bool ok = RenderSongToWav(song, options.renderPath, options.choice, &problem);
    neatxm_song_free(song);
    if (!ok) {
        fprintf(stderr, "playxm: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}

std::string Trimmed(const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) out += (*c >= 32 && *c < 127) ? *c : '.';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

enum class Next { Forward, Back, Quit, DeviceLost };

// A seek key's step.
constexpr int SEEK_SECONDS = 10;

// What lasts from song to song: the listener's choices and the problems met.
struct Session {
    const Options* options = nullptr;
    MusicOutput* output = nullptr;
    bool interactive = false;
    bool looping = false;
    int volume = 100;
    std::vector<std::string> problems;
    ScreenPainter painter; // what the terminal shows, so that a frame writes only its changes
    MixControls mix;       // the listener's controls, mutes included (they hold from song to song)
    bool patternView = false;
    TerminalLook look{};
};

// The controls as the screen's line shows them.
std::string ControlsLine(const MixControls& mix, int repeat, bool looping) {
    char line[160];
    // A separation below 0 is the rules' own (100 % for XM songs, 60 % for MOD songs).
    const std::string separation =
        mix.separation < 0 ? std::string("own") : std::to_string(mix.separation) + "%";
    snprintf(line, sizeof line, "Interpolation %-6s  Gain %+.1f dB  Separation %s  Limiter %s%s",
             INTERPOLATIONS[static_cast<int>(mix.interpolation) & 3], double(mix.gainDb),
             separation.c_str(), mix.limiter ? "on" : "off",
             repeat > 0 && !looping ? ("  Repeat " + std::to_string(repeat)).c_str() : "");
    return line;
}

// The end mode and the repeat count of the playback: looping goes on for ever, a timed play
// and a repeat count go round the song, and otherwise it stops at its end.
void ApplyEnd(MusicOutput* output, const Options& options, bool looping) {
    const bool timed = options.choice.seconds > 0;
    const int repeat = looping ? 0 : options.choice.repeat;
    SetOutputEndMode(output, looping || timed || repeat > 0 ? EndMode::Wrap : EndMode::Stop);
    SetOutputRepeatCount(output, repeat);
}

struct Loaded {
    neatxm_song* song = nullptr;
    std::string message; // why it did not load
};

// The screen's record of a block the listener hears.
HeardState HeardFrom(const HeardBlock& block, int rate) {
    HeardState heard;
    neatxm_position& p = heard.position;
    p.order = block.position.order;
    p.pattern = block.position.pattern;
    p.row = block.position.row;
    p.tick = block.position.tick;
    p.speed = block.position.speed;
    p.bpm = block.position.bpm;
    p.frame = block.songFrames;
    p.seconds = static_cast<double>(block.songFrames) / rate;
    p.passes = block.loops;
    static_assert(sizeof heard.levels == sizeof block.levels);
    std::memcpy(heard.levels, block.levels, sizeof heard.levels);
    heard.silent = block.silent;
    return heard;
}

Loaded LoadSong(const char* path) {
    Loaded loaded;
    char message[512];
    neatxm_song_load_file(path, &loaded.song, message, sizeof message);
    loaded.message = message;
    return loaded;
}

// Plays one song until it ends, a key moves on, or a stop is requested. `preloaded`, when not
// null, is the song already loaded from its path.
Next PlaySong(Session& session, int index, Loaded* preloaded, bool* failed) {
    const Options& options = *session.options;
    const char* path = options.songs[static_cast<size_t>(index)];
    const int count = static_cast<int>(options.songs.size());
    *failed = false;
    Loaded loaded = preloaded ? *preloaded : LoadSong(path);
    neatxm_song* song = loaded.song;
    if (!song) {
        session.problems.push_back(std::string(path) + ": " + loaded.message);
        if (!session.interactive) fprintf(stderr, "playxm: %s\n", session.problems.back().c_str());
        *failed = true;
        return Next::Forward;
    }
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    neatxm_song_get_info(song, &info);
    const bool timed = options.choice.seconds > 0;
    MusicOutput* output = session.output;
    ApplyEnd(output, options, session.looping);
    SetOutputMixControls(output, session.mix);

    ScreenState screen;
    screen.songIndex = index;
    screen.songCount = count;
    screen.fileName = path;
    screen.title = neatxm_song_title(song);
    screen.tracker = neatxm_song_tracker(song);
    screen.channels = info.channels;
    screen.orders = info.orders;
    screen.lengthSeconds = info.length_seconds;
    screen.rules = options.choice.rules == NEATXM_RULES_DEMO ? "demo" : "standard";
    if (!session.interactive) {
        printf("song %d/%d: %s: \"%s\" (%s, %d channels, %s)\n", index + 1, count, path,
               Trimmed(neatxm_song_title(song)).c_str(), Trimmed(neatxm_song_tracker(song)).c_str(),
               info.channels, FormatTime(info.length_seconds).c_str());
        fflush(stdout);
    }

    Next next = Next::Forward;
    bool paused = false;
    const Module* module = SongModule(song);
    // The demo's rules know XM songs only.
    if (module->format == ModuleFormat::Mod && options.choice.rules == NEATXM_RULES_DEMO) {
        session.problems.push_back(std::string(path) +
                                   ": a MOD song; the demo's rules play XM songs only (leave "
                                   "out --rules demo, or give --rules standard)");
        if (!session.interactive) fprintf(stderr, "playxm: %s\n", session.problems.back().c_str());
        *failed = true;
    } else if (!StartPlayback(output, module)) {
        session.problems.push_back(std::string(path) +
                                   ": the output could not start (out of memory or threads)");
        if (!session.interactive) fprintf(stderr, "playxm: %s\n", session.problems.back().c_str());
        *failed = true;
    } else {
        const double blockSeconds =
            static_cast<double>(BlockFrames(options.choice.rate)) / options.choice.rate;
        OutputNow now;
        for (;;) {
            if (term::StopRequested()) {
                next = Next::Quit;
                break;
            }
            term::Key keys[16];
            const int pressed = term::ReadKeys(keys, 16, 50);
            GetOutputNow(output, &now);
            bool leave = false;
            for (int k = 0; k < pressed && !leave; ++k) {
                const int base = now.seekPending ? now.seekOrder : now.block.position.order;
                switch (keys[k]) {
                case term::Key::Pause:
                    paused = !paused;
                    SetOutputPaused(output, paused);
                    break;
                case term::Key::Up:
                case term::Key::Down: {
                    const int step = keys[k] == term::Key::Up ? -1 : 1;
                    const int order = std::clamp(base + step, 0, std::max(0, info.orders - 1));
                    SeekOutput(output, order);
                    GetOutputNow(output, &now);
                    break;
                }
                case term::Key::Left:
                case term::Key::Right: {
                    // From the latest seek's target while the listener has not heard it yet, so
                    // that keys pressed in a row add up. A fast seek: the sequencer alone runs
                    // up to the target, and the output thread is never held up for long.
                    const int64_t from = now.seekPending && now.seekFrame >= 0
                                             ? now.seekFrame
                                             : now.block.songFrames;
                    const int64_t step = int64_t{SEEK_SECONDS} * options.choice.rate;
                    const int64_t to = keys[k] == term::Key::Left
                                           ? std::max<int64_t>(0, from - step)
                                           : from + step;
                    SeekOutputFrame(output, to, SeekMode::Fast);
                    GetOutputNow(output, &now);
                    break;
                }
                case term::Key::Interpolation:
                    session.mix.interpolation = static_cast<Interpolation>(
                        (static_cast<int>(session.mix.interpolation) + 1) % 4);
                    SetOutputMixControls(output, session.mix);
                    break;
                case term::Key::View: session.patternView = !session.patternView; break;
                case term::Key::Next: next = Next::Forward, leave = true; break;
                case term::Key::Previous: next = Next::Back, leave = true; break;
                case term::Key::Louder:
                case term::Key::Softer:
                    session.volume = std::clamp(
                        session.volume + (keys[k] == term::Key::Louder ? 10 : -10), 0, 200);
                    SetOutputVolume(output, session.volume);
                    break;
                case term::Key::Loop:
                    session.looping = !session.looping;
                    ApplyEnd(output, options, session.looping);
                    break;
                case term::Key::Quit: next = Next::Quit, leave = true; break;
                default:
                    if (const int channel = term::ChannelOfKey(keys[k]); channel >= 0) {
                        session.mix.muted ^= 1u << channel;
                        SetOutputMixControls(output, session.mix);
                    }
                    break;
                }
            }
            if (now.deviceLost) {
                // The device stopped taking the ring: nothing more would be heard, and waiting for
                // the song's end would wait for ever.
                session.problems.push_back(
                    std::string("the sound device stopped while playing ") + path + " at " +
                    FormatTime(static_cast<double>(now.block.songFrames) / options.choice.rate) +
                    " (unplugged, or the sound system quit); " + NO_DEVICE_HINT);
                if (!session.interactive)
                    fprintf(stderr, "playxm: %s\n", session.problems.back().c_str());
                *failed = true;
                next = Next::DeviceLost;
                break;
            }
            if (leave || now.finished) break;
            if (timed &&
                static_cast<double>(now.blocksPlayed) * blockSeconds >= options.choice.seconds)
                break;
            if (session.interactive) {
                screen.heard = HeardFrom(now.block, options.choice.rate);
                if (now.seekPending && now.seekFrame < 0) {
                    // Until the listener hears the new position, show where it goes.
                    screen.heard.position.order = now.seekOrder;
                    screen.heard.position.pattern = neatxm_song_order(song, now.seekOrder);
                    screen.heard.position.row = 0;
                }
                screen.paused = paused;
                screen.looping = session.looping;
                screen.volume = session.volume;
                screen.controls = ControlsLine(session.mix, options.choice.repeat, session.looping);
                screen.muted = session.mix.muted;
                screen.blocks = session.look.blocks;
                screen.colour = session.look.colour;
                screen.patternView = session.patternView;
                screen.module = module;
                screen.message = session.problems.empty() ? "" : session.problems.back();
                int columns = 80, rows = 24;
                term::Size(&columns, &rows);
                term::Write(
                    session.painter.Paint(DrawScreen(screen, columns, rows), columns, rows));
            }
        }
        StopPlayback(output, module);
    }
    neatxm_song_free(song);
    return next;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed >= 0) return parsed;
    if (options.renderPath) return Render(options);

    term::InstallStopHandlers();
    // The first song loads while the device opens: both take a while, and the start waits for
    // the later of the two.
    std::future<Loaded> first =
        std::async(std::launch::async | std::launch::deferred, LoadSong, options.songs[0]);
    OutputSettings settings;
    settings.ringBlocks = RING_BLOCKS;
    settings.passMs = PASS_MS;
    MusicOutput* output = CreateMusicOutput(
        &platformWaveDevice,
        options.choice.rules == NEATXM_RULES_DEMO ? PlayerRules::Demo : PlayerRules::Standard,
        &settings);
    const int muted = term::MuteErrors();
    const bool opened = output && OpenWaveOutput(output, options.choice.rate);
    term::UnmuteErrors(muted);
    if (!opened) {
        DestroyMusicOutput(output);
        if (neatxm_song* song = first.get().song) neatxm_song_free(song);
        fprintf(stderr,
                "playxm: no sound device: the audio output could not be opened at %d Hz; %s\n",
                options.choice.rate, NO_DEVICE_HINT);
        return 1;
    }
    Session session;
    session.options = &options;
    session.output = output;
    session.interactive = term::OutputIsTerminal() && term::Enter();
    session.looping = options.loop;
    session.mix = options.choice.mix;
    session.look = LookOfEnvironment(getenv("LC_ALL"), getenv("LC_CTYPE"), getenv("LANG"),
                                     getenv("TERM"), getenv("NO_COLOR"));

    const int count = static_cast<int>(options.songs.size());
    int index = 0;
    int direction = 1;
    int failedInARow = 0;
    bool anyFailed = false;
    Loaded firstSong = first.get();
    Loaded* preloaded = &firstSong;
    while (index >= 0 && index < count && !term::StopRequested()) {
        bool failed = false;
        const Next next = PlaySong(session, index, preloaded, &failed);
        preloaded = nullptr;
        anyFailed = anyFailed || failed;
        if (next == Next::Quit || next == Next::DeviceLost) break;
        if (failed) {
            // A song that cannot be played is passed in the direction the listener was going.
            if (++failedInARow >= count) break;
        } else {
            failedInARow = 0;
            direction = next == Next::Back ? -1 : 1;
        }
        index += direction;
        if (index < 0) index = 0, direction = 1;
    }
    DestroyMusicOutput(output);
    if (session.interactive) {
        term::Leave();
        for (const std::string& problem : session.problems)
            fprintf(stderr, "playxm: %s\n", problem.c_str());
    }
    if (const int stop = term::StopRequested()) {
#ifndef _WIN32
        // Ended by the signal itself, so that a calling shell script stops as well.
        std::signal(stop, SIG_DFL);
        std::raise(stop);
#endif
        return 128 + stop;
    }
    return anyFailed ? 1 : 0;
}
