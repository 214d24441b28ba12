// Recording and streaming the picture. The main loop hands every presented frame to submit; a
// thread of the recorder's own converts, encodes and writes it (record/VideoWriter.h), so the
// performance never waits for the encoder: when it falls behind, frames are dropped and counted.
// A failure (disk full, network unreachable, no such device) ends the recording with a notice and
// a log line; the performance goes on. All calls come from the main loop's thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

#include "record/FrameQueue.h"
#include "record/VideoWriter.h"

constexpr int RecordTargetChars = 512;

class Recorder {
public:
    ~Recorder();

    // Starts recording to target (a file name, udp://, srt:// or /dev/videoN) with the scale and
    // rate of launchOptions. False, with a notice, when the target is not one of those.
    bool start(const char* target);
    // Stops: the frames queued so far are written and the output closed by the recording thread,
    // while the performance goes on; update() reports the end.
    void stop();
    // start on the launch target (a file under the next free name), or stop.
    void toggle();
    // Stops and waits until the output is closed (quitting).
    void finish();
    // Frames are being taken.
    bool recording() const { return state == Running; }

    // Main loop, once per presented frame while recording: the picture (stride in pixels) at the
    // tick it is presented, or the same picture as the frame before.
    void submit(const uint16_t* pixels, int stride, uint32_t ticks);
    void submitRepeat(uint32_t ticks);
    // Main loop, once per frame: reports a failure or the end of a stopped recording.
    void update();
    // Tests: waits until the recording thread has written every frame queued so far.
    void waitUntilWritten();

    char target[RecordTargetChars] = {};
    int64_t framesTaken = 0;    // frames submitted in this recording
    int64_t framesDropped = 0;  // of those, dropped because the queue was full
    int64_t framesWritten = 0;  // frames that reached the file, counted when the recording ends
    int32_t recordings = 0;     // recordings started since launch

private:
    enum State { Idle, Running, Closing };
    void run();
    void join();
    void chooseTarget();
    static int interrupted(void* self);

    State state = Idle;
    std::thread worker;
    FrameQueue queue;
    VideoWriter writer;
    std::atomic<int> workerDone{0};
    std::atomic<int> stopRequested{0};
    std::atomic<int64_t> encoded{0};
    bool failed = false;  // set by the recording thread, read after workerDone
    char failure[200] = {};
};

extern Recorder recorder;
