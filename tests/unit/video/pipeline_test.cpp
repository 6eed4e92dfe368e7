// pipeline_test.cpp: the writer thread and its pipe writes against slow readers on small pipes
// (so writes come back short), an encoder that goes away mid-render, and the encoder start-up
// without ffmpeg.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "encoder_process.h"
#include "frame_pipeline.h"

namespace {

// A pipe of the smallest capacity whose read end a thread drains in odd-sized pieces.
class SlowReader {
  public:
    // Without `drain` nobody reads: the pipe is there to be closed by Vanish.
    explicit SlowReader(bool drain = true) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        readFd_ = ends[0];
        writeFd = ends[1];
        fcntl(writeFd, F_SETPIPE_SZ, 4096);
        if (!drain) return;
        thread_ = std::thread([this] {
            char buffer[1531];
            for (size_t round = 0;; ++round) {
                const ssize_t n = read(readFd_, buffer, 97 + (round * 389) % (sizeof buffer - 97));
                if (n <= 0) break;
                bytes.append(buffer, size_t(n));
            }
        });
    }
    ~SlowReader() {
        CloseWriter();
        if (thread_.joinable()) thread_.join();
        if (readFd_ >= 0) close(readFd_);
    }
    void CloseWriter() {
        if (writeFd >= 0) close(writeFd);
        writeFd = -1;
    }
    // Ends the stream and waits for everything written to arrive.
    const std::string& Collect() {
        CloseWriter();
        if (thread_.joinable()) thread_.join();
        return bytes;
    }
    // The reader goes away: further writes fail with a broken pipe.
    // (Closing a descriptor does not wake a read blocked on it, so only an undrained pipe
    // can vanish.)
    void Vanish() {
        if (thread_.joinable() || readFd_ < 0) return;
        close(readFd_);
        readFd_ = -1;
    }

    int writeFd = -1;
    std::string bytes;

  private:
    int readFd_ = -1;
    std::thread thread_;
};

class VideoPipes : public testing::Test {
  protected:
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};

// Bottom-up picture whose every byte names its row and column.
std::vector<uint8_t> Picture(int rows, size_t rowBytes, int salt) {
    std::vector<uint8_t> p(size_t(rows) * rowBytes);
    for (int r = 0; r < rows; ++r)
        for (size_t c = 0; c < rowBytes; ++c)
            p[size_t(r) * rowBytes + c] = uint8_t(r * 7 + c + salt);
    return p;
}

std::string TopDown(const std::vector<uint8_t>& bottomUp, int rows, size_t rowBytes) {
    std::string out;
    for (int r = rows - 1; r >= 0; --r)
        out.append(reinterpret_cast<const char*>(bottomUp.data()) + size_t(r) * rowBytes, rowBytes);
    return out;
}

TEST_F(VideoPipes, FlippedRowsSurviveShortWrites) {
    // 300 rows: more than one batch of rows per writev, and a row size that does not divide the
    // pipe's capacity, so writes stop inside rows.
    const int rows = 300;
    const size_t rowBytes = 641 * 3;
    const std::vector<uint8_t> picture = Picture(rows, rowBytes, 0);
    SlowReader reader;
    ASSERT_GE(reader.writeFd, 0);
    ASSERT_TRUE(WriteRowsFlipped(reader.writeFd, picture.data(), rows, rowBytes));
    EXPECT_TRUE(reader.Collect() == TopDown(picture, rows, rowBytes));
}

TEST_F(VideoPipes, PipelineDeliversEveryFrameAndItsSoundInOrder) {
    const int width = 50, height = 40, frames = 40;
    const size_t rowBytes = size_t(width) * 3;
    SlowReader video, audio;
    std::vector<std::vector<int16_t>> sounds(frames);
    std::string expectedVideo, expectedAudio;
    {
        FramePipeline pipeline(video.writeFd, audio.writeFd, width, height, 2);
        for (int f = 0; f < frames; ++f) {
            PipelineSlot* slot = pipeline.Acquire();
            ASSERT_NE(slot, nullptr);
            ASSERT_EQ(slot->pixels.size(), rowBytes * height);
            const std::vector<uint8_t> picture = Picture(height, rowBytes, f);
            std::copy(picture.begin(), picture.end(), slot->pixels.begin());
            expectedVideo += TopDown(picture, height, rowBytes);
            // Frame lengths vary as they do at frame rates that do not divide 44100; frame 5
            // has no sound at all.
            sounds[f].resize(f == 5 ? 0 : size_t(735 + f % 2) * 2);
            for (size_t i = 0; i < sounds[f].size(); ++i) sounds[f][i] = int16_t(f * 1000 + i);
            slot->sound = sounds[f].data();
            slot->soundFrames = sounds[f].size() / 2;
            expectedAudio.append(reinterpret_cast<const char*>(sounds[f].data()),
                                 sounds[f].size() * 2);
            pipeline.Submit(slot);
        }
        EXPECT_TRUE(pipeline.Finish());
        EXPECT_TRUE(pipeline.Finish()) << "a second Finish has nothing left to do";
    }
    EXPECT_TRUE(video.Collect() == expectedVideo);
    EXPECT_TRUE(audio.Collect() == expectedAudio);
}

TEST_F(VideoPipes, EncoderGoingAwayStopsTheRenderInsteadOfHangingIt) {
    SlowReader video(false), audio;
    video.Vanish();
    FramePipeline pipeline(video.writeFd, audio.writeFd, 64, 64, 3);
    int submitted = 0;
    // The writer fails on the first frame; Acquire must report it within the slots in flight.
    while (submitted < 10) {
        PipelineSlot* slot = pipeline.Acquire();
        if (!slot) break;
        slot->soundFrames = 0;
        pipeline.Submit(slot);
        ++submitted;
    }
    EXPECT_LT(submitted, 10);
    EXPECT_FALSE(pipeline.Finish());
}

TEST(EncoderStart, MissingFfmpegSaysHowToInstallIt) {
    EncoderSettings settings;
    settings.ffmpeg = "/nonexistent/ffmpeg";
    settings.outPath = "/nonexistent/out.mp4";
    EncoderProcess process;
    std::string error;
    EXPECT_FALSE(StartEncoder(settings, &process, &error));
    EXPECT_NE(error.find("apt-get install ffmpeg"), std::string::npos) << error;
    EXPECT_EQ(process.pid, -1);
    EXPECT_EQ(process.videoFd, -1);
    EXPECT_EQ(process.audioFd, -1);
}

TEST(EncoderStart, ProgramLookupFollowsPathAndNeedsExecutables) {
    const std::string sh = FindProgram("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(sh.front(), '/');
    EXPECT_EQ(access(sh.c_str(), X_OK), 0);
    EXPECT_EQ(FindProgram("no-such-program-anywhere"), "");
    EXPECT_EQ(FindProgram(""), "");
    // A path to a file that exists but is not executable is not a program.
    char name[] = "/tmp/video-test-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(FindProgram(name), "");
    unlink(name);
}

TEST(EncoderStart, AFailingEncoderIsReportedAtTheEnd) {
    // `false` takes the place of ffmpeg: it starts, reads nothing and exits with status 1.
    EncoderSettings settings;
    settings.ffmpeg = "false";
    settings.outPath = "/dev/null";
    EncoderProcess process;
    std::string error;
    ASSERT_TRUE(StartEncoder(settings, &process, &error)) << error;
    EXPECT_GT(process.pid, 0);
    EXPECT_FALSE(FinishEncoder(&process, nullptr));
    EXPECT_EQ(process.pid, -1);
    EXPECT_EQ(process.videoFd, -1);
}

} // namespace
