// Tests of the XM writer as the song generator uses it, checked through the loader: note names,
// 16-bit extremes, loops given in frames, and saving to disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "loader_helpers.h"
#include "music/file_access.h"

namespace {

class LoaderWriterTest : public ::testing::Test {};

TEST_F(LoaderWriterTest, NoteNamesGiveTheFileNoteNumbers) {
    EXPECT_EQ(xmw::NoteNumber("C-0"), 1);
    EXPECT_EQ(xmw::NoteNumber("C#0"), 2);
    EXPECT_EQ(xmw::NoteNumber("A-4"), 58);
    EXPECT_EQ(xmw::NoteNumber("B-7"), 96);
    EXPECT_EQ(xmw::NoteNumber("H-4"), 0);
    EXPECT_EQ(xmw::NoteNumber("C-8"), 0);
    EXPECT_EQ(xmw::NoteNumber("C-"), 0);
    EXPECT_EQ(xmw::NoteNumber(nullptr), 0);
}

TEST_F(LoaderWriterTest, SixteenBitExtremesAndLoopsInFramesSurviveTheRoundTrip) {
    xmw::Sample wide;
    wide.sixteenBit = true;
    wide.values = {32767, -32768, 32767, 0, -1};
    wide.loop = xmw::Loop::PingPong;
    wide.loopStart = 1;
    wide.loopLength = 4;
    ModulePtr module = LoadSong(SongWithSamples({wide}));
    ASSERT_TRUE(module);
    const Sample& got = *module->instruments[0].samples[0];
    ASSERT_EQ(got.length, 5u);
    for (size_t k = 0; k < wide.values.size(); ++k) EXPECT_EQ(got.data[k], wide.values[k]) << k;
    EXPECT_EQ(got.data[5], -1); // the last loop frame again, after the loop end
    EXPECT_EQ(got.loopKind, LOOP_PINGPONG);
    EXPECT_EQ(got.loopStart, 1u);
    EXPECT_EQ(got.loopLength, 4u);
}

TEST_F(LoaderWriterTest, EmptyPatternsAreStoredWithoutCellData) {
    xmw::Song song = xmw::MinimalSong(16);
    song.patterns.push_back(song.MakePattern(16));
    const size_t withEmpty = xmw::WriteXm(song).size();
    song.patterns.pop_back();
    EXPECT_EQ(withEmpty - xmw::WriteXm(song).size(), 9u); // the pattern header only
}

TEST_F(LoaderWriterTest, SavedFileLoadsThroughTheStandardOperations) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("writer_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ".xm");
    xmw::Song song = xmw::MinimalSong(32);
    song.bpm = 150;
    ASSERT_TRUE(xmw::SaveXm(song, path.string()));
    EXPECT_EQ(std::filesystem::file_size(path), xmw::WriteXm(song).size());
    ModulePtr module(LoadModule(&standardFileCallbacks, path.string().c_str(), nullptr));
    std::filesystem::remove(path);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->defaultBpm, 150);
    EXPECT_EQ(module->patterns[0].rowCount, 32);
    EXPECT_EQ(module->patterns[0].cells[0].note, xmw::NoteNumber("C-4"));
    EXPECT_FALSE(xmw::SaveXm(song, (path / "no" / "such" / "folder.xm").string()));
}

} // namespace
