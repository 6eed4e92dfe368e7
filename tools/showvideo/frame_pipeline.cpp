// frame_pipeline.cpp: the writer thread between the frame loop and the encoder's pipes.
// Acquire/Submit/Finish run on the main thread, Run on the writer thread.
#include "frame_pipeline.h"

#include <chrono>

#include "encoder_process.h"

namespace {
using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
} // namespace

FramePipeline::FramePipeline(int videoFd, int audioFd, int width, int height, int slots)
    : videoFd_(videoFd), audioFd_(audioFd), height_(height), rowBytes_(size_t(width) * 3),
      slots_(size_t(slots < 2 ? 2 : slots)) {
    for (PipelineSlot& slot : slots_) {
        slot.pixels.resize(rowBytes_ * size_t(height));
        free_.push_back(&slot);
    }
    writer_ = std::thread(&FramePipeline::Run, this);
}

FramePipeline::~FramePipeline() {
    Finish();
}

PipelineSlot* FramePipeline::Acquire() {
    const Clock::time_point start = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || !free_.empty(); });
    waitSeconds_ += Since(start);
    if (failed_) return nullptr;
    PipelineSlot* slot = free_.front();
    free_.pop_front();
    return slot;
}

void FramePipeline::Submit(PipelineSlot* slot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_.push_back(slot);
    }
    changed_.notify_all();
}

bool FramePipeline::Finish() {
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

void FramePipeline::Run() {
    for (;;) {
        PipelineSlot* slot;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return closing_ || !queued_.empty(); });
            if (queued_.empty()) return; // closing, and everything has been written
            slot = queued_.front();
            queued_.pop_front();
        }
        const Clock::time_point start = Clock::now();
        bool ok = slot->soundFrames == 0 ||
                  WriteAll(audioFd_, slot->sound, slot->soundFrames * 2 * sizeof(int16_t));
        ok = ok && WriteRowsFlipped(videoFd_, slot->pixels.data(), height_, rowBytes_);
        writeSeconds_ += Since(start);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(slot);
            if (!ok) failed_ = true;
        }
        changed_.notify_all();
        // After a failure the remaining frames are dropped; Acquire already reports it.
    }
}
