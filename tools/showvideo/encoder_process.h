// encoder_process.h: the ffmpeg child that turns raw RGB frames (on its standard input) and raw
// 16-bit stereo PCM (on an inherited pipe, fd 3) into an H.264 + AAC MP4 file.
// Any one thread at a time; the writer thread owns the pipes while a render runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the show's 640x480 frames are laid out in the video stream.
enum class VideoFormat {
    // Each show pixel doubled to a 2x2 block (1280x960), 4:2:0, High profile. The one chroma
    // sample of each block belongs to one show pixel, so the thin saturated lines keep their
    // colour, in the format that phones, browsers and hardware decoders play. The default.
    Doubled420,
    // 640x480 4:4:4, High 4:4:4 Predictive profile: the same colour detail in a smaller file,
    // but mostly desktop software decodes it.
    Full444,
    // 640x480 4:2:0, High profile: plays everywhere and is the smallest, but one chroma sample
    // covers four show pixels and smears the thin coloured lines.
    Plain420,
};

// The option value that names a format ("doubled", "444", "420"), and back. Parse: false for
// an unknown name.
const char* VideoFormatName(VideoFormat format);
bool ParseVideoFormat(const std::string& name, VideoFormat* format);
// x264's quality for a format when none is asked for: about one picture quality for all (the
// doubled stream at crf 16 would spend far more bits than 4:4:4 does for the same detail).
int DefaultCrf(VideoFormat format);
// Size of the encoded pictures for show frames of width x height.
int EncodedWidth(VideoFormat format, int width);
int EncodedHeight(VideoFormat format, int height);

struct EncoderSettings {
    std::string ffmpeg;  // program name or path; a bare name is looked up in PATH
    std::string outPath; // the MP4 file
    int width = 640;     // of the frames written to the pipe
    int height = 480;
    int fps = 60;
    int sampleRate = 44100;
    int crf = 16;
    VideoFormat format = VideoFormat::Doubled420;
    std::string preset = "veryfast";
    int threads = 2; // fixed, so the bit stream does not depend on the machine's core count
};

struct EncoderProcess {
    int pid = -1;
    int videoFd = -1; // write end of the child's standard input
    int audioFd = -1; // write end of the child's fd 3
};

// Full path of `program`, looked up in PATH when it holds no '/'; empty when not found or not
// executable.
std::string FindProgram(const std::string& program);

// The argument list for the child (argv[0] included).
std::vector<std::string> EncoderArguments(const EncoderSettings& settings);

// Starts the child with the two pipes. False with a message in *error when it cannot start.
bool StartEncoder(const EncoderSettings& settings, EncoderProcess* process, std::string* error);

// Writes all `size` bytes, retrying after short writes and interruptions. False on a broken
// pipe (the encoder has gone) or any other write error.
bool WriteAll(int fd, const void* data, size_t size);
// Writes `rows` rows of `rowBytes` bytes from a bottom-up picture in top-down order, without
// copying it.
bool WriteRowsFlipped(int fd, const uint8_t* bottomUp, int rows, size_t rowBytes);

// Closes both pipes (the end of the streams) and waits for the child. True when it exited with
// status 0. *cpuSeconds receives the child's user + system time when not null.
bool FinishEncoder(EncoderProcess* process, double* cpuSeconds);
