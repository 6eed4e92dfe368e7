// ring_output.h: keeps the platform's looping audio device fed from one player: a short ring
// pre-filled at start, then refilled block by block by a feeder thread; pause, volume, seeking
// and what the listener hears now. Main thread, except the feeder (its own thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "neatxm.h"

// What one ring block holds: where the song stood at the block's end, and the channels' levels.
struct HeardState {
    neatxm_position position{};
    uint8_t levels[32]{}; // per channel, 0-255 (127: a note at full volume)
    bool silent = false;  // paused, or past the song's end
};

class RingOutput {
  public:
    // About 20 ms per block, as the player's own blocks; eight of them keep the start and every
    // key within a sixth of a second while leaving the feeder over 100 ms of slack.
    static constexpr int RING_BLOCKS = 8;

    RingOutput() = default;
    RingOutput(const RingOutput&) = delete;
    RingOutput& operator=(const RingOutput&) = delete;
    ~RingOutput();

    // Opens the device at `rate` Hz. False when there is no sound device.
    bool Open(int rate);
    void Close();

    // Starts playing `player` (which the caller keeps until Stop) with `channels` level meters:
    // renders the whole ring, hands it to the device and starts the feeder. False when the
    // feeder thread cannot be started.
    bool Start(neatxm_player* player, const neatxm_song* song, int channels);
    // Ends the feeder and lets the device go of the ring. Harmless when nothing plays.
    void Stop();

    // Commands from the main thread; each takes effect with the next block rendered.
    void SetPaused(bool paused);
    void SetVolume(int percent);
    void SetLooping(bool looping);
    // Moves to an order position; the display shows it until the listener hears it.
    void Seek(int order);

    // The block the device plays now. `finished` once the last block of the song has been
    // heard (the song stopped at its end and every block before the silence was played).
    struct Now {
        HeardState state;
        bool finished = false;
        int64_t heardBlock = 0;   // blocks played since Start
        bool seekPending = false; // a seek's first block is still ahead of the listener
        int seekOrder = 0;
    };
    Now Heard();

  private:
    void FeederMain();
    // Renders block number `index` into its ring slot. Called with `lock_` held.
    void RenderBlockLocked(int64_t index);

    int rate_ = 0;
    int blockFrames_ = 0;
    bool deviceOpen_ = false;
    std::vector<int16_t> ring_;
    HeardState slots_[RING_BLOCKS];

    // Shared by the main thread and the feeder; the player is used only under the lock.
    std::mutex lock_;
    neatxm_player* player_ = nullptr;
    const neatxm_song* song_ = nullptr;
    int channels_ = 0;
    bool paused_ = false;
    int volume_ = 100;
    HeardState last_;        // the state of the last block the player rendered
    int64_t rendered_ = 0;   // blocks rendered since Start
    int64_t heardBlock_ = 0; // the block the device plays, as the feeder last saw it
    int64_t endBlock_ = -1;  // the block in which the song stopped, or -1
    int64_t seekBlock_ = -1; // the first block rendered after the last seek
    int seekOrder_ = 0;

    // Feeder only.
    uint32_t lastDevicePosition_ = 0;
    uint64_t playedBytes_ = 0;

    std::atomic<bool> stop_{false};
    std::thread feeder_;
};
