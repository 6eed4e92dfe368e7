// frame_pipeline.h: hands read-back frames and their slice of sound from the main thread to a
// writer thread that feeds the encoder's two pipes, so drawing the next frame overlaps writing
// (and encoding) the last one. Acquire/Submit/Finish: main thread; the rest: writer thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct PipelineSlot {
    std::vector<uint8_t> pixels; // bottom-up rows, as glReadPixels leaves them
    const int16_t* sound = nullptr;
    size_t soundFrames = 0; // stereo frames at `sound`
};

class FramePipeline {
  public:
    // Starts the writer thread. `slots` frames may be in flight (at least 2).
    FramePipeline(int videoFd, int audioFd, int width, int height, int slots);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // A free slot to read the next frame into; waits while all are in flight. Null once the
    // writer has failed (the encoder went away): the caller stops rendering.
    PipelineSlot* Acquire();
    // Queues a filled slot; its sound is written before its picture. The sound must stay valid
    // until Finish.
    void Submit(PipelineSlot* slot);
    // Waits until everything queued is written and ends the thread. False when a write failed.
    bool Finish();

    // Seconds the main thread spent waiting in Acquire (the encoder being the slower side),
    // and the writer thread spent inside write calls.
    double waitSeconds() const { return waitSeconds_; }
    double writeSeconds() const { return writeSeconds_; }

  private:
    void Run();

    int videoFd_, audioFd_, height_;
    size_t rowBytes_;
    std::vector<PipelineSlot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PipelineSlot*> free_, queued_;
    bool closing_ = false;
    bool failed_ = false;
    double waitSeconds_ = 0;
    double writeSeconds_ = 0; // written by the writer thread, read after it has ended
    std::thread writer_;
};
