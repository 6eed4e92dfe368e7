// Notes reaching the voices: the partner-voice trigger, tone-portamento rows, key-off, the kept
// tremolo offset, and cells naming instruments, notes or samples the song does not have.
#include "sequencer_harness.h"

using seqtest::Cell;
using seqtest::Harness;
using Dump = std::vector<std::string>;

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
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    std::vector<int> voicesUsed;
    for (int r = 0; r < 4; ++r) {
        voicesUsed.push_back(run.Tick(3)[2].voiceNumber);
        if (r > 0) {
            // The voice the note left is told to fall silent (the mixer ramps it out).
            const Voice& old = run.voice(voicesUsed[r - 1]);
            EXPECT_EQ(old.mixVolume, 0);
            EXPECT_EQ(old.volumeLeft, 0);
            EXPECT_EQ(old.volumeRight, 0);
            EXPECT_TRUE(old.sample != nullptr);
        }
        run.Tick(3);
    }
    EXPECT_EQ(voicesUsed, (std::vector<int>{2, 34, 2, 34}));
    EXPECT_EQ(run.voice(34).voiceNumber, 34);
}

TEST(SequencerVoices, TonePortamentoRowSlidesWithoutANewNote) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("C-5", 0, 0, 0x03, 0x10); // 64 period units per tick
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    // The note stays on its voice; the row tick does not slide yet.
    const Dump expected{
        "1 0 0 | 0 4608 127 128", "1 1 0 | 0 4544 127 128", "1 2 0 | 0 4480 127 128",
        "1 3 0 | 0 4416 127 128", "1 4 0 | 0 4352 127 128", "1 5 0 | 0 4288 127 128",
    };
    EXPECT_TRUE(seqtest::SameDump(run.Dump(6), expected));
    EXPECT_EQ(run.voice(32).sample, nullptr);
    EXPECT_EQ(run.channel(0).portaTarget, 3840);
}

TEST(SequencerVoices, InstrumentOnTonePortamentoRowResetsFromTheOldInstrumentsSample) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    const uint8_t quiet = AddInstrument(song, 20, 40);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30); // volume 32
    song.patterns[0].At(1, 0) = Cell("C-5", quiet, 0, 0x03, 0x01);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    EXPECT_EQ(run.channel(0).volume, 32);
    run.Tick();
    EXPECT_EQ(run.channel(0).demo.instrumentIndex, 0);
    EXPECT_EQ(run.channel(0).volume, 64);   // the first instrument's sample volume
    EXPECT_EQ(run.channel(0).panning, 128); // and panning
}

TEST(SequencerVoices, KeyOffWithoutVolumeEnvelopeSilencesAtOnce) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(2, 0) = Cell("off");
    song.patterns[0].At(0, 1) = Cell("C-4", 1);
    song.patterns[0].At(2, 1) = Cell(nullptr, 0, 0, 0x14, 0x05); // K: the parameter is ignored
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    for (int t = 0; t < 12; ++t) {
        auto s = run.Tick(2);
        EXPECT_EQ(s[0].volume, 127);
        EXPECT_EQ(s[1].volume, 127);
    }
    auto s = run.Tick(2);
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
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    // Envelope 64, 48, then held at 32 while the key is down (full fade-out).
    const Dump held{
        "0 0 0 | 0 4608 127 128", "0 1 0 | 0 4608 95 128", "1 0 0 | 0 4608 63 128",
        "1 1 0 | 0 4608 63 128",  "2 0 0 | 0 4608 63 128", "2 1 0 | 0 4608 63 128",
    };
    EXPECT_TRUE(seqtest::SameDump(run.Dump(6), held));
    // Key-off on row 3: still the sustain value, fade-out 65536 - 16384.
    EXPECT_TRUE(seqtest::SameDump(run.Dump(1), Dump{"3 0 0 | 0 4608 47 128"}));
    EXPECT_EQ(run.channel(0).volumeEnvelope.point, 2);
    // Then the next segment (32 down to 0 over 4 ticks) with 16384 less fade-out per tick.
    const Dump released{
        "3 1 0 | 0 4608 23 128", // 24 x 1/2
        "4 0 0 | 0 4608 7 128",  // 16 x 1/4
        "4 1 0 | 0 4608 0 128",
    };
    EXPECT_TRUE(seqtest::SameDump(run.Dump(3), released));
    EXPECT_EQ(run.channel(0).fadeoutVolume, 0);
}

TEST(SequencerVoices, TremoloOffsetStaysInTheVolumeAfterTremoloRows) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30, 0x07, 0x4F); // volume 32, speed 4, depth 15
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x07, 0x00);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(12);
    const int32_t delta = run.channel(0).volumeDelta;
    ASSERT_NE(delta, 0);
    auto s = run.Tick();
    EXPECT_EQ(run.channel(0).volume, 32 + delta);
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
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    auto s = run.Tick(4);
    EXPECT_EQ(run.channel(0).voice->sample, &silentSample);
    EXPECT_EQ(run.channel(1).voice->sample, &silentSample);
    EXPECT_EQ(run.channel(2).voice->sample, nullptr); // taken as no note: nothing starts
    EXPECT_EQ(run.channel(2).demo.noteIndex, 0);
    EXPECT_NE(run.channel(3).voice->sample, &silentSample);
    EXPECT_EQ(s[0].volume, 0);
    EXPECT_EQ(s[1].volume, 0);
}

TEST(SequencerVoices, SampleMapValueBeyondTheSlotsSelectsSilence) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("D-4", 1);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.module()->instruments[0].sampleMap[50] = 200;
    run.Tick();
    EXPECT_EQ(run.channel(0).voice->sample, &silentSample);
}
