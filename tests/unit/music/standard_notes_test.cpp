// The standard rules' note handling: key-off and fade-out, envelopes and their release, the
// instrument number with and without a note, note delay, sample offset and the panning law. Each
// case is a small song made with the XM writer, stepped tick by tick under the standard rules,
// with what reaches the voice (its volume 0-255, 128 for full volume at full envelope) compared
// against a table worked out from the rule the case names.
#include "sequencer_harness.h"

#include <functional>

namespace {

using seqtest::BasicSong;
using seqtest::Cell;
using seqtest::Harness;

constexpr uint8_t KEY_OFF_EFFECT = 0x14; // K
constexpr uint8_t OFFSET_EFFECT = 0x09;

// One track, `speed` ticks a row, one instrument (the harness's looping ramp, volume 64).
xmw::Song OneTrack(int speed, int rows = 8) {
    xmw::Song song = BasicSong(1, rows);
    song.speed = static_cast<uint16_t>(speed);
    return song;
}

// The voice's volume after each of `ticks` ticks under the standard rules.
std::vector<int> Volumes(const xmw::Song& song, int ticks) {
    Harness harness(song, PlayerRules::Standard);
    if (!harness.loaded()) return {};
    std::vector<int> volumes;
    for (const seqtest::VoiceState& state : harness.Ticks(ticks)) volumes.push_back(state.volume);
    return volumes;
}

struct VolumeCase {
    const char* name;
    int speed;
    std::function<void(xmw::Song&)> write;
    std::vector<int> volumes; // per tick from the first
};

void PrintTo(const VolumeCase& c, std::ostream* out) {
    *out << c.name;
}

class StandardNoteVolumes : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(StandardNoteVolumes, ReachTheVoiceTickByTick) {
    const VolumeCase& c = GetParam();
    xmw::Song song = OneTrack(c.speed);
    c.write(song);
    EXPECT_EQ(Volumes(song, static_cast<int>(c.volumes.size())), c.volumes);
}

// Fade-out 2048 in the file takes 1/16 of the volume a tick.
void Fading(xmw::Song& song) {
    song.instruments[0].fadeout = 2048;
}

// A volume envelope falling from 64 to 0 over 4 ticks, held there (sustain at its second point)
// until key-off, then rising back to 64 over 4 ticks.
void SustainedDip(xmw::Song& song) {
    xmw::Envelope& envelope = song.instruments[0].volumeEnvelope;
    envelope.points = {{0, 64}, {4, 0}, {8, 64}};
    envelope.sustain = 1;
    envelope.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN;
}

const VolumeCase volumeCases[] = {
    {"KeyOffWithoutEnvelopeSilencesAndAVolumeBringsBackAFadingNote",
     2,
     [](xmw::Song& song) {
         Fading(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(1, 0) = Cell("off");
         song.patterns[0].At(2, 0) = Cell(nullptr, 0, 0x50); // 64 again, fade-out at 13/16
     },
     {128, 128, 0, 0, 104, 96}},
    {"AnInstrumentNumberAloneAfterKeyOffRestoresTheNoteAndEndsTheFade",
     2,
     [](xmw::Song& song) {
         Fading(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(1, 0) = Cell("off");
         song.patterns[0].At(2, 0) = Cell(nullptr, 1);
     },
     {128, 128, 0, 0, 128, 128}},
    {"BesideAKeyOffTheInstrumentNumberRestoresTheVolumeButTheFadeGoesOn",
     2,
     [](xmw::Song& song) {
         Fading(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(1, 0) = Cell("off", 1); // fades from this tick: 15/16, 14/16
     },
     {128, 128, 120, 112, 104}},
    {"KeyOffReleasesTheSustainedEnvelope",
     4,
     [](xmw::Song& song) {
         SustainedDip(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(2, 0) = Cell("off");
     },
     {128, 96, 64, 32, 0, 0, 0, 0, 0, 32, 64, 96, 128, 128}},
    {"K00IsAKeyOffInTheNotesPlace",
     4,
     [](xmw::Song& song) {
         SustainedDip(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(2, 0) = Cell("C-4", 0, 0, KEY_OFF_EFFECT, 0); // the note is not played
     },
     {128, 96, 64, 32, 0, 0, 0, 0, 0, 32, 64, 96, 128, 128}},
    {"KxxReleasesOnItsTick",
     4,
     [](xmw::Song& song) {
         SustainedDip(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(2, 0) = Cell(nullptr, 0, 0, KEY_OFF_EFFECT, 2);
     },
     {128, 96, 64, 32, 0, 0, 0, 0, 0, 0, 0, 32, 64, 96, 128}},
    {"NoteDelayAfterKeyOffRestartsTheEnvelopeUnreleased",
     4,
     [](xmw::Song& song) {
         SustainedDip(song);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(2, 0) = Cell("off");
         song.patterns[0].At(3, 0) = Cell(nullptr, 0, 0, 0x0E, 0xD1); // the last note again
     },
     {128, 96, 64, 32, 0, 0, 0, 0, 0, 32, 64, 96, 128, 128, 96, 64, 32, 0, 0}},
    {"EnvelopePointsAboveFullCountAsFull",
     4,
     [](xmw::Song& song) {
         xmw::Envelope& envelope = song.instruments[0].volumeEnvelope;
         envelope.points = {{0, 32}, {2, 1000}};
         envelope.flags = ENVELOPE_ON;
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
     },
     {64, 96, 128, 128}},
    {"ANoteBeyondTheRangeKeepsThePlayingInstrumentsFadeOut",
     2,
     [](xmw::Song& song) {
         Fading(song); // instrument 1: 1/16 a tick
         xmw::Instrument second = song.instruments[0];
         second.fadeout = 8192;               // 1/4 a tick, were it to play
         second.samples[0].relativeNote = 48; // B-7 lands beyond the table
         song.instruments.push_back(second);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(1, 0) = Cell("B-7", 2);
         song.patterns[0].At(2, 0) = Cell("off", 0, 0x50); // 64 again, fading from this tick
     },
     {128, 128, 128, 128, 120, 112, 104}},
    {"ANoteChangingTheInstrumentMovesTheEnvelopeOntoItsEnvelope",
     4,
     [](xmw::Song& song) {
         song.instruments[0].volumeEnvelope.points = {{0, 64}, {2, 64}}; // ends at tick 2
         song.instruments[0].volumeEnvelope.flags = ENVELOPE_ON;
         xmw::Instrument second = song.instruments[0];
         second.volumeEnvelope.points = {{0, 64}, {8, 0}}; // -8 a tick
         song.instruments.push_back(second);
         song.patterns[0].At(0, 0) = Cell("C-4", 1);
         song.patterns[0].At(1, 0) = Cell(nullptr, 2); // restarts instrument 1's envelope
         // Instrument 2 from where instrument 1's envelope stopped (its last point, tick 2).
         song.patterns[0].At(2, 0) = Cell("C-4");
     },
     {128, 128, 128, 128, 128, 128, 128, 128, 96, 80, 64, 48}},
    // Tremor (1 tick on, 2 off) silences the track on row 0's last tick; row 1 delays its cell.
    {"TremorsSilenceHoldsOverTheTicksBeforeADelayedNote",
     3,
     [](xmw::Song& song) {
         song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1D, 0x01);
         song.patterns[0].At(1, 0) = Cell("C-4", 0, 0, 0x0E, 0xD2); // sounds again on tick 2
     },
     {128, 128, 0, 0, 0, 128}},
    {"TremorsSilenceHoldsOverADelayedKeyOffWithAVolume",
     3,
     [](xmw::Song& song) {
         song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1D, 0x01);
         song.patterns[0].At(1, 0) = Cell("off", 0, 0x30, 0x0E, 0xD1);
     },
     {128, 128, 0, 0, 0, 0}},
    {"AKeyOffWithAnInstrumentSoundsOnItsRowTickAndTremorCountsOn",
     3,
     [](xmw::Song& song) {
         song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1D, 0x01);
         song.patterns[0].At(1, 0) = Cell("off", 1, 0, 0x1D, 0x01);
     },
     {128, 128, 0, 128, 0, 128}},
    {"TremorsSilenceHoldsOverK00WithAnInstrumentAndAVolume",
     3,
     [](xmw::Song& song) {
         song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1D, 0x01);
         song.patterns[0].At(1, 0) = Cell(nullptr, 1, 0x30, KEY_OFF_EFFECT, 0);
     },
     {128, 128, 0, 0, 0, 0}},
    {"VolumeColumnSlidesOnLaterTicksFineSlidesOnTheRowTick",
     3,
     [](xmw::Song& song) {
         song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30);   // volume 32
         song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0x74); // +4 on ticks 1 and 2
         song.patterns[0].At(2, 0) = Cell(nullptr, 0, 0x88); // -8 on the row tick only
     },
     {64, 64, 64, 64, 72, 80, 64, 64, 64}},
};

INSTANTIATE_TEST_SUITE_P(Cases, StandardNoteVolumes, ::testing::ValuesIn(volumeCases),
                         [](const ::testing::TestParamInfo<VolumeCase>& info) {
                             return std::string(info.param.name);
                         });

// Two instruments whose samples differ in default volume (64 and 32) and in length.
xmw::Song TwoInstruments(int rows = 8) {
    xmw::Song song = OneTrack(2, rows);
    xmw::Instrument second = song.instruments[0];
    second.samples[0].volume = 32;
    second.samples[0].values.resize(1024);
    second.samples[0].loopLength = 1024;
    song.instruments.push_back(second);
    return song;
}

TEST(StandardNotes, AnInstrumentNumberAloneSelectsTheNextNotesInstrument) {
    xmw::Song song = TwoInstruments();
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x20); // volume 16
    // Back to the default of the sample playing (64), not of instrument 2's (32).
    song.patterns[0].At(1, 0) = Cell(nullptr, 2);
    // Instrument 2's sample, the volume kept (no number on the row).
    song.patterns[0].At(2, 0) = Cell("C-4");
    song.patterns[0].At(3, 0) = Cell("C-4", 2); // with the number: its default, 32
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    std::vector<seqtest::VoiceState> states = harness.Ticks(6);
    EXPECT_EQ(harness.channel(0).voice->sample->length, 1024u) << "row 2 plays instrument 2";
    for (const seqtest::VoiceState& state : harness.Ticks(2)) states.push_back(state);
    const std::vector<int> expected{32, 32, 128, 128, 128, 128, 64, 64};
    for (size_t t = 0; t < expected.size(); ++t) EXPECT_EQ(states[t].volume, expected[t]) << t;
    EXPECT_EQ(states[2].voiceNumber, states[1].voiceNumber) << "the number alone starts nothing";
    EXPECT_NE(states[4].voiceNumber, states[3].voiceNumber);
}

TEST(StandardNotes, ANoteOfAMissingInstrumentKeepsTheDefaultsAnInstrumentNumberPutsBack) {
    xmw::Song song = OneTrack(2);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x20); // volume 16
    song.patterns[0].At(1, 0) = Cell("C-4", 9);       // the song has no instrument 9: silent
    song.patterns[0].At(2, 0) = Cell(nullptr, 1);     // 64, instrument 1's sample's default
    song.patterns[0].At(3, 0) = Cell("C-4");          // plays at it
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    const std::vector<seqtest::VoiceState> states = harness.Ticks(8);
    EXPECT_EQ(states[0].volume, 32);
    EXPECT_EQ(states[4].volume, 128);
    EXPECT_EQ(states[6].volume, 128);
    EXPECT_TRUE(states[6].playing);
}

TEST(StandardNotes, TonePortamentoKeepsThePlayingSample) {
    xmw::Song song = TwoInstruments();
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("D-4", 2, 0, 0x03, 0x10);
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    const std::vector<seqtest::VoiceState> states = harness.Ticks(4);
    EXPECT_EQ(states[2].voiceNumber, states[0].voiceNumber) << "nothing restarts";
    EXPECT_EQ(harness.channel(0).voice->sample->length, 4096u) << "instrument 1's sample plays on";
    EXPECT_EQ(states[2].volume, 128) << "the playing sample's default volume";
    EXPECT_LT(states[3].period, states[0].period) << "sliding up towards D-4";
}

TEST(StandardNotes, SampleOffsetRemembersOnlyWhatANoteStartedWith) {
    xmw::Song song = OneTrack(1);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, OFFSET_EFFECT, 0x08);
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, OFFSET_EFFECT, 0x04); // no note: nothing
    song.patterns[0].At(2, 0) = Cell("C-4", 0, 0, OFFSET_EFFECT, 0x00);   // 0x08 again
    song.patterns[0].At(3, 0) = Cell("C-4", 0, 0, OFFSET_EFFECT, 0x20);   // past the end: cut
    song.patterns[0].At(4, 0) = Cell("C-4");                              // from the start
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    const std::vector<seqtest::VoiceState> states = harness.Ticks(5);
    EXPECT_EQ(states[0].position, 2048u);
    EXPECT_EQ(states[1].voiceNumber, states[0].voiceNumber);
    EXPECT_EQ(states[2].position, 2048u);
    EXPECT_NE(states[2].voiceNumber, states[1].voiceNumber);
    EXPECT_EQ(states[4].position, 0u);
    Harness cut(song, PlayerRules::Standard);
    cut.Ticks(4);
    EXPECT_EQ(cut.channel(0).voice->sample->length, 0u) << "a cut note plays nothing";
}

TEST(StandardNotes, NoteDelayPlaysInEveryRepetitionOfAPatternDelay) {
    xmw::Song song = OneTrack(3);
    song.channels = 2;
    song.patterns[0] = song.MakePattern(8);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0xD1);
    song.patterns[0].At(0, 1) = Cell(nullptr, 0, 0, 0x0E, 0xE1); // two row periods
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    const std::vector<seqtest::VoiceState> states = harness.Ticks(6);
    EXPECT_FALSE(states[0].playing) << "nothing before the delay's tick";
    // Starts on tick 1 of each period: the voice moves to its partner each time.
    EXPECT_TRUE(states[1].playing);
    EXPECT_EQ(states[2].voiceNumber, states[1].voiceNumber);
    EXPECT_EQ(states[3].voiceNumber, states[2].voiceNumber);
    EXPECT_NE(states[4].voiceNumber, states[3].voiceNumber);
}

TEST(StandardNotes, ThePanningEnvelopeActsATickLateAndHoldsItsSustainAfterKeyOff) {
    xmw::Song song = OneTrack(4);
    xmw::Envelope& envelope = song.instruments[0].panningEnvelope;
    envelope.points = {{0, 0}, {2, 64}, {4, 32}};
    envelope.sustain = 1;
    envelope.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("off");
    Harness harness(song, PlayerRules::Standard);
    ASSERT_TRUE(harness.loaded());
    // Centred sample: envelope 0 is hard left, 32 centre, 64 hard right (255).
    std::vector<int> panning;
    for (const seqtest::VoiceState& state : harness.Ticks(8)) panning.push_back(state.panning);
    EXPECT_EQ(panning, (std::vector<int>{0, 0, 128, 255, 255, 255, 255, 255}));
}

TEST(StandardNotes, TheVolumeColumnsPanningSlides) {
    // From the sample's centre (128), four ticks a row: D2 slides left by 2 on each later tick,
    // D0 takes the panning hard left at its first later tick, E3 slides right by 3.
    struct Case {
        uint8_t volumeColumn;
        std::vector<int> panning;
    };
    for (const Case& c : {Case{0xD2, {128, 126, 124, 122}}, Case{0xD0, {128, 0, 0, 0}},
                          Case{0xE3, {128, 131, 134, 137}}}) {
        xmw::Song song = OneTrack(4);
        song.patterns[0].At(0, 0) = Cell("C-4", 1, c.volumeColumn);
        Harness harness(song, PlayerRules::Standard);
        ASSERT_TRUE(harness.loaded());
        std::vector<int> panning;
        for (const seqtest::VoiceState& state : harness.Ticks(4)) panning.push_back(state.panning);
        EXPECT_EQ(panning, c.panning) << std::hex << int{c.volumeColumn};
    }
}

TEST(StandardNotes, PanningFollowsTheSquareRootLaw) {
    struct Side {
        uint8_t panning;
        int left, right;
    };
    // Volume 128 at full: centred each side gets 128 x sqrt(1/2); the sides split by the square
    // root of their share of 256.
    for (const Side side : {Side{128, 91, 91}, Side{0, 128, 0}, Side{64, 111, 64}}) {
        xmw::Song song = OneTrack(2);
        song.instruments[0].samples[0].panning = side.panning;
        song.patterns[0].At(0, 0) = Cell("C-4", 1);
        Harness harness(song, PlayerRules::Standard);
        ASSERT_TRUE(harness.loaded());
        const seqtest::VoiceState state = harness.Ticks(1)[0];
        EXPECT_EQ(state.left, side.left) << int{side.panning};
        EXPECT_EQ(state.right, side.right) << int{side.panning};
    }
}

} // namespace
