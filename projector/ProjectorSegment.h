// The memory the instrument and its projector program share: one slot holding the newest mixed
// picture (320x240 RGB565) under a sequence number, the projector's fit and look, and the times
// at which the main window presented each frame (for the latency figure). The instrument writes a
// frame and wakes the projector with one byte on a socket; the projector copies the newest frame
// when it gets to it, so a slow projector skips frames and never holds the instrument up.
#pragma once
#include <atomic>
#include <cstdint>

constexpr uint32_t ProjectorMagic = 0x4a505250;  // "PRPJ"
constexpr int ProjectorWidth = 320;
constexpr int ProjectorHeight = 240;
constexpr int ProjectorPresentSlots = 64;
constexpr int ProjectorReasonChars = 72;

// The file descriptors the projector program finds open at start: the segment and its end of the
// wake-up socket (end of file on it: the instrument is gone).
constexpr int ProjectorSegmentFd = 3;
constexpr int ProjectorWakeFd = 4;

struct ProjectorSegment {
    uint32_t magic;
    // Odd while the instrument writes the picture; the frame number is sequence / 2.
    std::atomic<uint32_t> sequence;
    std::atomic<int32_t> fit;   // ProjectorFit
    std::atomic<int32_t> look;  // ProjectorLook
    // The main window's present of frame n: its monotonic time in microseconds at n % slots.
    std::atomic<uint32_t> presentedFrame[ProjectorPresentSlots];
    std::atomic<uint64_t> presentedUs[ProjectorPresentSlots];
    // Written by the projector before it leaves on its own (display gone, window closed).
    char closedReason[ProjectorReasonChars];
    uint16_t pixels[ProjectorWidth * ProjectorHeight];
};

static_assert(std::atomic<uint64_t>::is_always_lock_free, "the segment's fields cross processes");
