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
    uint64_t units = 0;     // counted in `unit` since the hand-over or the last change of unit
    uint32_t baseBytes = 0; // bytes reached before that change
};

// Bytes played since the hand-over, as the wrapping 32-bit count.
inline uint32_t DevicePositionBytes(const DevicePosition& position) {
    uint64_t bytes = position.units;
    switch (position.unit) {
    case PositionUnit::Samples: bytes = position.units * 4u; break;
    case PositionUnit::Milliseconds:
        // Converted as a whole, never step by step, so that no fraction of a frame is lost.
        bytes = position.units * static_cast<uint64_t>(position.rate) / 1000u * 4u;
        break;
    case PositionUnit::Bytes: break;
    }
    return position.baseBytes + static_cast<uint32_t>(bytes);
}

// Starts counting at 0 bytes from the device's reading at the hand-over.
inline void StartDevicePosition(DevicePosition* position, int rate, uint32_t reading,
                                PositionUnit unit) {
    *position = DevicePosition{rate, unit, reading, 0, 0};
}

// Takes a new reading; returns the bytes played since the hand-over (mod 2^32).
inline uint32_t AdvanceDevicePosition(DevicePosition* position, uint32_t reading,
                                      PositionUnit unit) {
    if (unit != position->unit) {
        // The device changed its unit: keep the bytes reached and count on from this reading.
        position->baseBytes = DevicePositionBytes(*position);
        position->units = 0;
        position->unit = unit;
        position->lastReading = reading;
        return position->baseBytes;
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
