// A live input on a deck: a network stream, a file, an FFmpeg input device (camera, capture card,
// screen) or one of FFmpeg's generated sources, read through FFmpeg's libraries on a thread of its
// own. The thread decodes at the source's own rate and keeps only the newest picture, scaled to
// 320x240 RGB565 filling 4:3; the deck takes it at its frame. Nothing the source does (stalls,
// errors, its end) reaches the main loop: the deck shows a "no signal" picture and the thread
// tries again every two seconds.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "live/LiveEntry.h"
#include "tracks/FrameSource.h"

enum class LiveFit { Crop, Letterbox };
extern LiveFit liveFit;  // how a picture that is not 4:3 fills the deck (--live-letterbox)

constexpr int64_t LiveRetryMs = 2000;
constexpr int64_t LiveOpenTimeoutMs = 5000;   // opening and probing a source
constexpr int64_t LiveStallTimeoutMs = 3000;  // no packet for this long: the source stalled
constexpr int LiveLatencySamples = 1024;

class LiveSource : public FrameSource {
public:
    LiveSource(const std::string& entry, const LiveAddress& parts);
    ~LiveSource() override;
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    void drawFrame(int position, uint16_t* frame) override;
    int frameCount() const override { return 1; }
    bool live() const override { return true; }

    // The picture the deck shows in this frame: the newest one taken once per frame of the main
    // loop (held while the decks are frozen), or the "no signal" picture. Posts the notice when
    // the signal is lost. Main thread only.
    const uint16_t* shownPicture();
    bool hasSignal();
    const std::string& name() const { return sourceName; }

    // Figures: the latency of each new picture from its arrival to being shown (microseconds,
    // the last LiveLatencySamples), and the decoding thread's processor time.
    std::vector<int64_t> latencies() const;
    int64_t threadCpuNs() const { return cpuNs.load(); }
    int64_t picturesDecoded() const { return decoded.load(); }

private:
    void run();
    bool session(std::string& why);  // one opening of the source, until it fails or ends
    void publish(const uint16_t* picture, int64_t arrivalUs);
    void noSignal(const std::string& why);
    static int interrupted(void* self);

    std::string sourceName;  // the entry without "live:"
    LiveAddress parts;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<int64_t> deadlineUs{0};
    std::atomic<int64_t> cpuNs{0};
    std::atomic<int64_t> decoded{0};
    std::mutex lock;
    std::condition_variable wake;

    // Under lock: the newest picture and its state.
    std::vector<uint16_t> newest;
    uint64_t newestNumber = 0;
    int64_t newestArrivalUs = 0;
    bool signal = false;
    uint64_t failures = 0;
    std::string failure;

    // Main thread only.
    std::vector<uint16_t> shown;
    uint64_t shownNumber = 0;
    int64_t shownFrame = -1;
    bool shownSignal = false;
    bool hadSignal = false;
    uint64_t failuresSeen = 0;
    std::string lastReason;
    std::vector<int64_t> latency;
    int latencyNext = 0;
};

int64_t liveClockUs();  // the monotonic clock the latency figures use
