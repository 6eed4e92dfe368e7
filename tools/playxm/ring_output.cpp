// ring_output.cpp: the ring, its pre-fill and the feeder thread that re-renders each block the
// device has finished. Main thread, except FeederMain (feeder thread).
#include "ring_output.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "platform/platform.h"

RingOutput::~RingOutput() {
    Close();
}

bool RingOutput::Open(int rate) {
    Close();
    if (!platform::AudioOpen(rate)) return false;
    deviceOpen_ = true;
    rate_ = rate;
    // The player's own block size: the device position then maps onto whole player blocks.
    blockFrames_ = ((rate / 50) + 3) & ~3;
    ring_.assign(static_cast<size_t>(blockFrames_) * 2 * RING_BLOCKS, 0);
    return true;
}

void RingOutput::Close() {
    Stop();
    if (!deviceOpen_) return;
    platform::AudioClose();
    deviceOpen_ = false;
}

bool RingOutput::Start(neatxm_player* player, const neatxm_song* song, int channels) {
    Stop();
    if (!deviceOpen_ || !player) return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        player_ = player;
        song_ = song;
        channels_ = std::clamp(channels, 0, 32);
        paused_ = false;
        last_ = HeardState{};
        neatxm_player_position(player, &last_.position);
        rendered_ = 0;
        heardBlock_ = 0;
        endBlock_ = -1;
        seekBlock_ = -1;
        for (int64_t b = 0; b < RING_BLOCKS; ++b) RenderBlockLocked(b);
    }
    lastDevicePosition_ = 0;
    playedBytes_ = 0;
    platform::AudioPlayLooping(ring_.data(), static_cast<uint32_t>(ring_.size() * 2));
    stop_.store(false);
    try {
        feeder_ = std::thread(&RingOutput::FeederMain, this);
    } catch (const std::system_error&) {
        // Without the feeder the device would loop the same sixth of a second for ever.
        platform::AudioReset();
        player_ = nullptr;
        return false;
    }
    return true;
}

void RingOutput::Stop() {
    stop_.store(true);
    if (feeder_.joinable()) feeder_.join();
    if (player_) {
        // The device lets go of the ring before the caller frees the player.
        platform::AudioReset();
        std::lock_guard<std::mutex> guard(lock_);
        player_ = nullptr;
        song_ = nullptr;
    }
}

void RingOutput::SetPaused(bool paused) {
    std::lock_guard<std::mutex> guard(lock_);
    paused_ = paused;
}

void RingOutput::SetVolume(int percent) {
    std::lock_guard<std::mutex> guard(lock_);
    volume_ = std::clamp(percent, 0, 200);
}

void RingOutput::SetLooping(bool looping) {
    std::lock_guard<std::mutex> guard(lock_);
    if (player_) neatxm_player_set_end(player_, looping ? NEATXM_END_WRAP : NEATXM_END_STOP);
}

void RingOutput::Seek(int order) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!player_ || endBlock_ >= 0 || neatxm_player_seek(player_, order) != NEATXM_OK) return;
    seekBlock_ = rendered_;
    seekOrder_ = order;
    // While paused, the silent blocks show the place the song will go on from.
    neatxm_player_position(player_, &last_.position);
    last_.position.order = order;
    last_.position.pattern = neatxm_song_order(song_, order);
    last_.position.row = 0;
    last_.position.tick = 0;
}

RingOutput::Now RingOutput::Heard() {
    std::lock_guard<std::mutex> guard(lock_);
    Now now;
    now.state = slots_[heardBlock_ % RING_BLOCKS];
    now.finished = endBlock_ >= 0 && heardBlock_ > endBlock_;
    now.heardBlock = heardBlock_;
    now.seekPending = seekBlock_ >= 0 && heardBlock_ < seekBlock_;
    now.seekOrder = seekOrder_;
    return now;
}

void RingOutput::RenderBlockLocked(int64_t index) {
    const size_t samples = static_cast<size_t>(blockFrames_) * 2;
    int16_t* out = ring_.data() + static_cast<size_t>(index % RING_BLOCKS) * samples;
    HeardState& slot = slots_[index % RING_BLOCKS];
    if (paused_ || endBlock_ >= 0) {
        std::memset(out, 0, samples * sizeof(int16_t));
        slot = last_;
        slot.silent = true;
        std::memset(slot.levels, 0, sizeof slot.levels);
    } else {
        const size_t got = neatxm_render_s16(player_, out, static_cast<size_t>(blockFrames_));
        if (got < static_cast<size_t>(blockFrames_)) {
            std::memset(out + got * 2, 0, (samples - got * 2) * sizeof(int16_t));
            endBlock_ = index;
        }
        // The player's volume is its own; the listener's is applied here, on the 16-bit frames.
        if (volume_ != 100) {
            for (size_t k = 0; k < got * 2; ++k)
                out[k] = static_cast<int16_t>(std::clamp(out[k] * volume_ / 100, -32768, 32767));
        }
        neatxm_player_position(player_, &last_.position);
        for (int c = 0; c < channels_; ++c)
            last_.levels[c] = static_cast<uint8_t>(neatxm_player_channel_volume(player_, c));
        slot = last_;
    }
    rendered_ = index + 1;
}

void RingOutput::FeederMain() {
    const uint64_t blockBytes = static_cast<uint64_t>(blockFrames_) * 4;
    while (!stop_.load()) {
        // The device's 32-bit count wraps after 4 GiB; adding the differences in 32-bit
        // arithmetic keeps the total continuous across the wrap.
        const uint32_t position = platform::AudioPosition();
        playedBytes_ += static_cast<uint32_t>(position - lastDevicePosition_);
        lastDevicePosition_ = position;
        const int64_t playing = static_cast<int64_t>(playedBytes_ / blockBytes);
        {
            std::lock_guard<std::mutex> guard(lock_);
            // Blocks before the one playing are finished and may be rendered anew. A feeder held
            // up for longer than the ring skips what the device has already looped over (and the
            // block it reads now): the song goes on where it stood, after a stale stretch.
            if (rendered_ <= playing) rendered_ = playing + 1;
            while (rendered_ < playing + RING_BLOCKS) RenderBlockLocked(rendered_);
            heardBlock_ = playing;
        }
        // The device takes about 23 ms at a time and the ring holds 160 ms: waking once a block
        // (20 ms) keeps over 110 ms in hand, at a quarter of the wake-ups (most of this thread's
        // cost) of 5 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
