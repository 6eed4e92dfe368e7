// device_position.h: the audio device's play position as the wrapping 32-bit byte count that
// callers expect, built from the device's own readings. No system calls; output thread.
#pragma once

#include <cstdint>

namespace platform::win32 {

// The units a device may report its position in (it may answer in another one than asked).
enum class PositionUnit { Bytes, Samples, Milliseconds };

// Counts the device's units played since the hand-over by adding up the differences between
// readings, so that the byte count wraps only after 4 GiB whatever range the device counts in.
struct DevicePosition {
    int rate = 0; // frames per second; a frame is 4 bytes (16-bit stereo)
    PositionUnit unit = PositionUnit::Bytes;
    uint32_t lastReading = 0;
    uint64_t units = 0;
};

inline uint32_t DevicePositionBytes(const DevicePosition& position) {
    switch (position.unit) {
    case PositionUnit::Samples: return static_cast<uint32_t>(position.units * 4u);
    case PositionUnit::Milliseconds:
        return static_cast<uint32_t>(position.units * static_cast<uint64_t>(position.rate) / 1000u *
                                     4u);
    case PositionUnit::Bytes: break;
    }
    return static_cast<uint32_t>(position.units);
}

// Starts counting at 0 bytes from the device's reading at the hand-over.
inline void StartDevicePosition(DevicePosition* position, int rate, uint32_t reading,
                                PositionUnit unit) {
    *position = DevicePosition{rate, unit, reading, 0};
}

// Takes a new reading; returns the bytes played since the hand-over (mod 2^32).
inline uint32_t AdvanceDevicePosition(DevicePosition* position, uint32_t reading,
                                      PositionUnit unit) {
    if (unit != position->unit) {
        // The device changed its unit: keep the bytes reached and count on from this reading.
        uint64_t bytes = DevicePositionBytes(*position);
        uint64_t frames = bytes / 4u;
        position->units = unit == PositionUnit::Samples ? frames
                          : unit == PositionUnit::Milliseconds
                              ? (position->rate > 0 ? frames * 1000u / position->rate : 0)
                              : bytes;
        position->unit = unit;
        position->lastReading = reading;
        return DevicePositionBytes(*position);
    }
    uint32_t step = reading - position->lastReading; // wrap-safe across the device's own wrap
    // A reading behind the last one (drivers jitter at start-up) is not a step of almost 4 GiB
    // forward: the position never moves backwards.
    if (static_cast<int32_t>(step) >= 0) {
        position->lastReading = reading;
        position->units += step;
    }
    return DevicePositionBytes(*position);
}

} // namespace platform::win32
