// device_position_test.cpp: the audio device's play position as callers see it, from raw device
// readings in bytes, samples and milliseconds, across loops, wraps and jitter.
#include "platform/win32/device_position.h"

#include <gtest/gtest.h>

using platform::win32::AdvanceDevicePosition;
using platform::win32::DevicePosition;
using platform::win32::DevicePositionBytes;
using platform::win32::PositionUnit;
using platform::win32::StartDevicePosition;

namespace {

constexpr uint32_t kRingBytes = 353600; // the demo's ring: 88400 frames

TEST(DevicePosition, CountsFromTheHandOverNotFromTheDeviceOpening) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 5000, PositionUnit::Bytes);
    EXPECT_EQ(DevicePositionBytes(position), 0u);
    EXPECT_EQ(AdvanceDevicePosition(&position, 5000 + 1764, PositionUnit::Bytes), 1764u);
    // Across several loops of the ring the count keeps growing.
    EXPECT_EQ(AdvanceDevicePosition(&position, 5000 + 3 * kRingBytes + 16, PositionUnit::Bytes),
              3 * kRingBytes + 16);
}

TEST(DevicePosition, StepsAcrossTheDevicesOwnWrapStaySmall) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 0xFFFFFF00u, PositionUnit::Bytes);
    EXPECT_EQ(AdvanceDevicePosition(&position, 0x00000100u, PositionUnit::Bytes), 0x200u);

    // A device counting samples in 32 bits wraps after 2^32 frames, not 2^32 bytes.
    StartDevicePosition(&position, 44100, 0xFFFFFFF0u, PositionUnit::Samples);
    EXPECT_EQ(AdvanceDevicePosition(&position, 0x10u, PositionUnit::Samples), 0x20u * 4);
}

TEST(DevicePosition, OurCountWrapsAfterFourGibibytesLikeAPlainCounter) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 0, PositionUnit::Samples);
    // 2^30 frames are 2^32 bytes: the count is back at 0, and differences across the wrap, taken
    // in 32-bit arithmetic, are the bytes really played.
    uint32_t before = AdvanceDevicePosition(&position, (1u << 30) - 100, PositionUnit::Samples);
    uint32_t after = AdvanceDevicePosition(&position, (1u << 30) + 100, PositionUnit::Samples);
    EXPECT_EQ(before, 0xFFFFFE70u);
    EXPECT_EQ(after, 400u);
    EXPECT_EQ(after - before, 800u);
}

TEST(DevicePosition, AReadingBehindTheLastOneNeverMovesItBackwards) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 1000, PositionUnit::Bytes);
    EXPECT_EQ(AdvanceDevicePosition(&position, 9000, PositionUnit::Bytes), 8000u);
    EXPECT_EQ(AdvanceDevicePosition(&position, 8800, PositionUnit::Bytes), 8000u);
    // Counting goes on from the furthest reading, not from the jittered one.
    EXPECT_EQ(AdvanceDevicePosition(&position, 9400, PositionUnit::Bytes), 8400u);
}

TEST(DevicePosition, MillisecondsBecomeWholeFramesWithoutDrift) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 0, PositionUnit::Milliseconds);
    EXPECT_EQ(AdvanceDevicePosition(&position, 1000, PositionUnit::Milliseconds), 176400u);
    // Many small steps add up to the same bytes as one large step: 3 ms is 132.3 frames, so
    // rounding each step on its own would lose a frame every few polls.
    DevicePosition stepped;
    StartDevicePosition(&stepped, 44100, 0, PositionUnit::Milliseconds);
    uint32_t bytes = 0;
    for (uint32_t ms = 3; ms <= 3000; ms += 3)
        bytes = AdvanceDevicePosition(&stepped, ms, PositionUnit::Milliseconds);
    EXPECT_EQ(bytes, 3u * 176400u);
    EXPECT_EQ(bytes % 4, 0u);
}

TEST(DevicePosition, ADeviceThatChangesItsUnitKeepsTheBytesReached) {
    DevicePosition position;
    StartDevicePosition(&position, 44100, 0, PositionUnit::Bytes);
    AdvanceDevicePosition(&position, 40000, PositionUnit::Bytes);
    // The new unit's first reading only sets where counting goes on from.
    EXPECT_EQ(AdvanceDevicePosition(&position, 777777, PositionUnit::Samples), 40000u);
    EXPECT_EQ(AdvanceDevicePosition(&position, 777777 + 100, PositionUnit::Samples), 40400u);
    EXPECT_EQ(AdvanceDevicePosition(&position, 50, PositionUnit::Milliseconds), 40400u);
    EXPECT_EQ(AdvanceDevicePosition(&position, 60, PositionUnit::Milliseconds), 40400u + 1764u);
}

} // namespace
