// Seeking, the repeat count, the song's events and each track's state, through the player's own
// calls: an exact seek gives a straight render's frames, a fast seek its sequencer, a seek to an
// order and row the time the song reaches it, and the events name the frames notes start at.
#include "sequencer_harness.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "music/file_access.h"
#include "music/player_events.h"
#include "music/seeking.h"

using seqtest::Cell;
using seqtest::Harness;

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t TICK = 882; // frames per tick at 125 BPM and 44100 Hz

struct PlayerDeleter {
    void operator()(Player* player) const { DestroyPlayer(player); }
};
using PlayerPtr = std::unique_ptr<Player, PlayerDeleter>;
struct SongDeleter {
    void operator()(Module* module) const { FreeModule(module); }
};
using SongPtr = std::unique_ptr<Module, SongDeleter>;

// Renders `frames` float frames in 884-frame pieces; fewer when the player stops.
std::vector<float> Render(Player* player, int64_t frames) {
    std::vector<float> out(static_cast<size_t>(2 * frames));
    int64_t done = 0;
    while (done < frames) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(884, frames - done));
        const int32_t got = RenderFloat(player, out.data() + 2 * done, n);
        done += got;
        if (got < n) break;
    }
    out.resize(static_cast<size_t>(2 * done));
    return out;
}

// Frames [from, from + count) of a straight render, bit for bit against `got`; the first frame
// that differs, or -1.
int64_t FirstDifference(const std::vector<float>& straight, int64_t from,
                        const std::vector<float>& got) {
    for (size_t k = 0; k < got.size(); ++k)
        if (std::memcmp(&got[k], &straight[static_cast<size_t>(2 * from) + k], sizeof(float)) != 0)
            return from + static_cast<int64_t>(k / 2);
    return -1;
}

// Four tracks with loops of both kinds, vibrato, a volume slide and an odd tempo, so that
// ticks, ramps and loop ends fall anywhere within a block.
xmw::Song BusySong() {
    xmw::Song song = seqtest::BasicSong(4, 32);
    song.speed = 3;
    song.bpm = 97;
    xmw::Instrument bouncing = song.instruments[0];
    bouncing.samples[0].loop = xmw::Loop::PingPong;
    bouncing.samples[0].loopStart = 100;
    bouncing.samples[0].loopLength = 777;
    song.instruments.push_back(bouncing);
    auto& p = song.patterns[0];
    p.At(0, 0) = Cell("C-4", 1, 0, 0x04, 0x46);
    p.At(0, 1) = Cell("E-5", 2);
    p.At(2, 2) = Cell("G-3", 2, 0x20, 0x0A, 0x02);
    p.At(4, 3) = Cell("C-6", 1, 0, 0x08, 0xF0);
    p.At(9, 2) = Cell("A-4", 2, 0, 0x0E, 0x92);
    p.At(17, 0) = Cell("D-4", 1);
    p.At(25, 1) = Cell("off");
    return song;
}

// The songs the exact seek is tried on: the writer's, the demo's and two from the corpus (those
// skip when absent).
std::vector<std::pair<std::string, SongPtr>> SeekSongs() {
    std::vector<std::pair<std::string, SongPtr>> songs;
    songs.emplace_back("busy", SongPtr(LoadModuleBytes(xmw::WriteXm(BusySong()))));
    const std::string paths[] = {std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm",
                                 (seqtest::CorpusDir() / "songs/JUHO_-_Ihana_paiva.xm").string(),
                                 (seqtest::CorpusDir() / "songs/dontyou.xm").string()};
    for (const std::string& path : paths) {
        SongPtr song(LoadModule(&standardFileCallbacks, path.c_str(), nullptr));
        if (song)
            songs.emplace_back(path, std::move(song));
        else
            std::printf("[ skipped  ] %s is missing\n", path.c_str());
    }
    return songs;
}

TEST(ExactSeek, GivesTheFramesOfAStraightRenderInEveryDirection) {
    // One player moves through these targets in turn: forward from a fresh start, within the
    // block being handed out, across blocks, back, onto block edges, and after a fast seek.
    struct Step {
        int64_t frame;
        SeekMode mode;
    };
    const Step steps[] = {{5 * RATE + 17, SeekMode::Exact},  {5 * RATE + 300, SeekMode::Exact},
                          {7 * RATE, SeekMode::Exact},       {1, SeekMode::Exact},
                          {884 * 3, SeekMode::Exact},        {4 * RATE, SeekMode::Fast},
                          {6 * RATE + 883, SeekMode::Exact}, {0, SeekMode::Exact}};
    constexpr int64_t LOOK = 3000; // frames compared after each seek
    for (const auto& [name, song] : SeekSongs()) {
        ASSERT_NE(song, nullptr) << name;
        for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
            PlayerPtr reference(CreatePlayer(song.get(), RATE, rules));
            const std::vector<float> straight = Render(reference.get(), 8 * RATE);
            ASSERT_EQ(straight.size(), size_t{16} * RATE);
            PlayerPtr player(CreatePlayer(song.get(), RATE, rules));
            for (const Step& step : steps) {
                ASSERT_TRUE(SeekFrame(player.get(), step.frame, step.mode));
                EXPECT_EQ(GetPlayerProgress(player.get()).frames, step.frame);
                const std::vector<float> got = Render(player.get(), LOOK);
                if (step.mode == SeekMode::Exact) {
                    EXPECT_EQ(FirstDifference(straight, step.frame, got), -1)
                        << name << (rules == PlayerRules::Demo ? " demo" : " standard")
                        << " rules, exact seek to " << step.frame;
                }
            }
        }
    }
}

TEST(ExactSeek, MixesAgainWhatWasMixedUnderOtherControls) {
    // The frames after the seek are those of a straight render with the controls now in effect,
    // though the player mixed its first frames under others.
    Harness song(BusySong(), PlayerRules::Standard);
    ASSERT_TRUE(song.loaded());
    Player* player = song.player();
    Render(player, 5000);
    player->controls.gainDb = -6.0f;
    player->controls.separation = 40;
    player->controls.interpolation = Interpolation::Cubic;
    PlayerPtr reference(CreatePlayer(song.module(), RATE, PlayerRules::Standard));
    reference->controls = player->controls;
    const std::vector<float> straight = Render(reference.get(), 23000);
    ASSERT_TRUE(SeekFrame(player, 20000, SeekMode::Exact));
    EXPECT_EQ(FirstDifference(straight, 20000, Render(player, 3000)), -1);
}

// The sequencer's whole state: position, tempo, flow and every track's record (but the voice it
// plays on).
void ExpectSameSequencer(const Player* a, const Player* b, int64_t frame) {
    EXPECT_EQ(a->position.order, b->position.order) << frame;
    EXPECT_EQ(a->position.row, b->position.row) << frame;
    EXPECT_EQ(a->tick, b->tick) << frame;
    EXPECT_EQ(a->speed, b->speed) << frame;
    EXPECT_EQ(a->bpm, b->bpm) << frame;
    EXPECT_EQ(a->globalVolume, b->globalVolume) << frame;
    EXPECT_EQ(a->tickFramesLeft, b->tickFramesLeft) << frame;
    EXPECT_EQ(a->framesMixed, b->framesMixed) << frame;
    for (int32_t c = 0; c < a->module->channelCount; ++c) {
        // Which of its two voices a track is on depends on whether the mixer had ended the
        // last note before the next one came (a new note moves to the partner of a voice still
        // playing), which a seek without mixing cannot know.
        MusicChannel x = a->channels[c], y = b->channels[c];
        x.voice = y.voice = nullptr;
        EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << "track " << c << " at " << frame;
    }
}

TEST(FastSeek, ReachesTheSequencerStateOfAStraightRender) {
    for (const auto& [name, song] : SeekSongs()) {
        for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
            // Block edges: an exact seek there has mixed exactly the ticks before the target.
            for (int64_t frame : {int64_t{884} * 7, int64_t{884} * 250, int64_t{884} * 331}) {
                PlayerPtr exact(CreatePlayer(song.get(), RATE, rules));
                PlayerPtr fast(CreatePlayer(song.get(), RATE, rules));
                ASSERT_TRUE(SeekFrame(exact.get(), frame, SeekMode::Exact));
                ASSERT_TRUE(SeekFrame(fast.get(), frame, SeekMode::Fast));
                SCOPED_TRACE(name);
                ExpectSameSequencer(exact.get(), fast.get(), frame);
            }
        }
    }
}

// Track 0 holds a looping note, track 1 a short one-shot, both from row 0.
xmw::Song HeldAndShortNotes() {
    xmw::Song song = seqtest::BasicSong(2, 64);
    xmw::Instrument shortOne = song.instruments[0];
    shortOne.samples[0].loop = xmw::Loop::None;
    shortOne.samples[0].values.resize(2000);
    shortOne.samples[0].loopLength = 0;
    song.instruments.push_back(shortOne);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(0, 1) = Cell("C-4", 2);
    return song;
}

TEST(FastSeek, StartsHeldNotesWithAFadeInAndLeavesEndedOnesSilent) {
    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        Harness song(HeldAndShortNotes(), rules);
        ASSERT_TRUE(song.loaded());
        Player* player = song.player();
        ASSERT_TRUE(SeekFrame(player, 3 * RATE + 5, SeekMode::Fast));
        ChannelState held{}, ended{};
        ASSERT_TRUE(GetChannelState(player, 0, &held));
        ASSERT_TRUE(GetChannelState(player, 1, &ended));
        EXPECT_TRUE(held.active);
        EXPECT_FALSE(ended.active) << "a 2000-frame note started 3 s ago still sounds";
        const std::vector<float> frames = Render(player, 1000);
        float loudest = 0;
        for (float v : frames) loudest = std::max(loudest, std::fabs(v));
        EXPECT_GT(loudest, 0.05f) << "the held note does not sound after the seek";
        EXPECT_LT(std::fabs(frames[0]), loudest * 0.05f) << "the note starts without a fade-in";
    }
}

// Two orders of 16 rows at speed 6, 125 BPM: row r of order o starts at ((16 o + r) 6) ticks.
xmw::Song TwoOrders() {
    xmw::Song song = seqtest::BasicSong(2, 16);
    song.patterns.push_back(song.MakePattern(16));
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[1].At(0, 1) = Cell("E-4", 1);
    song.orders = {0, 1};
    return song;
}

TEST(OrderRowSeek, StartsTheRowAtTheTimeTheSongReachesIt) {
    struct Case {
        int32_t order, row;
        bool accepted;
    };
    const Case cases[] = {{1, 4, true},   {0, 15, true}, {1, 0, true},   {0, 0, true},
                          {1, 16, false}, {2, 0, false}, {-1, 0, false}, {0, -1, false}};
    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        Harness song(TwoOrders(), rules);
        ASSERT_TRUE(song.loaded());
        Player* player = song.player();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "order " << c.order << " row " << c.row);
            ASSERT_EQ(SeekOrderRow(player, c.order, c.row), c.accepted);
            if (!c.accepted) continue;
            EXPECT_EQ(GetPlayerProgress(player).frames, int64_t{16 * c.order + c.row} * 6 * TICK);
            Render(player, 1);
            EXPECT_EQ(player->heard.order, c.order);
            EXPECT_EQ(player->heard.row, c.row);
            // The first event after the seek is the row it went to.
            PlayerEvent events[8];
            ASSERT_GE(TakePlayerEvents(player, events, 8), 1);
            const PlayerEvent& first = events[0];
            EXPECT_EQ(first.kind, PlayerEventKind::OrderChanged);
            EXPECT_EQ(first.frame, GetPlayerProgress(player).frames - 1);
            EXPECT_EQ(first.row, c.row);
        }
    }
}

TEST(RepeatCount, PlaysTheSongThatManyTimesThenEnds) {
    Harness song(TwoOrders());
    ASSERT_TRUE(song.loaded());
    Player* player = song.player();
    const int64_t pass = int64_t{32} * 6 * TICK;
    for (int32_t count : {1, 3}) {
        ResetPlayback(player);
        SetRepeatCount(player, count);
        const std::vector<float> frames = Render(player, pass * 5);
        EXPECT_EQ(static_cast<int64_t>(frames.size() / 2), pass * count);
        const PlayerProgress progress = GetPlayerProgress(player);
        EXPECT_TRUE(progress.ended);
        EXPECT_EQ(progress.passes, count);
        EXPECT_EQ(progress.frames, pass * count);
        float after = 0;
        EXPECT_EQ(RenderFloat(player, &after, 1), 0) << "frames after the end";
    }
    // For ever: nothing ends, and the passes go on being counted.
    ResetPlayback(player);
    SetRepeatCount(player, 0);
    EXPECT_EQ(static_cast<int64_t>(Render(player, pass * 2 + 10).size() / 2), pass * 2 + 10);
    EXPECT_EQ(GetPlayerProgress(player).passes, 2);
    EXPECT_FALSE(GetPlayerProgress(player).ended);
    // Raised at the end, the count lets the song go on.
    ResetPlayback(player);
    SetRepeatCount(player, 1);
    Render(player, pass * 2);
    ASSERT_TRUE(GetPlayerProgress(player).ended);
    SetRepeatCount(player, 2);
    EXPECT_EQ(static_cast<int64_t>(Render(player, pass * 2).size() / 2), pass);
}

TEST(SeekLimits, RefusesFramesBeyondTheEndAndLeavesThePlayerAlone) {
    Harness song(TwoOrders());
    ASSERT_TRUE(song.loaded());
    Player* player = song.player();
    const int64_t pass = int64_t{32} * 6 * TICK;
    struct Case {
        EndMode end;
        int32_t repeat;
        int64_t frame;
        bool accepted;
    };
    const Case cases[] = {{EndMode::Stop, 0, pass, true},
                          {EndMode::Stop, 0, pass + 1, false},
                          {EndMode::Wrap, 2, 2 * pass, true},
                          {EndMode::Wrap, 2, 2 * pass + 1, false},
                          {EndMode::Wrap, 0, 9 * pass, true},
                          {EndMode::Wrap, 0, -1, false},
                          {EndMode::Stop, 3, pass + 1, false},
                          {EndMode::Wrap, 0, int64_t{MAX_SEEK_SECONDS} * RATE + 1, false}};
    for (const Case& c : cases) {
        for (SeekMode mode : {SeekMode::Exact, SeekMode::Fast}) {
            SCOPED_TRACE(testing::Message() << "frame " << c.frame << " repeat " << c.repeat);
            ResetPlayback(player);
            player->endMode = c.end;
            SetRepeatCount(player, c.repeat);
            Render(player, 1000);
            EXPECT_EQ(SeekFrame(player, c.frame, mode), c.accepted);
            EXPECT_EQ(GetPlayerProgress(player).frames, c.accepted ? c.frame : 1000);
            if (c.accepted && c.frame == pass * std::max(c.repeat, 1) && c.end == EndMode::Stop) {
                float frame[2];
                EXPECT_EQ(RenderFloat(player, frame, 1), 0);
                EXPECT_TRUE(GetPlayerProgress(player).ended);
            }
        }
    }
    player->endMode = EndMode::Wrap;
    SetRepeatCount(player, 0);
    EXPECT_FALSE(SeekFrame(player, 0, static_cast<SeekMode>(7)));
    EXPECT_FALSE(SeekFrame(nullptr, 0, SeekMode::Exact));
}

// Notes the events must name: (row, track, note, instrument), a delayed one among them.
xmw::Song NotesToFollow() {
    xmw::Song song = seqtest::BasicSong(4, 8);
    song.instruments.push_back(song.instruments[0]);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(2, 3) = Cell("A#5", 2);
    song.patterns[0].At(5, 1) = Cell("D-3", 1, 0, 0x0E, 0xD3); // starts on tick 3
    return song;
}

TEST(PlayerEvents, NameEveryNoteRowAndOrderAtItsFrame) {
    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        SCOPED_TRACE(rules == PlayerRules::Demo ? "demo rules" : "standard rules");
        Harness song(NotesToFollow(), rules);
        ASSERT_TRUE(song.loaded());
        Player* player = song.player();
        // One pass; the block mixed last reaches into the next, whose events are left aside.
        const int64_t pass = 8 * 6 * TICK;
        Render(player, pass);
        std::vector<PlayerEvent> events(64);
        events.resize(static_cast<size_t>(TakePlayerEvents(player, events.data(), 64)));
        std::erase_if(events, [&](const PlayerEvent& e) { return e.frame >= pass; });
        std::vector<PlayerEvent> notes;
        int rows = 0, orders = 0;
        for (const PlayerEvent& e : events) {
            if (e.kind == PlayerEventKind::NoteStarted) notes.push_back(e);
            if (e.kind == PlayerEventKind::RowChanged) {
                EXPECT_EQ(e.frame, int64_t{rows} * 6 * TICK);
                EXPECT_EQ(e.row, rows);
                EXPECT_EQ(e.channel, -1);
                ++rows;
            }
            orders += e.kind == PlayerEventKind::OrderChanged;
        }
        EXPECT_EQ(rows, 8);
        EXPECT_EQ(orders, 1);
        ASSERT_EQ(notes.size(), 3u);
        struct Expected {
            int64_t frame;
            int32_t channel, note, instrument, row;
        };
        const Expected expected[] = {{0, 0, xmw::NoteNumber("C-4"), 1, 0},
                                     {2 * 6 * TICK, 3, xmw::NoteNumber("A#5"), 2, 2},
                                     {(5 * 6 + 3) * TICK, 1, xmw::NoteNumber("D-3"), 1, 5}};
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(notes[k].frame, expected[k].frame) << k;
            EXPECT_EQ(notes[k].channel, expected[k].channel) << k;
            EXPECT_EQ(notes[k].note, expected[k].note) << k;
            EXPECT_EQ(notes[k].instrument, expected[k].instrument) << k;
            EXPECT_EQ(notes[k].sample, 0) << k;
            EXPECT_EQ(notes[k].row, expected[k].row) << k;
            EXPECT_EQ(notes[k].order, 0) << k;
        }
        EXPECT_EQ(TakePlayerEvents(player, events.data(), 64), 0) << "taken events come again";
    }
}

TEST(PlayerEvents, AFullQueueKeepsTheNewestAndCountsTheRest) {
    // Speed 1: a row a tick, so a few seconds make thousands of row events.
    xmw::Song fast = seqtest::BasicSong(1, 64);
    fast.speed = 1;
    Harness song(fast);
    ASSERT_TRUE(song.loaded());
    Player* player = song.player();
    Render(player, 3000 * TICK);
    std::vector<PlayerEvent> events(2000);
    const int32_t n = TakePlayerEvents(player, events.data(), 2000);
    EXPECT_EQ(n, PLAYER_EVENT_QUEUE);
    // 3000 ticks were mixed, plus those of the block's rest; one row and a few order entries
    // each time the 64 rows come round.
    const uint64_t rowsMixed = static_cast<uint64_t>((player->framesMixed + TICK - 1) / TICK);
    const uint64_t ordersMixed = (rowsMixed + 63) / 64;
    EXPECT_EQ(PlayerEventsDropped(player) + static_cast<uint64_t>(n), rowsMixed + ordersMixed);
    for (int32_t k = 1; k < n; ++k) EXPECT_GE(events[k].frame, events[k - 1].frame);
    EXPECT_EQ(events[n - 1].frame, static_cast<int64_t>(rowsMixed - 1) * TICK);
    // Small bites give the queue in order too.
    Render(player, 10 * TICK);
    PlayerEvent one{};
    int64_t last = -1;
    while (TakePlayerEvents(player, &one, 1) == 1) {
        EXPECT_GT(one.frame, last - 1);
        last = one.frame;
    }
    EXPECT_GT(last, events[n - 1].frame);
}

TEST(PlayerEvents, ASeekDropsWhatWasQueuedAndCountsFramesFromTheSongsStart) {
    Harness song(NotesToFollow());
    ASSERT_TRUE(song.loaded());
    Player* player = song.player();
    Render(player, 2 * RATE);
    for (SeekMode mode : {SeekMode::Exact, SeekMode::Fast}) {
        ASSERT_TRUE(SeekFrame(player, 4 * 6 * TICK + 10, mode));
        PlayerEvent events[16];
        EXPECT_EQ(TakePlayerEvents(player, events, 16), 0);
        Render(player, 2 * 6 * TICK);
        const int32_t n = TakePlayerEvents(player, events, 16);
        ASSERT_GT(n, 0);
        EXPECT_EQ(events[0].kind, PlayerEventKind::RowChanged);
        EXPECT_EQ(events[0].frame, 5 * 6 * TICK) << "row 5";
    }
}

TEST(ChannelStates, TellEachTracksNoteLevelsAndPitch) {
    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        SCOPED_TRACE(rules == PlayerRules::Demo ? "demo rules" : "standard rules");
        Harness song(NotesToFollow(), rules);
        ASSERT_TRUE(song.loaded());
        Player* player = song.player();
        Render(player, 3 * 6 * TICK);
        ChannelState state{};
        ASSERT_TRUE(GetChannelState(player, 3, &state));
        EXPECT_TRUE(state.active);
        EXPECT_EQ(state.note, xmw::NoteNumber("A#5"));
        EXPECT_EQ(state.instrument, 2);
        EXPECT_EQ(state.sample, 0);
        EXPECT_EQ(state.volume, 64);
        EXPECT_EQ(state.panning, 128);
        // A#5 on the linear table: 8363 Hz at C-4, times 2^(22/12).
        EXPECT_NEAR(state.frequency, 8363.0 * std::pow(2.0, 22.0 / 12.0), 2.0);
        ASSERT_TRUE(GetChannelState(player, 2, &state));
        EXPECT_FALSE(state.active);
        EXPECT_EQ(state.note, -1);
        EXPECT_EQ(state.frequency, 0.0);
        EXPECT_FALSE(GetChannelState(player, 4, &state)) << "the song has four tracks";
        EXPECT_FALSE(GetChannelState(player, -1, &state));
    }
}

} // namespace
