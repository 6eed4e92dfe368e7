// encoder_process.cpp: starting, feeding and reaping the ffmpeg child behind showvideo.
// Any one thread at a time.
#include "encoder_process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The child's audio input; stdin carries the pictures.
constexpr int kChildAudioFd = 3;
// A larger pipe lets the writer hand over a whole frame while the encoder is busy.
constexpr int kPipeBytes = 1 << 20;

void CloseFd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

// A pipe whose both ends sit above the standard descriptors and fd 3, close-on-exec, so the
// child's dup2 moves them into place without clobbering one with the other.
bool MakePipe(int ends[2]) {
    int raw[2];
    if (pipe2(raw, O_CLOEXEC) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        ends[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 10);
        close(raw[i]);
    }
    if (ends[0] < 0 || ends[1] < 0) {
        CloseFd(&ends[0]);
        CloseFd(&ends[1]);
        return false;
    }
    fcntl(ends[1], F_SETPIPE_SZ, kPipeBytes); // best effort: the default size works, only slower
    return true;
}

} // namespace

std::string FindProgram(const std::string& program) {
    if (program.empty()) return "";
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        std::string dir = dirs.substr(start, colon - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return "";
}

const char* VideoFormatName(VideoFormat format) {
    switch (format) {
    case VideoFormat::Doubled420: return "doubled";
    case VideoFormat::Full444: return "444";
    case VideoFormat::Plain420: return "420";
    }
    return "?";
}

bool ParseVideoFormat(const std::string& name, VideoFormat* format) {
    for (VideoFormat f : {VideoFormat::Doubled420, VideoFormat::Full444, VideoFormat::Plain420}) {
        if (name == VideoFormatName(f)) {
            *format = f;
            return true;
        }
    }
    return false;
}

int DefaultCrf(VideoFormat format) {
    return format == VideoFormat::Doubled420 ? 22 : 16;
}

int EncodedWidth(VideoFormat format, int width) {
    return format == VideoFormat::Doubled420 ? 2 * width : width;
}

int EncodedHeight(VideoFormat format, int height) {
    return format == VideoFormat::Doubled420 ? 2 * height : height;
}

std::vector<std::string> EncoderArguments(const EncoderSettings& s) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    // The picture as it reaches x264. Doubling: ffmpeg's nearest-neighbour scaler converts to
    // YUV on the way, taking each block's chroma from its one source pixel (doubling here
    // before the pipe would send four times the bytes and need the same care in the conversion).
    std::vector<std::string> picture;
    if (s.format == VideoFormat::Doubled420)
        picture = {"-vf", "scale=" + std::to_string(EncodedWidth(s.format, s.width)) + ":" +
                              std::to_string(EncodedHeight(s.format, s.height)) +
                              ":flags=neighbor"};
    const bool full = s.format == VideoFormat::Full444;
    picture.insert(picture.end(), {"-pix_fmt", full ? "yuv444p" : "yuv420p"});
    // 4:2:0 in the High profile: what phones, browsers and hardware decoders take. 4:4:4 and
    // lossless coding (crf 0) need High 4:4:4 Predictive, which x264 then picks by itself.
    if (!full && s.crf > 0) picture.insert(picture.end(), {"-profile:v", "high"});

    std::vector<std::string> args = {
        s.ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Both inputs are fully described here, so nothing needs probing: ffmpeg opens them one
        // after the other, and a probe that waits for seconds of one stream while the writer is
        // blocked on the other would never finish.
        // pictures: top-down RGB rows on standard input
        "-probesize", "32", "-analyzeduration", "0", "-f", "rawvideo", "-pix_fmt", "rgb24",
        "-video_size", size, "-framerate", std::to_string(s.fps), "-thread_queue_size", "64", "-i",
        "pipe:0",
        // sound: interleaved 16-bit little-endian stereo on fd 3
        "-probesize", "32", "-analyzeduration", "0", "-f", "s16le", "-ar",
        std::to_string(s.sampleRate), "-ac", "2", "-thread_queue_size", "512", "-i",
        "pipe:" + std::to_string(kChildAudioFd), "-map", "0:v:0", "-map", "1:a:0",
        // A fixed thread count and bit-exact flags make the same input give the same file.
        "-c:v", "libx264", "-preset", s.preset, "-crf", std::to_string(s.crf)};
    args.insert(args.end(), picture.begin(), picture.end());
    args.insert(args.end(),
                {// Finer chroma quantisation: blue, nearly all chroma, carries much of the picture.
                 "-x264-params", "chroma-qp-offset=-6", "-threads", std::to_string(s.threads),
                 "-colorspace", "smpte170m", "-color_primaries", "smpte170m", "-color_trc",
                 "smpte170m", "-color_range", "tv", "-c:a", "aac", "-b:a", "192k", "-fflags",
                 "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "-map_metadata",
                 "-1",
                 // The index at the front of the file, so a browser can start playing while the
                 // rest is still loading.
                 "-movflags", "+faststart", "-f", "mp4", s.outPath});
    return args;
}

bool StartEncoder(const EncoderSettings& settings, EncoderProcess* process, std::string* error) {
    *process = EncoderProcess{};
    const std::string program = FindProgram(settings.ffmpeg);
    if (program.empty()) {
        *error = "ffmpeg not found (looked for \"" + settings.ffmpeg +
                 "\"); install it with: apt-get install ffmpeg";
        return false;
    }
    int video[2], audio[2];
    if (!MakePipe(video)) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    if (!MakePipe(audio)) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        CloseFd(&video[0]), CloseFd(&video[1]);
        return false;
    }

    std::vector<std::string> args = EncoderArguments(settings);
    args[0] = program;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Only the two read ends reach the child (dup2 clears close-on-exec on the copies); every
    // other descriptor of ours, the write ends included, is close-on-exec or closed here.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, video[0], 0);
    posix_spawn_file_actions_adddup2(&actions, audio[0], kChildAudioFd);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(&video[0]);
    CloseFd(&audio[0]);
    if (rc != 0) {
        *error = "cannot start " + program + ": " + std::strerror(rc);
        CloseFd(&video[1]), CloseFd(&audio[1]);
        return false;
    }
    process->pid = pid;
    process->videoFd = video[1];
    process->audioFd = audio[1];
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteRowsFlipped(int fd, const uint8_t* bottomUp, int rows, size_t rowBytes) {
    // One writev per batch of rows; a short write resumes inside the row where it stopped.
    constexpr int kBatch = 256; // well under IOV_MAX
    int row = 0;                // top-down index of the next row to send
    size_t offset = 0;          // bytes of that row already sent
    while (row < rows) {
        iovec iov[kBatch];
        const int count = std::min(kBatch, rows - row);
        for (int i = 0; i < count; ++i) {
            const uint8_t* src = bottomUp + size_t(rows - 1 - (row + i)) * rowBytes;
            const size_t skip = i == 0 ? offset : 0;
            iov[i].iov_base = const_cast<uint8_t*>(src + skip);
            iov[i].iov_len = rowBytes - skip;
        }
        ssize_t n = writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t sent = size_t(n) + offset;
        row += int(sent / rowBytes);
        offset = sent % rowBytes;
    }
    return true;
}

bool FinishEncoder(EncoderProcess* process, double* cpuSeconds) {
    CloseFd(&process->videoFd);
    CloseFd(&process->audioFd);
    if (cpuSeconds) *cpuSeconds = 0;
    if (process->pid < 0) return false;
    int status = 0;
    rusage usage{};
    pid_t done;
    do {
        done = wait4(process->pid, &status, 0, &usage);
    } while (done < 0 && errno == EINTR);
    process->pid = -1;
    if (done < 0) return false;
    if (cpuSeconds)
        *cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
