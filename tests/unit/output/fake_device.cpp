// fake_device.cpp: the hand-moved wave device and the synthetic song of the output tests.
#include "fake_device.h"

#include "music/sequencer.h"

#include <cmath>

FakeDevice fake;
std::atomic<int> syntheticTicks{0};

namespace {

bool FakeOpen(int rate) {
    ++fake.opens;
    fake.openRate = rate;
    return !fake.refuseOpen;
}
void FakePlayLooping(const void* ring, uint32_t bytes) {
    ++fake.handOvers;
    fake.ring = ring;
    fake.ringBytes = bytes;
    fake.position.store(0);
}
uint32_t FakePosition() {
    return fake.position.load();
}
void FakeReset() {
    ++fake.resets;
    if (fake.ring && fake.ring != mixer.outputRing) fake.ringFreedWhileHeld = true;
    fake.ring = nullptr;
}
void FakeClose() {
    ++fake.closes;
}
void FakeThreadStarted() {
    fake.threadStarts.fetch_add(1);
}

constexpr uint32_t SAMPLE_FRAMES = 1000;
int16_t sampleData[SAMPLE_FRAMES + 8];
Sample loopedSample{};

void SyntheticStart(Module*) {
    syntheticTicks.store(0);
    // The voice restarts from the same state on every start, so two renders of the song from
    // playback start are identical.
    voices[0] = Voice{};
    voices[0].increment = 1;
    voices[0].incrementFraction = 0x40000000; // 1.25 sample frames per output frame
    voices[0].direction = 1;
    voices[0].sample = &loopedSample;
}

void SyntheticTick(Module* module) {
    const int tick = syntheticTicks.fetch_add(1) + 1;
    module->row = tick % 64;
    module->orderPosition = (tick / 64) % 256;
    voices[0].volumeLeft = (tick * 37) % 128;
    voices[0].volumeRight = (tick * 11) % 128;
}

} // namespace

void InstallFakeDevice() {
    fake.position.store(0);
    fake.threadStarts.store(0);
    fake.refuseOpen = false;
    fake.openRate = fake.opens = fake.closes = fake.resets = fake.handOvers = 0;
    fake.ring = nullptr;
    fake.ringBytes = 0;
    fake.ringFreedWhileHeld = false;
    const WaveDevice device = {FakeOpen,  FakePlayLooping, FakePosition,
                               FakeReset, FakeClose,       FakeThreadStarted};
    SetWaveDevice(&device);
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WaitForHeardBlock(int32_t block) {
    return WaitUntil([block] { return output.heardBlock.load() == block; });
}

SyntheticSong::SyntheticSong() {
    for (uint32_t i = 0; i < SAMPLE_FRAMES; ++i) {
        sampleData[i] = int16_t(std::lround(20000.0 * std::sin(i * 2.0 * 3.14159265 / 250.0)));
    }
    sampleData[SAMPLE_FRAMES] = sampleData[0]; // a forward loop's next frame is its start
    loopedSample.data = sampleData;
    loopedSample.length = SAMPLE_FRAMES;
    loopedSample.loopStart = 0;
    loopedSample.loopLength = SAMPLE_FRAMES;
    loopedSample.volume = 64;
    loopedSample.bits = 16;
    loopedSample.loopKind = LOOP_FORWARD;

    module.channelCount = 1;
    module.songLength = 1;
    module.defaultSpeed = 6;
    module.defaultBpm = 125;
    module.initialGlobalVolume = 64;
    module.startHandler = SyntheticStart;
    module.tickHandler = SyntheticTick;
}
