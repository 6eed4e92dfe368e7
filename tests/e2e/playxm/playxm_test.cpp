// playxm end to end: the real binary with SDL's dummy audio driver. Piped: one line per song,
// a bad file's own message while the next song still plays, no device, --render byte for byte
// against xmrender. On a real pseudo-terminal (tmux): the screen, keys that seek, pause and
// change songs, and the terminal put back after q, Ctrl-C and a kill.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "mod_writer.h"
#include "neatxm.h"
#include "xm_writer.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// A song of `orders` patterns of `rows` rows at `speed` ticks per row, one note per pattern.
xmw::Song TestSong(const std::string& title, int orders, int rows, int speed) {
    xmw::Song song = xmw::MinimalSong(rows);
    song.name = title;
    song.speed = static_cast<uint16_t>(speed);
    song.orders.clear();
    song.patterns.clear();
    for (int o = 0; o < orders; ++o) {
        xmw::Pattern pattern = song.MakePattern(rows);
        pattern.At(0, 0) = PatternCell{xmw::NoteNumber("C-4"), 1, 0, 0, 0};
        pattern.At(0, 1) = PatternCell{xmw::NoteNumber("G-4"), 1, 0, 0, 0};
        song.patterns.push_back(pattern);
        song.orders.push_back(static_cast<uint8_t>(o));
    }
    return song;
}

class PlayXm : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = "/tmp/playxm_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(system(("rm -rf " + Quote(dir_) + " && mkdir -p " + Quote(dir_)).c_str()), 0);
    }
    void TearDown() override {
        if (!tmuxSocket_.empty())
            system(("tmux -L " + tmuxSocket_ + " kill-server 2>/dev/null").c_str());
        system(("rm -rf " + Quote(dir_)).c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Save(const xmw::Song& song, const std::string& name) {
        EXPECT_TRUE(xmw::SaveXm(song, Path(name)));
        return Path(name);
    }

    // Runs a command line through the shell with standard output and error in files (so that
    // neither is a terminal).
    Outcome Shell(const std::string& command) {
        Outcome run;
        const std::string full = command + " >" + Quote(Path("out.txt")) + " 2>" +
                                 Quote(Path("err.txt")) + " </dev/null";
        const int status = system(full.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(Path("out.txt"));
        run.err = Slurp(Path("err.txt"));
        return run;
    }
    Outcome Player(const std::string& arguments, const std::string& driver = "dummy") {
        return Shell("SDL_AUDIODRIVER=" + driver + " " + Quote(PLAYXM_PATH) + " " + arguments);
    }

    // ---- A real pseudo-terminal through a private tmux server ----
    // `environment`: assignments for the player's command line ("LANG=C.UTF-8").
    bool StartInTmux(const std::string& arguments, const std::string& environment = "") {
        if (system("command -v tmux >/dev/null 2>&1") != 0) return false;
        tmuxSocket_ = "playxm_test_" + std::to_string(getpid());
        // After the player ends, the pane's shell records how it left the terminal.
        const std::string script = Path("run.sh");
        // The shell outlives a Ctrl-C meant for the player.
        std::ofstream(script) << "trap true INT\n"
                              << environment << " SDL_AUDIODRIVER=dummy " << Quote(PLAYXM_PATH)
                              << " " << arguments << "\necho EXIT=$?\nstty -a >"
                              << Quote(Path("stty.txt")) << "\necho DONE\nsleep 600\n";
        return Tmux("new-session -d -x 110 -y 40 'sh " + script + "'") == 0;
    }
    int Tmux(const std::string& arguments) {
        return system(("tmux -L " + tmuxSocket_ + " " + arguments + " >/dev/null 2>&1").c_str());
    }
    std::string TmuxOutput(const std::string& arguments) {
        std::string text;
        FILE* pipe =
            popen(("tmux -L " + tmuxSocket_ + " " + arguments + " 2>/dev/null").c_str(), "r");
        if (!pipe) return text;
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
        pclose(pipe);
        return text;
    }
    std::string Screen() { return TmuxOutput("capture-pane -p"); }
    void Keys(const std::string& keys) { Tmux("send-keys " + keys); }
    // Polls the screen until `done` holds; the screen last seen (a liveness bound, not a timing
    // requirement: the wait ends as soon as the condition holds).
    bool WaitScreen(const std::function<bool(const std::string&)>& done,
                    std::string* seen = nullptr, int limitSeconds = 20) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
        std::string screen;
        do {
            screen = Screen();
            if (done(screen)) {
                if (seen) *seen = screen;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        if (seen) *seen = screen;
        return false;
    }
    // The player's pid: the pane's shell's only child.
    int PlayerPid() {
        const std::string shell = TmuxOutput("display -p '#{pane_pid}'");
        FILE* pipe = popen(("pgrep -P " + shell).c_str(), "r");
        int pid = 0;
        if (pipe) {
            if (fscanf(pipe, "%d", &pid) != 1) pid = 0;
            pclose(pipe);
        }
        return pid;
    }
    // Once the player has ended: its exit status, echo back on, the cursor shown again and the
    // user's screen back.
    void ExpectTerminalRestored(int exitStatus) {
        std::string screen;
        ASSERT_TRUE(WaitScreen(
            [](const std::string& s) { return s.find("DONE") != std::string::npos; }, &screen))
            << screen;
        EXPECT_NE(screen.find("EXIT=" + std::to_string(exitStatus)), std::string::npos) << screen;
        const std::string stty = Slurp(Path("stty.txt"));
        EXPECT_TRUE(std::regex_search(stty, std::regex("(^|\\s)echo(\\s|$)"))) << stty;
        EXPECT_TRUE(std::regex_search(stty, std::regex("(^|\\s)icanon(\\s|$)"))) << stty;
        EXPECT_EQ(TmuxOutput("display -p '#{cursor_flag} #{alternate_on}'"), "1 0\n");
    }

    std::string dir_;
    std::string tmuxSocket_;
};

int Field(const std::string& screen, const char* name) {
    std::smatch match;
    if (!std::regex_search(screen, match, std::regex(std::string(name) + " +([0-9]+)"))) return -1;
    return std::stoi(match[1]);
}

// ---- Piped ----------------------------------------------------------------------------------

TEST_F(PlayXm, RenderGivesXmrendersBytes) {
    // Two orders with the restart on the second: the render stops in the block where the song
    // first comes back, after 1.5 passes.
    xmw::Song song = TestSong("render check", 2, 8, 5);
    song.restartPosition = 1;
    std::vector<std::string> songs = {Save(song, "wrap.xm"), DEMO_DATA_DIR "/Zarq-Neat.xm"};
    const bool xmrenderHasRules =
        Shell(Quote(XMRENDER_PATH) + " --help").out.find("--rules") != std::string::npos;
    for (const std::string& path : songs) {
        for (const std::string& seconds :
             {std::string(), std::string("--seconds 1.3"), std::string("--repeat 2")}) {
            SCOPED_TRACE(path + " " + seconds);
            ASSERT_EQ(Shell(Quote(XMRENDER_PATH) + " " + seconds + " " + Quote(path) + " " +
                            Quote(Path("x.wav")))
                          .status,
                      0);
            const Outcome run = Player("--render " + Quote(Path("p.wav")) + " --rules demo " +
                                       seconds + " " + Quote(path));
            ASSERT_EQ(run.status, 0) << run.err;
            const std::string expected = Slurp(Path("x.wav"));
            ASSERT_GT(expected.size(), 44u);
            EXPECT_TRUE(expected == Slurp(Path("p.wav")));
            if (xmrenderHasRules) {
                ASSERT_EQ(Shell(Quote(XMRENDER_PATH) + " --rules standard " + seconds + " " +
                                Quote(path) + " " + Quote(Path("x.wav")))
                              .status,
                          0);
                ASSERT_EQ(
                    Player("--render " + Quote(Path("p.wav")) + " " + seconds + " " + Quote(path))
                        .status,
                    0);
                EXPECT_TRUE(Slurp(Path("x.wav")) == Slurp(Path("p.wav")));
            }
        }
    }
}

TEST_F(PlayXm, PipedPlaysEachSongToItsEndOnOneLine) {
    // About a quarter of a second each.
    const std::string first = Save(TestSong("first tune", 1, 4, 3), "first.xm");
    const std::string second = Save(TestSong("second tune", 1, 4, 3), "second.xm");
    const Outcome run = Player(Quote(first) + " " + Quote(second));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(run.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_NE(lines[0].find("song 1/2"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"first tune\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\"second tune\""), std::string::npos) << lines[1];
    // No terminal: not a single control sequence.
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

TEST_F(PlayXm, AMixedListOfXmAndModSongsPlaysInOneRun) {
    const std::string xm = Save(TestSong("an xm tune", 1, 4, 3), "first.xm");
    modw::Song modSong = modw::MinimalSong();
    modSong.title = "a mod tune";
    modw::Put(modSong, 0, 0, 0, {modw::Period(12), 1, 0xF, 0x01}); // speed 1: 64 short rows
    const std::vector<uint8_t> bytes = modw::WriteMod(modSong);
    const std::string mod = Path("second.mod");
    std::ofstream(mod, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const Outcome run = Player(Quote(xm) + " " + Quote(mod) + " " + Quote(xm));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("\"an xm tune\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("song 2/3: " + mod + ": \"a mod tune\" (ProTracker M.K., 4 channels"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("song 3/3"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("not a valid XM"), std::string::npos) << run.out;
    // The demo's rules are for XM songs: the MOD song is skipped with a sentence, the XM plays.
    const Outcome demo = Player("--rules demo " + Quote(mod) + " " + Quote(xm));
    EXPECT_EQ(demo.status, 1);
    EXPECT_NE(demo.err.find(mod + ": a MOD song; the demo's rules play XM songs only"),
              std::string::npos)
        << demo.err;
    EXPECT_NE(demo.out.find("song 2/2"), std::string::npos) << demo.out;
}

TEST_F(PlayXm, UnplayableFilesGiveTheirMessageAndTheNextSongPlays) {
    xmw::Song cut = TestSong("cut short", 1, 4, 3);
    cut.truncateTo = 100; // inside the header
    const std::string bad = Save(cut, "cut.xm");
    const std::string missing = Path("missing.xm");
    const std::string good = Save(TestSong("good tune", 1, 4, 3), "good.xm");
    const Outcome run = Player(Quote(bad) + " " + Quote(missing) + " " + Quote(good));
    EXPECT_EQ(run.status, 1);
    for (const std::string& path : {bad, missing}) {
        char message[512];
        neatxm_song* song = nullptr;
        EXPECT_NE(neatxm_song_load_file(path.c_str(), &song, message, sizeof message), NEATXM_OK);
        EXPECT_EQ(song, nullptr);
        ASSERT_NE(message[0], '\0');
        EXPECT_NE(run.err.find(path + ": " + message), std::string::npos) << run.err;
    }
    EXPECT_NE(run.out.find("song 3/3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"good tune\""), std::string::npos) << run.out;
    // Nothing playable is still an error, with a bad --render song too.
    EXPECT_EQ(Player(Quote(bad)).status, 1);
    EXPECT_EQ(Player("--render " + Quote(Path("x.wav")) + " " + Quote(bad)).status, 1);
}

TEST_F(PlayXm, NoSoundDeviceNamesTheFix) {
    const std::string song = Save(TestSong("quiet", 1, 4, 3), "song.xm");
    const Outcome run = Player(Quote(song), "no-such-driver");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no sound device"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("SDL_AUDIODRIVER"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--render OUT.wav"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    // The sound system's own complaints (here: a sound library without its configuration) do
    // not bury the message: it is all that standard error holds.
    const Outcome quiet = Player(Quote(song), "alsa ALSA_CONFIG_PATH=/nonexistent");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err.rfind("playxm: no sound device", 0), 0u) << quiet.err;
    EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;
}

// A device that stops taking the ring while playing (SDL's disk driver told to wait 3 s after
// its first buffer: the position stands still, as for an unplugged headset) ends the player with
// a message and status 1 instead of waiting for a song end it will never hear; the playlist is
// not gone on with.
TEST_F(PlayXm, ADeviceThatStopsEndsThePlayerWithAMessage) {
    const std::string song = Save(TestSong("long tune", 6, 64, 4), "song.xm");
    const std::string next = Save(TestSong("next tune", 1, 4, 3), "next.xm");
    const auto start = std::chrono::steady_clock::now();
    const Outcome run = Player(Quote(song) + " " + Quote(next),
                               "disk SDL_DISKAUDIOFILE=/dev/null SDL_DISKAUDIODELAY=3000");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("playxm: the sound device stopped while playing " + song),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("next tune"), std::string::npos) << run.out;
    // A liveness bound: the loss is seen after two still seconds, and the driver's wait ends.
    EXPECT_LT(seconds.count(), 20.0);
}

TEST_F(PlayXm, WrongCommandLinesExitWithTwo) {
    const std::string song = Save(TestSong("any", 1, 4, 3), "song.xm");
    const std::vector<std::string> wrong = {
        "",
        "--rules fancy " + Quote(song),
        "--rate 12.5 " + Quote(song),
        "--seconds -1 " + Quote(song),
        "--render " + Quote(Path("x.wav")) + " " + Quote(song) + " " + Quote(song),
        "--render " + Quote(Path("x.wav")) + " --loop " + Quote(song),
        "--frobnicate",
        "--interpolation bicubic " + Quote(song),
        "--gain 30 " + Quote(song),
        "--gain loud " + Quote(song),
        "--separation 250 " + Quote(song),
        "--separation 50.5 " + Quote(song),
        "--repeat 0 " + Quote(song),
        "--repeat 2 --seconds 4 " + Quote(song)};
    for (const std::string& arguments : wrong) {
        SCOPED_TRACE(arguments);
        const Outcome run = Player(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err, "");
    }
    EXPECT_EQ(Player("--help").status, 0);
}

// ---- On a terminal -------------------------------------------------------------------------

TEST_F(PlayXm, TerminalShowsTheSongAndTakesKeys) {
    // Orders of about 15 s: an order change within the test comes from the keys alone.
    const std::string song = Save(TestSong("tmux test tune", 4, 64, 12), "tune.xm");
    if (!StartInTmux(Quote(song))) GTEST_SKIP() << "tmux is not installed";

    std::string screen;
    ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Row") > 0; }, &screen))
        << screen;
    EXPECT_NE(screen.find("tmux test tune"), std::string::npos) << screen;
    EXPECT_EQ(TmuxOutput("display -p '#{cursor_flag} #{alternate_on}'"), "0 1\n");
    const int row = Field(screen, "Row");
    ASSERT_TRUE(WaitScreen([row](const std::string& s) { return Field(s, "Row") > row; }, &screen))
        << "the row counter does not move\n"
        << screen;
    EXPECT_EQ(Field(screen, "Order"), 0);

    Keys("Down Down");
    ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Order") == 2; }, &screen))
        << screen;
    Keys("Up");
    ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Order") == 1; }, &screen))
        << screen;

    // Paused, the row stands still once the ring has drained. Each volume key is answered by a
    // redrawn screen showing the new volume: such an answer proves the player is running, so the
    // row must stay the same over several answers (and at least 1.5 s), not only while the
    // player waits for a turn on a busy machine. The bound only catches a hang.
    Keys("Space");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find("PAUSED") != std::string::npos; }, &screen));
    int pausedRow = Field(screen, "Row");
    int answers = 0;
    auto stillSince = std::chrono::steady_clock::now();
    const auto giveUp = stillSince + std::chrono::seconds(60);
    bool louder = true;
    while (answers < 6 ||
           std::chrono::steady_clock::now() - stillSince < std::chrono::milliseconds(1500)) {
        ASSERT_LT(std::chrono::steady_clock::now(), giveUp)
            << "the row did not stand still while paused\n"
            << screen;
        const int volume = Field(screen, "Volume");
        Keys(louder ? "+" : "-");
        louder = !louder;
        ASSERT_TRUE(WaitScreen(
            [volume](const std::string& s) {
                const int now = Field(s, "Volume");
                return now >= 0 && now != volume;
            },
            &screen))
            << "the volume key was not answered\n"
            << screen;
        EXPECT_NE(screen.find("PAUSED"), std::string::npos) << screen;
        const int row = Field(screen, "Row");
        if (row != pausedRow) {
            // Still draining: what was rendered before the pause is being heard.
            pausedRow = row;
            answers = 0;
            stillSince = std::chrono::steady_clock::now();
        } else {
            ++answers;
        }
    }
    Keys("Space");
    ASSERT_TRUE(WaitScreen(
        [pausedRow](const std::string& s) {
            return Field(s, "Row") != pausedRow && s.find("PAUSED") == std::string::npos;
        },
        &screen))
        << screen;
    EXPECT_EQ(Field(screen, "Order"), 1);

    Keys("q");
    ExpectTerminalRestored(0);
}

// The time on the progress line ("0:12 / 1:01"), in seconds; -1 when there is none.
int Seconds(const std::string& screen) {
    std::smatch match;
    if (!std::regex_search(screen, match, std::regex("([0-9]+):([0-9]{2}) / "))) return -1;
    return std::stoi(match[1]) * 60 + std::stoi(match[2]);
}

TEST_F(PlayXm, TerminalSeeksByTimeMutesChangesTheInterpolationAndShowsThePattern) {
    // Orders of about 15 s; the second track's note is G-4 on every pattern's first row.
    const std::string song = Save(TestSong("keys tune", 4, 64, 12), "keys.xm");
    if (!StartInTmux(Quote(song), "LANG=C.UTF-8 TERM=xterm-256color"))
        GTEST_SKIP() << "tmux is not installed";
    std::string screen;
    ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Row") > 0; }, &screen))
        << screen;
    // On a UTF-8 terminal the meters are blocks.
    EXPECT_TRUE(screen.find("\u2588") != std::string::npos ||
                screen.find("\u258c") != std::string::npos)
        << screen;

    // Ten seconds on twice: from the first order into the second; back ten: the first again.
    const int start = Seconds(screen);
    Keys("Right");
    ASSERT_TRUE(
        WaitScreen([start](const std::string& s) { return Seconds(s) >= start + 10; }, &screen))
        << screen;
    EXPECT_EQ(Field(screen, "Order"), 0);
    Keys("Right");
    ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Order") == 1; }, &screen))
        << screen;
    const int later = Seconds(screen);
    EXPECT_GE(later, start + 20);
    Keys("Left");
    ASSERT_TRUE(WaitScreen(
        [later](const std::string& s) {
            return Field(s, "Order") == 0 && Seconds(s) >= 0 && Seconds(s) <= later - 9;
        },
        &screen))
        << screen;

    Keys("2");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find(" 2 muted") != std::string::npos; }, &screen))
        << screen;
    EXPECT_EQ(screen.find(" 1 muted"), std::string::npos) << screen;
    Keys("2");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find("muted") == std::string::npos; }, &screen))
        << screen;

    EXPECT_NE(screen.find("Interpolation linear"), std::string::npos) << screen;
    Keys("i");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find("Interpolation cubic") != std::string::npos; },
        &screen))
        << screen;

    // The pattern view: the rows around the one playing, the notes of the first row among them
    // once the song comes back to an order's start.
    Keys("v Down");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) {
            return s.find("C-4 01 .. ...|G-4 01 .. ...") != std::string::npos;
        },
        &screen))
        << screen;
    Keys("v");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find("C-4 01") == std::string::npos; }, &screen))
        << screen;
    Keys("q");
    ExpectTerminalRestored(0);
}

TEST_F(PlayXm, TerminalMovesToTheNextSongAndEndsAfterTheLast) {
    const std::string longSong = Save(TestSong("long tune", 4, 64, 12), "long.xm");
    const std::string shortSong = Save(TestSong("short tune", 1, 8, 3), "short.xm");
    const std::string bad = Path("missing.xm");
    if (!StartInTmux(Quote(longSong) + " " + Quote(bad) + " " + Quote(shortSong)))
        GTEST_SKIP() << "tmux is not installed";
    std::string screen;
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) { return s.find("long tune") != std::string::npos; }, &screen))
        << screen;
    // n passes the missing file (its message stays on screen); the short song then ends by
    // itself and, being the last, ends the player with the missing file's status.
    Keys("n");
    ASSERT_TRUE(WaitScreen(
        [](const std::string& s) {
            return s.find("short tune") != std::string::npos || s.find("DONE") != std::string::npos;
        },
        &screen))
        << screen;
    ExpectTerminalRestored(1);
}

TEST_F(PlayXm, TerminalIsRestoredAfterCtrlCAndKill) {
    const std::string song = Save(TestSong("stop me", 4, 64, 12), "tune.xm");
    for (const std::string way : {"ctrl-c", "kill"}) {
        SCOPED_TRACE(way);
        if (!tmuxSocket_.empty()) Tmux("kill-server");
        remove(Path("stty.txt").c_str());
        if (!StartInTmux(Quote(song))) GTEST_SKIP() << "tmux is not installed";
        std::string screen;
        ASSERT_TRUE(WaitScreen([](const std::string& s) { return Field(s, "Row") > 0; }, &screen))
            << screen;
        if (way == "ctrl-c") {
            Keys("C-c");
            ExpectTerminalRestored(128 + SIGINT);
        } else {
            const int pid = PlayerPid();
            ASSERT_GT(pid, 0);
            ASSERT_EQ(kill(pid, SIGTERM), 0);
            ExpectTerminalRestored(128 + SIGTERM);
        }
    }
}

} // namespace
