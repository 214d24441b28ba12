#include "record/FrameQueue.h"

#include <cstring>

QueuedFrame* FrameQueue::reserve() {
    std::lock_guard<std::mutex> hold(lock);
    if (closed || count == Slots) {
        droppedFrames++;
        return nullptr;
    }
    // The slot after the last queued one belongs to the main loop until commit: the reader never
    // looks past count, so it can be filled without holding the lock.
    return &slots[(head + count) % Slots];
}

void FrameQueue::commit() {
    {
        std::lock_guard<std::mutex> hold(lock);
        count++;
        pushedFrames++;
    }
    ready.notify_one();
}

bool FrameQueue::push(const uint16_t* pixels, int stride, uint32_t ticks) {
    QueuedFrame* f = reserve();
    if (!f) return false;
    if (stride == FrameWidth) {
        std::memcpy(f->pixels, pixels, FrameBytes);
    } else {
        for (int y = 0; y < FrameHeight; y++)
            std::memcpy(f->pixels + y * FrameWidth, pixels + y * stride, FrameWidth * 2);
    }
    f->ticks = ticks;
    f->repeat = 0;
    commit();
    return true;
}

bool FrameQueue::pushRepeat(uint32_t ticks) {
    QueuedFrame* f = reserve();
    if (!f) return false;
    f->ticks = ticks;
    f->repeat = 1;
    commit();
    return true;
}

const QueuedFrame* FrameQueue::front() {
    std::unique_lock<std::mutex> hold(lock);
    ready.wait(hold, [this] { return count > 0 || closed; });
    return count > 0 ? &slots[head] : nullptr;
}

void FrameQueue::pop() {
    {
        std::lock_guard<std::mutex> hold(lock);
        if (count == 0) return;
        head = (head + 1) % Slots;
        count--;
    }
    emptied.notify_all();
}

void FrameQueue::discard() {
    {
        std::lock_guard<std::mutex> hold(lock);
        closed = true;
        count = 0;
    }
    ready.notify_all();
    emptied.notify_all();
}

void FrameQueue::waitEmpty() {
    std::unique_lock<std::mutex> hold(lock);
    emptied.wait(hold, [this] { return count == 0; });
}

void FrameQueue::close() {
    {
        std::lock_guard<std::mutex> hold(lock);
        closed = true;
    }
    ready.notify_all();
}

void FrameQueue::reset() {
    std::lock_guard<std::mutex> hold(lock);
    head = count = 0;
    closed = false;
    pushedFrames = droppedFrames = 0;
}

int64_t FrameQueue::pushed() const {
    std::lock_guard<std::mutex> hold(lock);
    return pushedFrames;
}

int64_t FrameQueue::dropped() const {
    std::lock_guard<std::mutex> hold(lock);
    return droppedFrames;
}
