// song_test.cpp: the committed soundtrack: it is exactly what the composer writes, it loads,
// it uses what the player offers, and played through the real playback path it lasts past the
// show, meets the show's scene changes, and neither clips nor falls silent.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "committed_song.h"
#include "memory_files.h"
#include "music/module.h"
#include "song.h"

using namespace compose;

namespace {

// Composes once per test program: the synthesis is the slow part.
const std::vector<uint8_t>& Composed() {
    static const std::vector<uint8_t> bytes = ComposeSong();
    return bytes;
}

// Through the file operations by name; checks that the load closed its stream.
Module* LoadComposed() {
    int leftOpen = 0;
    Module* module = LoadModuleBytes(Composed(), nullptr, nullptr, &leftOpen);
    EXPECT_EQ(leftOpen, 0);
    return module;
}

TEST(Song, CommittedFileIsTheComposersOutput) {
    std::vector<uint8_t> committed = song_check::CommittedBytes();
    ASSERT_FALSE(committed.empty()) << "data/Zarq-Neat.xm is missing";
    const std::vector<uint8_t>& fresh = Composed();
    size_t same = 0;
    while (same < committed.size() && same < fresh.size() && committed[same] == fresh[same]) ++same;
    EXPECT_EQ(committed.size(), fresh.size());
    EXPECT_EQ(same, fresh.size()) << "first difference at byte " << same
                                  << "; run compose in data/ and commit the result";
}

TEST(Song, LoadsWithTheLinearTableAndAtMost32Channels) {
    Module* module = LoadComposed();
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(module->flags & MODULE_LINEAR_FREQUENCIES);
    EXPECT_GE(module->channelCount, 8);
    EXPECT_LE(module->channelCount, 32);
    EXPECT_GT(module->songLength, 0);
    EXPECT_LT(module->restartPosition, module->songLength);
    EXPECT_EQ(module->patternCount, module->usedPatternCount); // no pattern written but unused
    FreeModule(module);
}

TEST(Song, InstrumentsUseEveryKindOfSampleAndEnvelope) {
    xmw::Song song = BuildSong();
    bool eightBit = false, sixteenBit = false;
    for (const xmw::Instrument& instrument : song.instruments)
        for (const xmw::Sample& sample : instrument.samples)
            (sample.sixteenBit ? sixteenBit : eightBit) = true;
    EXPECT_TRUE(eightBit);
    EXPECT_TRUE(sixteenBit);

    Module* module = LoadComposed();
    ASSERT_NE(module, nullptr);
    std::set<int> loopKinds;
    bool volumeSustain = false, volumeLoop = false, panningSustain = false, panningLoop = false;
    bool vibrato = false, fadeout = false, multiSample = false;
    for (int i = 0; i < module->instrumentCount; ++i) {
        const Instrument& instrument = module->instruments[i];
        ASSERT_GT(instrument.sampleCount, 0) << "instrument " << i + 1;
        for (int s = 0; s < instrument.sampleCount; ++s) {
            const Sample* sample = instrument.samples[s];
            loopKinds.insert(sample->loopKind);
            ASSERT_LE(sample->loopStart + sample->loopLength, sample->length);
        }
        std::set<int> mapped(instrument.sampleMap, instrument.sampleMap + 96);
        if (instrument.sampleCount > 1) {
            multiSample = true;
            // Every sample is reachable from some note, and no note maps past the samples.
            EXPECT_EQ(int(mapped.size()), instrument.sampleCount) << "instrument " << i + 1;
            EXPECT_LT(*mapped.rbegin(), instrument.sampleCount) << "instrument " << i + 1;
        }
        uint8_t v = instrument.volumeEnvelopeFlags, p = instrument.panningEnvelopeFlags;
        volumeSustain |= (v & ENVELOPE_ON) && (v & ENVELOPE_SUSTAIN);
        volumeLoop |= (v & ENVELOPE_ON) && (v & ENVELOPE_LOOP);
        panningSustain |= (p & ENVELOPE_ON) && (p & ENVELOPE_SUSTAIN);
        panningLoop |= (p & ENVELOPE_ON) && (p & ENVELOPE_LOOP);
        if (v & ENVELOPE_SUSTAIN) {
            EXPECT_LT(instrument.volumeSustain, instrument.volumePointCount);
        }
        if (v & ENVELOPE_LOOP) {
            EXPECT_LE(instrument.volumeLoopStart, instrument.volumeLoopEnd);
            EXPECT_LT(instrument.volumeLoopEnd, instrument.volumePointCount);
        }
        vibrato |= instrument.vibratoDepth > 0 && instrument.vibratoRate > 0;
        fadeout |= instrument.fadeout > 0;
    }
    EXPECT_TRUE(loopKinds.count(LOOP_NONE));
    EXPECT_TRUE(loopKinds.count(LOOP_FORWARD));
    EXPECT_TRUE(loopKinds.count(LOOP_PINGPONG));
    EXPECT_TRUE(volumeSustain);
    EXPECT_TRUE(volumeLoop);
    EXPECT_TRUE(panningSustain);
    EXPECT_TRUE(panningLoop);
    EXPECT_TRUE(vibrato);
    EXPECT_TRUE(fadeout);
    EXPECT_TRUE(multiSample);
    FreeModule(module);
}

TEST(Song, PatternsUseTheWholeEffectRepertoire) {
    Module* module = LoadComposed();
    ASSERT_NE(module, nullptr);
    std::set<std::string> used;
    for (int p = 0; p < module->patternCount; ++p) {
        const Pattern& pattern = module->patterns[p];
        for (int i = 0; i < pattern.rowCount * module->channelCount; ++i) {
            const PatternCell& c = pattern.cells[i];
            int x = c.effectParameter >> 4;
            if (c.note == 255) used.insert("key-off note");
            if (c.note >= 1 && c.note <= 96 && c.instrument) {
                const Instrument& instrument = module->instruments[c.instrument - 1];
                // A note must reach a sample: an unmapped note would play nothing.
                EXPECT_LT(instrument.sampleMap[c.note - 1], instrument.sampleCount)
                    << "pattern " << p << " cell " << i;
            }
            if (c.volumeColumn >= 0x10 && c.volumeColumn <= 0x50) used.insert("volume column");
            if (c.volumeColumn >= 0x60) used.insert("volume column command");
            switch (c.effect) {
            case 0x0:
                if (c.effectParameter) used.insert("arpeggio");
                break;
            case 0x1: used.insert("portamento up"); break;
            case 0x2: used.insert("portamento down"); break;
            case 0x3: used.insert("tone portamento"); break;
            case 0x4: used.insert("vibrato"); break;
            case 0x7: used.insert("tremolo"); break;
            case 0x8: used.insert("set panning"); break;
            case 0x9: used.insert("sample offset"); break;
            case 0xA: used.insert("volume slide"); break;
            case 0xD: used.insert("pattern break"); break;
            case 0xF: used.insert(c.effectParameter < 32 ? "speed" : "tempo"); break;
            case 0x14: used.insert("key-off effect"); break;
            case 0x19: used.insert("panning slide"); break;
            case 0x1B: used.insert("multi retrigger"); break;
            case 0x0E:
                if (x == 0x6) used.insert("pattern loop");
                if (x == 0x9) used.insert("retrigger");
                if (x == 0xC) used.insert("note cut");
                if (x == 0xD) used.insert("note delay");
                break;
            default: break;
            }
        }
    }
    for (const char* effect : {"arpeggio",        "portamento up",
                               "portamento down", "tone portamento",
                               "vibrato",         "tremolo",
                               "set panning",     "sample offset",
                               "volume slide",    "pattern break",
                               "speed",           "tempo",
                               "key-off note",    "key-off effect",
                               "panning slide",   "multi retrigger",
                               "pattern loop",    "retrigger",
                               "note cut",        "note delay",
                               "volume column",   "volume column command"}) {
        EXPECT_TRUE(used.count(effect)) << effect;
    }
    FreeModule(module);
}

// ---- The committed song played from start to its first wrap ----

using song_check::CommittedRendering;

double BlockSeconds(int64_t block) {
    const song_check::Song& song = CommittedRendering();
    return song.Seconds(song.blockStart[size_t(block)]);
}

TEST(SongPlayback, LastsBeyondTheShowAndWrapsToTheRestartPosition) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    ASSERT_TRUE(song.wrapped);
    double wrapSeconds = BlockSeconds(song.wrapBlock);
    EXPECT_GE(wrapSeconds, 255.0);
    EXPECT_LT(wrapSeconds, 300.0);
    EXPECT_EQ(song.wrapOrder, song.restartPosition);
    EXPECT_EQ(song.wrapRow, 0);
}

TEST(SongPlayback, PartsBeginWhereTheShowChangesScene) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    for (const Landmark& mark : SongLandmarks()) {
        int64_t block = 0;
        while (block < int64_t(song.blockEnd.size()) &&
               song.blockEnd[size_t(block)].order != mark.orderPosition)
            ++block;
        ASSERT_LT(block, int64_t(song.blockEnd.size())) << mark.name;
        EXPECT_NEAR(BlockSeconds(block), mark.seconds, 0.5) << mark.name;
    }
}

TEST(SongPlayback, NeitherClipsNorFallsSilentNorDrifts) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    int64_t clipped = 0;
    int32_t peak = 0;
    double sum[2] = {0, 0};
    std::vector<double> secondSquares;
    int64_t frames = int64_t(song.frames.size() / 2);
    for (int64_t i = 0; i < frames; ++i) {
        size_t second = size_t(i / song.rate);
        if (secondSquares.size() <= second) secondSquares.resize(second + 1, 0.0);
        for (int side = 0; side < 2; ++side) {
            int32_t v = song.frames[size_t(2 * i + side)];
            if (v == 32767 || v == -32768) ++clipped;
            peak = std::max(peak, std::abs(v));
            sum[side] += v;
            secondSquares[second] += double(v) * v;
        }
    }
    EXPECT_LE(clipped, 8) << "peak " << peak;
    // The loudest sample keeps some headroom, so that a player that resamples or mixes a little
    // differently does not clip either.
    double peakDb = 20 * std::log10(peak / 32768.0);
    std::printf("figure: peak sample %.2f dBFS\n", peakDb);
    EXPECT_LE(peakDb, -0.5);
    // Some headroom is used: a song at a tenth of full scale would be lost under the show.
    EXPECT_GT(peak, 32767 / 4);
    // No whole second is near silence (RMS below about -50 dB of full scale) until the last
    // chord fades, by 254 s.
    ASSERT_GT(secondSquares.size(), 255u);
    for (size_t s = 0; s < 253; ++s) {
        double rms = std::sqrt(secondSquares[s] / (2.0 * song.rate));
        EXPECT_GT(rms, 100.0) << "second " << s;
    }
    for (int side = 0; side < 2; ++side) {
        double offset = sum[side] / double(frames);
        EXPECT_LT(std::fabs(offset), 30.0) << "side " << side; // under 0.1 % of full scale
    }
}

} // namespace
