// main.cpp: showvideo — renders the demo, picture and music, into an H.264/AAC MP4 file through
// ffmpeg, on the virtual clock at a fixed frame rate. Main thread (plus the pipeline's writer).
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "encoder_process.h"
#include "frame_loop.h"
#include "frame_pipeline.h"
#include "image/dib_loader.h"
#include "platform/gl.h"
#include "private_display.h"
#include "soundtrack.h"

#ifndef DEMO_DATA_DIR
#define DEMO_DATA_DIR "."
#endif

namespace {

const char kUsage[] =
    "usage: showvideo [--out FILE.mp4] [--from S] [--to S] [--fps N] [--data DIR]\n"
    "                 [--format NAME] [--crf N] [--preset NAME] [--ffmpeg PROGRAM] [--bench]\n"
    "\n"
    "Renders the demo (intro and show, until the show ends) with its music into one MP4 file\n"
    "(H.264 video, AAC stereo sound at 44100 Hz), on a virtual clock: the same command gives\n"
    "the same video. Needs ffmpeg; without an X display it starts its own Xvfb.\n"
    "\n"
    "  --out FILE     output file (default demo.mp4)\n"
    "  --from S       start at S seconds of program time (default 0; the intro takes the first\n"
    "                 5 s; the frames before S are still drawn, as the show's animations\n"
    "                 depend on every frame)\n"
    "  --to S         stop before S seconds of program time (default: the end of the show)\n"
    "  --fps N        frames per second of the video and of the show's virtual clock (default\n"
    "                 60; the speed of per-frame animations follows it, as in the live program)\n"
    "  --data DIR     folder holding Zarq-Neat.xm and Data/Particle.bmp (default: the\n"
    "                 repository's data folder)\n"
    "  --format NAME  how the 640x480 show is stored (default doubled):\n"
    "                   doubled  every pixel as a 2x2 block, 1280x960, 4:2:0 colour, H.264\n"
    "                            High profile: plays in browsers, phones and hardware\n"
    "                            decoders, and keeps each pixel's colour sharp\n"
    "                   444      640x480, 4:4:4 colour (High 4:4:4 Predictive): as sharp, a\n"
    "                            smaller file, but mostly desktop players only\n"
    "                   420      640x480, 4:2:0 colour (High): plays everywhere, smallest,\n"
    "                            but smears the thin coloured lines of the scenes\n"
    "  --compatible   the same as --format 420 (kept for earlier scripts)\n"
    "  --crf N        x264 quality, 0-51, lower is better (default 22 for doubled, 16 for\n"
    "                 444 and 420: about the same picture quality; 0 is lossless, which\n"
    "                 only the High 4:4:4 Predictive profile holds, so few players take it)\n"
    "  --preset NAME  x264 speed preset (default veryfast)\n"
    "  --ffmpeg PROG  the ffmpeg program to run (default ffmpeg, from PATH)\n"
    "  --bench        print where the time went (drawing, read-back, encoding) and the speed\n"
    "                 as a multiple of real time; without --out the video goes to a temporary\n"
    "                 file that is removed afterwards\n"
    "\n"
    "Exit status: 0 done; 1 error (no video); 2 bad arguments; 3 video written, but a data\n"
    "file was missing and the demo ran as the live program would (silent or untextured).\n";

// Intro (5 s) plus the show's 250 s; the show ends on the first frame past it.
constexpr double kShowEndSeconds = 255.0;
// A missing data file does not stop the render (the live program runs on without it), but the
// video is not the demo as made, and scripts should be able to tell: a status of its own.
constexpr int kExitError = 1, kExitUsage = 2, kExitDataMissing = 3;

struct Options {
    std::string out;
    double from = 0;
    double to = -1; // none
    int fps = 60;
    std::string dataDir = DEMO_DATA_DIR;
    VideoFormat format = VideoFormat::Doubled420;
    int crf = -1; // the format's default
    std::string preset = "veryfast";
    std::string ffmpeg = "ffmpeg";
    bool bench = false;
};

bool ParseNumber(const char* text, double low, double high, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
    *out = v;
    return true;
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double v = 0;
        if (arg == "--bench") {
            o->bench = true;
            continue;
        }
        // The option of earlier versions, kept for the scripts that use it: what it gave then,
        // 640x480 with 4:2:0 colour.
        if (arg == "--compatible") {
            o->format = VideoFormat::Plain420;
            continue;
        }
        if (!value) return false;
        ++i;
        if (arg == "--out" || arg == "-o") {
            o->out = value;
        } else if (arg == "--from") {
            if (!ParseNumber(value, 0, 100000, &o->from)) return false;
        } else if (arg == "--to") {
            if (!ParseNumber(value, 0, 100000, &o->to)) return false;
        } else if (arg == "--fps") {
            if (!ParseNumber(value, 1, 240, &v) || v != std::floor(v)) return false;
            o->fps = int(v);
        } else if (arg == "--crf") {
            if (!ParseNumber(value, 0, 51, &v) || v != std::floor(v)) return false;
            o->crf = int(v);
        } else if (arg == "--format") {
            if (!ParseVideoFormat(value, &o->format)) return false;
        } else if (arg == "--preset") {
            o->preset = value;
        } else if (arg == "--data") {
            o->dataDir = value;
        } else if (arg == "--ffmpeg") {
            o->ffmpeg = value;
        } else {
            return false;
        }
    }
    if (o->to >= 0 && o->to <= o->from) return false;
    if (o->crf < 0) o->crf = DefaultCrf(o->format);
    return true;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An unattended render must not stop at a modal box: the bitmap loader's messages go to the
// terminal instead.
int PrintMessage(const char* text, const char* caption, platform::MessageButtons,
                 platform::MessageIcon) {
    std::fprintf(stderr, "\nshowvideo: %s: %s\n", caption, text);
    return platform::AnswerOk;
}

std::string Clock(double seconds) {
    if (!(seconds >= 0) || seconds > 99 * 3600) return "--:--";
    const long s = long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The Xvfb we started, for the interrupt handler: an interrupted render must not leave it behind.
volatile sig_atomic_t privateDisplayPid = -1;

void OnInterrupt(int sig) {
    if (privateDisplayPid > 0) kill(pid_t(privateDisplayPid), SIGTERM);
    static const char text[] = "\nshowvideo: interrupted; the video is incomplete\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(128 + sig);
}

using SteadyClock = std::chrono::steady_clock;
double Since(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

struct Timings {
    double draw = 0;      // the show's drawing: GL calls, swap, rasterising (encoded frames)
    double rasterise = 0; // the part of `draw` spent waiting for the rasteriser to finish
    double skipped = 0;   // the same for the frames before --from
    double readBack = 0;  // glReadPixels
    double wait = 0;      // main thread waiting for a free slot (the encoder was slower)
    double write = 0;     // writer thread inside write calls
    double encoderCpu = 0;
    double ownCpu = 0; // this process: drawing thread, rasteriser threads, writer thread
    double total = 0;
    int64_t frames = 0;
};

class Progress {
  public:
    Progress(double endSeconds) : end_(endSeconds), tty_(isatty(STDERR_FILENO)) {}
    void Update(double programSeconds, int64_t frames, bool last) {
        const double elapsed = Since(start_);
        const double fraction = std::min(1.0, programSeconds / end_);
        const int percent = int(fraction * 100);
        if (!last && (tty_ ? elapsed - shownAt_ < 0.5 : percent < nextPercent_)) return;
        shownAt_ = elapsed;
        nextPercent_ = percent / 10 * 10 + 10;
        const double left = fraction > 0.005 ? elapsed * (1 - fraction) / fraction : -1;
        std::fprintf(stderr,
                     "%sshowvideo: %3d%%  %6.1f of %.1f s  %lld frames  elapsed %s  "
                     "left %s%s",
                     tty_ ? "\r" : "", percent, programSeconds, end_, (long long)frames,
                     Clock(elapsed).c_str(), last ? "0:00" : Clock(left).c_str(),
                     tty_ && !last ? "  " : "\n");
        std::fflush(stderr);
    }

  private:
    double end_;
    bool tty_;
    SteadyClock::time_point start_ = SteadyClock::now();
    double shownAt_ = -1;
    int nextPercent_ = 0;
};

std::string ResolveOutput(const Options& o, bool* temporary) {
    *temporary = false;
    if (!o.out.empty()) return std::filesystem::absolute(o.out).string();
    if (!o.bench) return std::filesystem::absolute("demo.mp4").string();
    char name[] = "/tmp/showvideo-bench-XXXXXX.mp4";
    const int fd = mkstemps(name, 4);
    if (fd < 0) return "";
    close(fd);
    *temporary = true;
    return name;
}

// One render. While it runs it holds its output file, the Xvfb it may have started, the show's
// window, the encoder child and the writer thread feeding it. Close() releases what is open, in
// the reverse order of opening, and every way out of Run goes through it: a finished render calls
// it before the report, and the destructor calls it on every other path (a second call does
// nothing). The destructor then removes the temporary file of a --bench run.
struct Render {
    explicit Render(const Options& options) : o(options) {}
    ~Render() {
        Close();
        if (temporary) unlink(outPath.c_str());
    }
    Render(const Render&) = delete;
    Render& operator=(const Render&) = delete;

    // Ends both streams: the writer thread writes what is queued and stops, then the encoder
    // sees its pipes close and is waited for. True when every write went through and the
    // encoder exited with status 0; false once the streams have ended.
    bool EndStreams(double* encoderCpu) {
        const bool written = pipeline && pipeline->Finish();
        const bool encoded = FinishEncoder(&encoder, encoderCpu);
        return written && encoded;
    }

    void Close() {
        EndStreams(nullptr);
        pipeline.reset();
        if (windowOpen) CloseShowWindow();
        windowOpen = false;
        StopPrivateDisplay(&display);
        privateDisplayPid = -1;
    }

    const Options& o;
    std::string outPath;
    bool temporary = false;
    double endSeconds = kShowEndSeconds; // program time where the render stops
    bool dataMissing = false;
    Soundtrack track; // outlives the pipeline, which writes from it
    PrivateDisplay display;
    bool windowOpen = false;
    EncoderProcess encoder;
    std::optional<FramePipeline> pipeline;
};

EncoderSettings SettingsFor(const Options& o, const std::string& outPath) {
    EncoderSettings settings;
    settings.ffmpeg = o.ffmpeg;
    settings.outPath = outPath;
    settings.fps = o.fps;
    settings.crf = o.crf;
    settings.preset = o.preset;
    settings.format = o.format;
    return settings;
}

// Set-up, first step: the output file and the encoder program. Minutes of drawing must not end
// in an unwritable path or a missing program, so both are checked before anything is drawn.
bool PrepareOutput(Render* r) {
    r->outPath = ResolveOutput(r->o, &r->temporary);
    if (r->outPath.empty()) {
        std::fprintf(stderr, "showvideo: cannot create a temporary file\n");
        return false;
    }
    const std::filesystem::path outDir = std::filesystem::path(r->outPath).parent_path();
    if (access(outDir.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "showvideo: cannot write into %s: %s\n", outDir.c_str(),
                     std::strerror(errno));
        return false;
    }
    if (FindProgram(r->o.ffmpeg).empty()) {
        std::fprintf(stderr,
                     "showvideo: ffmpeg not found (looked for \"%s\"); install it with: apt-get "
                     "install ffmpeg\n",
                     r->o.ffmpeg.c_str());
        return false;
    }
    return true;
}

// Set-up, second step: the demo's files. A missing one is reported and noted for the exit
// status, but the render goes on as the live program would.
bool LoadData(Render* r) {
    const Options& o = r->o;
    // The demo reads its files relative to the working directory, as the live program does.
    if (chdir(o.dataDir.c_str()) != 0) {
        std::fprintf(stderr, "showvideo: cannot enter the data folder %s: %s\n", o.dataDir.c_str(),
                     std::strerror(errno));
        return false;
    }
    r->endSeconds = o.to >= 0 ? std::min(o.to, kShowEndSeconds) : kShowEndSeconds;
    std::string error;
    if (!RenderSoundtrack("Zarq-Neat.xm", r->endSeconds + 1.0, &r->track, &error)) {
        std::fprintf(stderr,
                     "showvideo: %s in %s: the video will be silent, as the live "
                     "program would be\n",
                     error.c_str(), o.dataDir.c_str());
        r->dataMissing = true;
    }
    if (!FileExists("Data/Particle.bmp")) {
        std::fprintf(stderr,
                     "showvideo: Data/Particle.bmp not found in %s: the particles will "
                     "be drawn untextured, as in the live program\n",
                     o.dataDir.c_str());
        r->dataMissing = true;
    }
    dibLoader.showMessage = &PrintMessage;
    return true;
}

// Set-up, last step: the display to draw on, the show's window, the encoder and the writer
// thread that feeds it.
bool OpenRender(Render* r) {
    std::string error;
    const char* existing = std::getenv("DISPLAY");
    if (!existing || !*existing) {
        if (!StartPrivateDisplay(&r->display, &error)) {
            std::fprintf(stderr, "showvideo: %s\n", error.c_str());
            return false;
        }
        std::fprintf(stderr, "showvideo: no DISPLAY; drawing on a private Xvfb at %s\n",
                     r->display.name.c_str());
    }
    privateDisplayPid = r->display.pid;
    r->windowOpen = OpenShowWindow();
    // The window layer turns interrupts into quit messages, which a render does not read; ours
    // end the render at once (the encoder then sees its pipes close).
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::signal(SIGHUP, OnInterrupt);
    if (!r->windowOpen) {
        std::fprintf(stderr, "showvideo: cannot open the show's OpenGL window\n");
        return false;
    }
    if (!StartEncoder(SettingsFor(r->o, r->outPath), &r->encoder, &error)) {
        std::fprintf(stderr, "showvideo: %s\n", error.c_str());
        return false;
    }
    r->pipeline.emplace(r->encoder.videoFd, r->encoder.audioFd, kShowWidth, kShowHeight, 3);
    return true;
}

// User plus system time of this process so far, all its threads included.
double OwnCpuSeconds() {
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    return double(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
           double(self.ru_utime.tv_usec + self.ru_stime.tv_usec) * 1e-6;
}

// What the render loop leaves for the report.
struct LoopResult {
    Timings timings;
    bool streamsOk = false; // every frame written, and the encoder exited with status 0
    double lastSeconds = 0; // program time of the last frame drawn
};

// The render loop: draws every frame from program start, reads back and queues those from --from
// on with their slice of sound, then ends the streams.
LoopResult RenderLoop(Render* r, Progress* progress) {
    const Options& o = r->o;
    const uint32_t fromMs = uint32_t(std::llround(o.from * 1000));
    const int64_t toMs = o.to >= 0 ? std::llround(o.to * 1000) : -1;
    LoopResult result;
    Timings& timings = result.timings;
    bool writeFailed = false;
    const SteadyClock::time_point start = SteadyClock::now();
    SteadyClock::time_point mark = start;
    RunShowFrames(o.fps, [&](const ShowFrame& frame) {
        if (toMs >= 0 && int64_t(frame.programMs) >= toMs) return false;
        SteadyClock::time_point now = SteadyClock::now();
        glFinish(); // rasterising belongs to drawing, not to the read-back
        const double rasterised = Since(now);
        now = SteadyClock::now();
        const double drawn = std::chrono::duration<double>(now - mark).count();
        result.lastSeconds = frame.programMs / 1000.0;
        if (frame.programMs < fromMs) {
            timings.skipped += drawn;
            progress->Update(result.lastSeconds, timings.frames, false);
            mark = SteadyClock::now();
            return true;
        }
        timings.draw += drawn;
        timings.rasterise += rasterised;
        PipelineSlot* slot = r->pipeline->Acquire();
        if (!slot) {
            writeFailed = true;
            return false;
        }
        now = SteadyClock::now();
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, kShowWidth, kShowHeight, GL_RGB, GL_UNSIGNED_BYTE, slot->pixels.data());
        timings.readBack += Since(now);
        slot->sound = SoundForFrame(&r->track, frame.index, o.fps, &slot->soundFrames);
        r->pipeline->Submit(slot);
        ++timings.frames;
        progress->Update(result.lastSeconds, timings.frames, false);
        mark = SteadyClock::now();
        return true;
    });
    result.streamsOk = r->EndStreams(&timings.encoderCpu) && !writeFailed;
    timings.total = Since(start);
    timings.ownCpu = OwnCpuSeconds();
    timings.wait = r->pipeline->waitSeconds();
    timings.write = r->pipeline->writeSeconds();
    return result;
}

void PrintBench(const Options& o, const Timings& timings, double videoSeconds, double fileMb) {
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("video                %8.1f s  (%lld frames at %d fps, %dx%d, format %s, crf %d, "
                "%s)\n",
                videoSeconds, (long long)timings.frames, o.fps, EncodedWidth(o.format, kShowWidth),
                EncodedHeight(o.format, kShowHeight), VideoFormatName(o.format), o.crf,
                o.preset.c_str());
    std::printf("render, wall clock   %8.1f s  = %.2f x real time\n", timings.total,
                videoSeconds / timings.total);
    std::printf("  drawing            %8.1f s  (+ %.1f s for frames before --from)\n", timings.draw,
                timings.skipped);
    std::printf("    of it rasterising%8.1f s  (waiting in glFinish)\n", timings.rasterise);
    std::printf("  read-back          %8.1f s\n", timings.readBack);
    std::printf("  waiting for encoder%8.1f s\n", timings.wait);
    std::printf("writer thread writes %8.1f s  (overlapped)\n", timings.write);
    std::printf("ffmpeg CPU time      %8.1f s  (overlapped, its own process)\n",
                timings.encoderCpu);
    std::printf("processor time       %8.1f s  showvideo (all its threads) + %.1f s ffmpeg"
                " = %.2f x real time on two free cores\n",
                timings.ownCpu, timings.encoderCpu,
                videoSeconds / ((timings.ownCpu + timings.encoderCpu) / 2));
    std::printf("file size            %8.1f MB\n", fileMb);
    std::printf("load average         %.2f %.2f %.2f (at the end)\n", load[0], load[1], load[2]);
}

// The report, once everything is released: the verdict and its exit status, and with --bench
// where the time went.
int Report(const Render& r, const LoopResult& result, Progress* progress) {
    const Options& o = r.o;
    const Timings& timings = result.timings;
    if (timings.frames == 0) {
        std::fprintf(stderr, "\nshowvideo: the show ended before %.3f s; nothing written\n",
                     o.from);
        unlink(r.outPath.c_str());
        return kExitError;
    }
    if (!result.streamsOk) {
        std::fprintf(stderr, "\nshowvideo: ffmpeg failed; %s is incomplete\n", r.outPath.c_str());
        return kExitError;
    }
    progress->Update(result.lastSeconds, timings.frames, true);

    const double videoSeconds = double(timings.frames) / o.fps;
    struct stat st {};
    stat(r.outPath.c_str(), &st);
    if (!r.temporary)
        std::fprintf(stderr, "showvideo: wrote %s (%.1f s, %lld frames at %d fps, %.1f MB)\n",
                     r.outPath.c_str(), videoSeconds, (long long)timings.frames, o.fps,
                     st.st_size / 1e6);
    if (o.bench) PrintBench(o, timings, videoSeconds, st.st_size / 1e6);
    return r.dataMissing ? kExitDataMissing : 0;
}

int Run(const Options& o) {
    Render render(o);
    if (!PrepareOutput(&render) || !LoadData(&render) || !OpenRender(&render)) return kExitError;
    Progress progress(render.endSeconds);
    const LoopResult result = RenderLoop(&render, &progress);
    render.Close();
    return Report(render, result, &progress);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!ParseOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    // A vanished encoder shows up as a failed write, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    return Run(options);
}
