// Notes reaching the voices: the partner-voice trigger, tone-portamento rows, key-off, the kept
// tremolo offset, and cells naming instruments, notes or samples the song does not have.
#include "sequencer_harness.h"

using seqtest::Cell;
using seqtest::Player;

namespace {

// Adds an instrument like the basic one with another default volume; returns its number.
uint8_t AddInstrument(xmw::Song& song, uint8_t volume, uint8_t panning = 128) {
    xmw::Instrument instrument = song.instruments[0];
    instrument.samples[0].volume = volume;
    instrument.samples[0].panning = panning;
    song.instruments.push_back(instrument);
    return static_cast<uint8_t>(song.instruments.size());
}

} // namespace

TEST(SequencerVoices, FirstNoteOnItsOwnVoiceThenAlternatingWithThePartner) {
    xmw::Song song = seqtest::BasicSong(3, 8);
    song.speed = 2;
    for (int r = 0; r < 4; ++r) song.patterns[0].At(r, 2) = Cell("C-4", 1);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    std::vector<int> voicesUsed;
    for (int r = 0; r < 4; ++r) {
        voicesUsed.push_back(player.Tick(3)[2].voiceNumber);
        if (r > 0) {
            // The voice the note left is told to fall silent (the mixer ramps it out).
            const Voice& old = voices[voicesUsed[r - 1]];
            EXPECT_EQ(old.mixVolume, 0);
            EXPECT_EQ(old.volumeLeft, 0);
            EXPECT_EQ(old.volumeRight, 0);
            EXPECT_TRUE(old.sample != nullptr);
        }
        player.Tick(3);
    }
    EXPECT_EQ(voicesUsed, (std::vector<int>{2, 34, 2, 34}));
    EXPECT_EQ(voices[34].voiceNumber, 34);
}

TEST(SequencerVoices, TonePortamentoRowSlidesWithoutANewNote) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("C-5", 0, 0, 0x03, 0x10); // 64 period units per tick
    Player player(song);
    ASSERT_TRUE(player.loaded());
    auto states = player.Ticks(12);
    EXPECT_EQ(states[5].period, 4608);
    EXPECT_EQ(states[6].voiceNumber, 0); // no trigger: the note stays on its voice
    EXPECT_EQ(voices[32].sample, nullptr);
    EXPECT_EQ(states[6].period, 4608); // row tick: the slide has not started
    EXPECT_EQ(states[6].frequency, 8363);
    for (int t = 1; t < 6; ++t) EXPECT_EQ(states[6 + t].period, 4608 - 64 * t) << "tick " << t;
    EXPECT_EQ(channels[0].portaTarget, 3840);
}

TEST(SequencerVoices, InstrumentOnTonePortamentoRowResetsFromTheOldInstrumentsSample) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    const uint8_t quiet = AddInstrument(song, 20, 40);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30); // volume 32
    song.patterns[0].At(1, 0) = Cell("C-5", quiet, 0, 0x03, 0x01);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    EXPECT_EQ(channels[0].volume, 32);
    player.Tick();
    EXPECT_EQ(channels[0].instrumentIndex, 0);
    EXPECT_EQ(channels[0].volume, 64);   // the first instrument's sample volume
    EXPECT_EQ(channels[0].panning, 128); // and panning
}

TEST(SequencerVoices, KeyOffWithoutVolumeEnvelopeSilencesAtOnce) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(2, 0) = Cell("off");
    song.patterns[0].At(0, 1) = Cell("C-4", 1);
    song.patterns[0].At(2, 1) = Cell(nullptr, 0, 0, 0x14, 0x05); // K: the parameter is ignored
    Player player(song);
    ASSERT_TRUE(player.loaded());
    for (int t = 0; t < 12; ++t) {
        auto s = player.Tick(2);
        EXPECT_EQ(s[0].volume, 127);
        EXPECT_EQ(s[1].volume, 127);
    }
    auto s = player.Tick(2);
    EXPECT_EQ(s[0].volume, 0);
    EXPECT_EQ(s[1].volume, 0);
    EXPECT_TRUE(s[0].playing); // the voice runs on at volume 0
}

TEST(SequencerVoices, KeyOffWithVolumeEnvelopePassesSustainAndFades) {
    xmw::Song song = seqtest::BasicSong(1, 8);
    song.speed = 2;
    auto& envelope = song.instruments[0].volumeEnvelope;
    envelope.points = {{0, 64}, {2, 32}, {6, 0}};
    envelope.sustain = 1;
    envelope.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    song.instruments[0].fadeout = 0x2000; // 16384 per tick once released
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(3, 0) = Cell("off");
    Player player(song);
    ASSERT_TRUE(player.loaded());
    auto states = player.Ticks(12);
    // Envelope 64, 48, then held at 32 while the key is down (full fade-out).
    EXPECT_EQ(states[0].volume, 127);
    EXPECT_EQ(states[1].volume, 95);
    for (int t = 2; t < 6; ++t) EXPECT_EQ(states[t].volume, 63) << "tick " << t;
    // Key-off on tick 6: still the sustain value, fade-out 65536 - 16384.
    EXPECT_EQ(channels[0].volumeEnvelopePoint, 2);
    EXPECT_EQ(states[6].volume, 47);
    // Then the next segment (32 down to 0 over 4 ticks) with 16384 less fade-out per tick.
    EXPECT_EQ(states[7].volume, 23); // envelope 24, fade 32768
    EXPECT_EQ(states[8].volume, 7);  // envelope 16, fade 16384
    EXPECT_EQ(states[9].volume, 0);  // fade 0
    EXPECT_EQ(channels[0].fadeoutVolume, 0);
}

TEST(SequencerVoices, TremoloOffsetStaysInTheVolumeAfterTremoloRows) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30, 0x07, 0x4F); // volume 32, speed 4, depth 15
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x07, 0x00);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(12);
    const int32_t delta = channels[0].volumeDelta;
    ASSERT_NE(delta, 0);
    auto s = player.Tick();
    EXPECT_EQ(channels[0].volume, 32 + delta);
    EXPECT_EQ(s[0].volume, (32 + delta) * 127 / 64);
}

TEST(SequencerVoices, MissingInstrumentsNotesAndSamplesPlaySilence) {
    xmw::Song song = seqtest::BasicSong(4, 4);
    song.instruments[0].sampleMap.fill(0);
    song.instruments[0].sampleMap[60] = 9;      // a slot the instrument does not fill
    song.patterns[0].At(0, 0) = Cell("C-4", 7); // only one instrument
    song.patterns[0].At(0, 1) = Cell("C-5", 1); // note 61 -> slot 9
    PatternCell high = Cell(nullptr, 1);
    high.note = 120; // not a note of a valid file
    song.patterns[0].At(0, 2) = high;
    song.patterns[0].At(0, 3) = Cell("C-4", 1);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    auto s = player.Tick(4);
    EXPECT_EQ(channels[0].voice->sample, &silentSample);
    EXPECT_EQ(channels[1].voice->sample, &silentSample);
    EXPECT_EQ(channels[2].voice->sample, nullptr); // taken as no note: nothing starts
    EXPECT_EQ(channels[2].noteIndex, 0);
    EXPECT_NE(channels[3].voice->sample, &silentSample);
    EXPECT_EQ(s[0].volume, 0);
    EXPECT_EQ(s[1].volume, 0);
}

TEST(SequencerVoices, SampleMapValueBeyondTheSlotsSelectsSilence) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("D-4", 1);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.module()->instruments[0].sampleMap[50] = 200;
    player.Tick();
    EXPECT_EQ(channels[0].voice->sample, &silentSample);
}
