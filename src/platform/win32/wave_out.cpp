// wave_out.cpp: the looping audio device over the multimedia wave-out interface. The main thread
// opens, hands over, resets and closes; AudioPosition is read by the output thread.
#include "platform/platform.h"
#include "platform/win32/device_position.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>

namespace platform {
namespace {

// One device, one looping buffer.
struct WaveOutState {
    HWAVEOUT device = nullptr;
    int rate = 0;
    WAVEHDR header{};
    bool headerPrepared = false;
    bool playing = false;
    // A position reading failed while playing: the device was removed or failed.
    std::atomic<bool> lost{false};
    // Output thread only while playing; restarted by AudioPlayLooping before the thread starts.
    win32::DevicePosition position;
};
WaveOutState wave;

// Reads the device's position in its own unit: asked for bytes, it may answer in samples or
// milliseconds instead.
bool ReadDevicePosition(uint32_t* reading, win32::PositionUnit* unit) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(wave.device, &time, sizeof time) != MMSYSERR_NOERROR) return false;
    switch (time.wType) {
    case TIME_BYTES:
        *reading = time.u.cb;
        *unit = win32::PositionUnit::Bytes;
        return true;
    case TIME_SAMPLES:
        *reading = time.u.sample;
        *unit = win32::PositionUnit::Samples;
        return true;
    case TIME_MS:
        *reading = time.u.ms;
        *unit = win32::PositionUnit::Milliseconds;
        return true;
    default: return false;
    }
}

void StopDevice() {
    if (!wave.device) return;
    waveOutReset(wave.device);
    if (wave.headerPrepared) {
        waveOutUnprepareHeader(wave.device, &wave.header, sizeof wave.header);
        wave.headerPrepared = false;
    }
    wave.header = WAVEHDR{};
    wave.playing = false;
}

} // namespace

bool AudioOpen(int rate) {
    AudioClose();
    if (rate <= 0) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    wave.device = device;
    wave.rate = rate;
    wave.lost.store(false);
    return true;
}

void AudioPlayLooping(const void* ring, uint32_t bytes) {
    if (!wave.device || !ring || bytes == 0) return;
    // A second hand-over replaces the first; the reset also sets the device's count back to 0.
    StopDevice();
    wave.header.lpData = static_cast<LPSTR>(const_cast<void*>(ring));
    wave.header.dwBufferLength = bytes;
    wave.header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    wave.header.dwLoops = 0xFFFFFFFF;
    if (waveOutPrepareHeader(wave.device, &wave.header, sizeof wave.header) != MMSYSERR_NOERROR) {
        wave.header = WAVEHDR{};
        return;
    }
    wave.headerPrepared = true;
    uint32_t reading = 0;
    win32::PositionUnit unit = win32::PositionUnit::Bytes;
    if (!ReadDevicePosition(&reading, &unit)) reading = 0;
    win32::StartDevicePosition(&wave.position, wave.rate, reading, unit);
    wave.playing = waveOutWrite(wave.device, &wave.header, sizeof wave.header) == MMSYSERR_NOERROR;
}

uint32_t AudioPosition() {
    uint32_t reading = 0;
    win32::PositionUnit unit = win32::PositionUnit::Bytes;
    if (!wave.playing) return win32::DevicePositionBytes(wave.position);
    if (!ReadDevicePosition(&reading, &unit)) {
        wave.lost.store(true);
        return win32::DevicePositionBytes(wave.position);
    }
    return win32::AdvanceDevicePosition(&wave.position, reading, unit);
}

bool AudioLost() {
    return wave.lost.load();
}

void AudioReset() {
    StopDevice();
}

void AudioClose() {
    if (!wave.device) return;
    StopDevice();
    waveOutClose(wave.device);
    wave.device = nullptr;
    wave.rate = 0;
    wave.position = win32::DevicePosition{};
}

} // namespace platform
