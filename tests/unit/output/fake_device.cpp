// fake_device.cpp: the hand-moved wave devices and the ticking songs of the output tests.
#include "fake_device.h"

#include "memory_files.h"
#include "xm_writer.h"

#include <cmath>
#include <string>

FakeDevice fakes[FAKE_DEVICES];

namespace {

// The device operations of every fake; the context is the fake's record.
FakeDevice& Fake(void* context) {
    return *static_cast<FakeDevice*>(context);
}
bool Open(void* context, int rate) {
    FakeDevice& fake = Fake(context);
    ++fake.opens;
    fake.openRate = rate;
    return !fake.refuseOpen;
}
void PlayLooping(void* context, const void* ring, uint32_t bytes) {
    FakeDevice& fake = Fake(context);
    ++fake.handOvers;
    fake.ring = ring;
    fake.ringBytes = bytes;
    fake.position.store(0);
}
uint32_t Position(void* context) {
    FakeDevice& fake = Fake(context);
    const uint32_t position = fake.position.load();
    fake.positionReads.fetch_add(1);
    return position;
}
void Reset(void* context) {
    FakeDevice& fake = Fake(context);
    ++fake.resets;
    const MusicOutput* owner = fake.owner;
    if (fake.ring && (!owner || !owner->player || fake.ring != owner->player->mixer.outputRing))
        fake.ringFreedWhileHeld = true;
    fake.ring = nullptr;
}
void Close(void* context) {
    ++Fake(context).closes;
}
void ThreadStarted(void* context) {
    Fake(context).threadStarts.fetch_add(1);
}
bool Lost(void* context) {
    return Fake(context).lost.load();
}

WaveDevice FakeTable(int index) {
    return WaveDevice{&fakes[index], Open,  PlayLooping,   Position,
                      Reset,         Close, ThreadStarted, Lost};
}
const WaveDevice fakeTables[FAKE_DEVICES] = {FakeTable(0), FakeTable(1)};

} // namespace

const WaveDevice* ResetFakeDevice(int index) {
    FakeDevice& fake = fakes[index];
    fake.position.store(0);
    fake.threadStarts.store(0);
    fake.positionReads.store(0);
    fake.lost.store(false);
    fake.refuseOpen = false;
    fake.openRate = fake.opens = fake.closes = fake.resets = fake.handOvers = 0;
    fake.ring = nullptr;
    fake.ringBytes = 0;
    fake.owner = nullptr;
    fake.ringFreedWhileHeld = false;
    return &fakeTables[index];
}

MusicOutput* CreateFakeOutput(int index) {
    MusicOutput* output = CreateMusicOutput(ResetFakeDevice(index), PlayerRules::Demo);
    fakes[index].owner = output;
    return output;
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WaitForServicePass(int index) {
    const uint64_t reads = fakes[index].positionReads.load();
    return WaitUntil([index, reads] { return fakes[index].positionReads.load() >= reads + 2; });
}

bool WaitForHeardBlock(const MusicOutput* output, int32_t block) {
    return WaitUntil([output, block] { return output->heardBlock.load() == block; });
}

TickingSong::TickingSong(int variant) {
    constexpr int ORDERS = 8, ROWS = 32;
    xmw::Song song;
    song.channels = 1;
    song.speed = 1;
    for (int o = 0; o < ORDERS; ++o) {
        song.orders.push_back(uint8_t(o));
        xmw::Pattern pattern = song.MakePattern(ROWS);
        for (int r = 0; r < ROWS; ++r) {
            const int tick = o * ROWS + r;
            PatternCell& cell = pattern.At(r, 0);
            cell.volumeColumn = uint8_t(0x10 + (tick * (37 + variant)) % 65);
            cell.effect = 0x08; // set panning
            cell.effectParameter = uint8_t((tick * (11 + 2 * variant)) & 0xFF);
        }
        song.patterns.push_back(pattern);
    }
    const char* notes[] = {"C-4", "E-4", "G-4"};
    song.patterns[0].At(0, 0).note = xmw::NoteNumber(notes[variant % 3]);
    song.patterns[0].At(0, 0).instrument = 1;

    xmw::Instrument instrument;
    xmw::Sample sample;
    sample.sixteenBit = true;
    constexpr int FRAMES = 1000;
    for (int i = 0; i < FRAMES; ++i)
        sample.values.push_back(int32_t(std::lround(20000.0 * std::sin(i * 2.0 * M_PI / 250.0))));
    sample.loop = xmw::Loop::Forward;
    sample.loopLength = FRAMES;
    instrument.samples.push_back(sample);
    song.instruments.push_back(instrument);

    module = LoadModuleBytes(xmw::WriteXm(song));
}

TickingSong::~TickingSong() {
    FreeModule(module);
}
