// The frames between the main loop and the recording thread: a fixed ring of slots. The main loop
// never waits on it; when every slot is taken (the encoder is behind) the frame is dropped and
// counted, so recording can never slow the performance down.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/FrameBuffers.h"

struct QueuedFrame {
    uint16_t pixels[FramePixels];  // 320x240 RGB565, rows of 320 pixels
    uint32_t ticks;                // platform ticks at which the frame was presented
    int32_t repeat;                // 1: the same picture as the frame before (pixels unused)
};

class FrameQueue {
public:
    static constexpr int Slots = 32;  // 1.3 s at 25 fps, 4.9 MB: rides out a busy second of the machine

    // Main loop: queues a copy of a frame (stride in pixels), or a repeat of the previous one.
    // Returns false when the queue is full or closed and the frame was dropped.
    bool push(const uint16_t* pixels, int stride, uint32_t ticks);
    bool pushRepeat(uint32_t ticks);

    // Recording thread: the oldest frame, waiting for one; nullptr once closed and drained.
    const QueuedFrame* front();
    void pop();

    // No more frames: front() returns what is left, then nullptr.
    void close();
    // Closed, and what is left thrown away (the output failed).
    void discard();
    // Waits until every queued frame has been taken and popped (tests).
    void waitEmpty();
    // Empty and open again, the counters at 0 (only while no thread reads it).
    void reset();

    int64_t pushed() const;
    int64_t dropped() const;

private:
    QueuedFrame* reserve();
    void commit();

    QueuedFrame slots[Slots];
    int head = 0, count = 0;
    bool closed = false;
    int64_t pushedFrames = 0, droppedFrames = 0;
    mutable std::mutex lock;
    std::condition_variable ready;
    std::condition_variable emptied;
};
