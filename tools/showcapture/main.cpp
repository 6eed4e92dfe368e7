// main.cpp: showcapture — draws the show on a virtual clock and writes PNG frames, or measures
// the frame rate of every segment (--bench). Needs an X display. Main thread.
//
//   showcapture --at 1,12.5,20 --out DIR            one PNG per time (program-clock seconds)
//   showcapture --from 10 --to 20 --every 0.5 --out DIR
//   showcapture --bench                              fps of every segment
//   --fps N   virtual frame rate (default 60; 10 with --bench unless given)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <set>
#include <string>
#include <vector>

#include "frame_loop.h"
#include "platform/gl.h"
#include "png_writer.h"
#include "show/show_timeline.h"

namespace {

struct Options {
    std::set<uint32_t> timesMs;
    std::string outDir;
    int fps = 0;
    bool bench = false;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: showcapture (--at T1,T2,... | --from A --to B --every S) --out DIR "
                 "[--fps N]\n"
                 "       showcapture --bench [--fps N]\n"
                 "Times are seconds on the program clock (the intro takes its first 5 s).\n");
}

bool ParseSeconds(const char* text, double* out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < 0 || v > 4000000.0) return false;
    *out = v;
    return true;
}

uint32_t ToMs(double seconds) {
    return uint32_t(std::llround(seconds * 1000.0));
}

bool ParseOptions(int argc, char** argv, Options* o) {
    double from = -1, to = -1, every = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bench") {
            o->bench = true;
        } else if (arg == "--at" && hasValue) {
            std::string list = argv[++i];
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                if (comma == std::string::npos) comma = list.size();
                double t;
                if (!ParseSeconds(list.substr(start, comma - start).c_str(), &t)) return false;
                o->timesMs.insert(ToMs(t));
                start = comma + 1;
            }
        } else if (arg == "--from" && hasValue) {
            if (!ParseSeconds(argv[++i], &from)) return false;
        } else if (arg == "--to" && hasValue) {
            if (!ParseSeconds(argv[++i], &to)) return false;
        } else if (arg == "--every" && hasValue) {
            if (!ParseSeconds(argv[++i], &every) || every <= 0) return false;
        } else if (arg == "--out" && hasValue) {
            o->outDir = argv[++i];
        } else if (arg == "--fps" && hasValue) {
            o->fps = std::atoi(argv[++i]);
            if (o->fps < 1 || o->fps > 1000) return false;
        } else {
            return false;
        }
    }
    if (from >= 0 || to >= 0 || every > 0) {
        if (from < 0 || to < from || every <= 0) return false;
        // Whole milliseconds, so that long ranges do not drift.
        const uint32_t a = ToMs(from), b = ToMs(to), step = std::max<uint32_t>(1, ToMs(every));
        for (uint64_t ms = a; ms <= b; ms += step) o->timesMs.insert(uint32_t(ms));
    }
    if (o->fps == 0) o->fps = o->bench ? 10 : 60;
    if (o->bench) return o->timesMs.empty();
    return !o->timesMs.empty() && !o->outDir.empty();
}

int Capture(const Options& o) {
    std::error_code error;
    std::filesystem::create_directories(o.outDir, error);
    std::vector<uint8_t> rgb;
    auto next = o.timesMs.begin();
    bool failed = false;
    RunShowFrames(o.fps, [&](const ShowFrame& frame) {
        bool read = false;
        for (; next != o.timesMs.end() && frame.programMs >= *next; ++next) {
            if (!read) ReadShowFrame(&rgb), read = true;
            char name[32];
            std::snprintf(name, sizeof name, "/%06u.png", unsigned(*next));
            const std::string path = o.outDir + name;
            if (!WritePng(path, rgb.data(), kShowWidth, kShowHeight)) {
                std::fprintf(stderr, "showcapture: cannot write %s\n", path.c_str());
                failed = true;
                return false;
            }
            std::printf("%s frame %lld at %u ms, %s %.3f s\n", path.c_str(), (long long)frame.index,
                        unsigned(frame.programMs), frame.intro ? "intro" : "show",
                        double(frame.showTime));
        }
        return next != o.timesMs.end();
    });
    if (failed) return 1;
    if (next != o.timesMs.end()) {
        std::fprintf(stderr, "showcapture: the show ended before %u ms\n", unsigned(*next));
        return 1;
    }
    return 0;
}

struct SegmentTally {
    int64_t frames = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // all threads of the process, the renderer's included
    double mainSeconds = 0; // this thread alone: the show and the GL calls it makes
    double slowest = 0;
};

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

int Bench(const Options& o) {
    // Slot 0 is the intro, then one per segment of the main show.
    SegmentTally tally[kShowSegmentCount + 1];
    using Clock = std::chrono::steady_clock;
    Clock::time_point last{};
    double lastCpu = 0, lastMain = 0;
    RunShowFrames(o.fps, [&](const ShowFrame& frame) {
        glFinish();
        const Clock::time_point now = Clock::now();
        const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double main = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        if (frame.index > 0) {
            // The interval since the previous frame: its swap, then this frame's drawing.
            const double dt = std::chrono::duration<double>(now - last).count();
            SegmentTally& t = tally[frame.intro ? 0 : 1 + int(SegmentAt(frame.showTime))];
            t.frames += 1;
            t.seconds += dt;
            t.cpuSeconds += cpu - lastCpu;
            t.mainSeconds += main - lastMain;
            if (dt > t.slowest) t.slowest = dt;
        }
        last = now;
        lastCpu = cpu;
        lastMain = main;
        return true;
    });
    // Processor milliseconds per frame (all threads, and the drawing thread alone) are less
    // sensitive than fps to other programs sharing the machine.
    std::printf("%-16s %8s %8s %12s %14s %15s\n", "segment", "frames", "fps", "slowest ms",
                "cpu ms/frame", "main ms/frame");
    for (int i = 0; i <= kShowSegmentCount; ++i) {
        const SegmentTally& t = tally[i];
        const char* name = i == 0 ? "intro" : SegmentName(ShowSegment(i - 1));
        const double perFrame = t.frames > 0 ? 1000.0 / double(t.frames) : 0.0;
        std::printf("%-16s %8lld %8.1f %12.1f %14.1f %15.1f\n", name, (long long)t.frames,
                    t.seconds > 0 ? double(t.frames) / t.seconds : 0.0, t.slowest * 1000.0,
                    t.cpuSeconds * perFrame, t.mainSeconds * perFrame);
    }
    return 0;
}

// The GL driver allocates and frees frame-sized buffers on every frame; served by mmap and
// handed back at once, each costs the kernel a fresh round of zeroed pages (a third of the
// drawing thread's time in a profile). Keeping such blocks in the heap avoids that.
void KeepLargeBlocksInTheHeap() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

} // namespace

int main(int argc, char** argv) {
    KeepLargeBlocksInTheHeap();
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    if (!OpenShowWindow()) {
        std::fprintf(stderr, "showcapture: no window (is DISPLAY set?)\n");
        return 1;
    }
    const int result = options.bench ? Bench(options) : Capture(options);
    CloseShowWindow();
    return result;
}
