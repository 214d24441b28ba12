// Recording and streaming: whole headless sessions recorded through the real encoders and read back
// with FFmpeg's decoders, pixel for pixel where the format is lossless.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "app/CommandLine.h"
#include "app/MainLoop.h"
#include "app/Startup.h"
#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/HintLine.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "record/Recorder.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

using Picture = std::vector<uint16_t>;

Picture screenPicture() {
    Picture p(FramePixels);
    for (int y = 0; y < FrameHeight; y++)
        std::memcpy(&p[y * FrameWidth], (const uint16_t*)screenSurface->pixels + y * (screenSurface->pitch / 2), FrameWidth * 2);
    return p;
}

// What a file or stream holds, decoded: size, codec, each frame's time in ms and, for the lossless
// RGB files, each picture back in RGB565 (the top bits of every 8-bit channel).
struct Decoded {
    int width = 0, height = 0;
    std::string codec;
    bool durationKnown = false;
    std::vector<int64_t> ms;
    std::vector<std::vector<uint16_t>> pictures;
};

Decoded decode(const std::string& url, size_t maxFrames = SIZE_MAX, AVDictionary* options = nullptr) {
    Decoded d;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, url.c_str(), nullptr, &options) < 0) {
        av_dict_free(&options);
        return d;
    }
    av_dict_free(&options);
    const bool probed = avformat_find_stream_info(in, nullptr) >= 0;
    AVStream* st = probed && in->nb_streams > 0 ? in->streams[0] : nullptr;
    const AVCodec* dec = st ? avcodec_find_decoder(st->codecpar->codec_id) : nullptr;
    AVCodecContext* ctx = dec ? avcodec_alloc_context3(dec) : nullptr;
    if (ctx && avcodec_parameters_to_context(ctx, st->codecpar) >= 0 && avcodec_open2(ctx, dec, nullptr) >= 0) {
        d.codec = dec->name;
        d.durationKnown = in->duration != AV_NOPTS_VALUE;
        AVPacket* pkt = av_packet_alloc();
        AVFrame* f = av_frame_alloc();
        auto take = [&] {
            while (avcodec_receive_frame(ctx, f) >= 0) {
                d.width = f->width;
                d.height = f->height;
                d.ms.push_back(av_rescale_q(f->best_effort_timestamp, st->time_base, AVRational{1, 1000}));
                if (f->format == AV_PIX_FMT_BGR0) {
                    std::vector<uint16_t> p(size_t(f->width) * f->height);
                    for (int y = 0; y < f->height; y++) {
                        const uint8_t* row = f->data[0] + y * f->linesize[0];
                        for (int x = 0; x < f->width; x++) {
                            const uint8_t* px = row + x * 4;
                            p[y * f->width + x] = uint16_t((px[2] >> 3) << 11 | (px[1] >> 2) << 5 | px[0] >> 3);
                        }
                    }
                    d.pictures.push_back(std::move(p));
                }
            }
        };
        while (d.ms.size() < maxFrames && av_read_frame(in, pkt) >= 0) {
            if (pkt->stream_index == st->index) avcodec_send_packet(ctx, pkt);
            av_packet_unref(pkt);
            take();
        }
        avcodec_send_packet(ctx, nullptr);
        take();
        av_frame_free(&f);
        av_packet_free(&pkt);
    }
    avcodec_free_context(&ctx);
    avformat_close_input(&in);
    return d;
}

// The first pixel where a decoded picture differs from the screen, or -1.
long firstDifference(const std::vector<uint16_t>& decoded, const Picture& screen) {
    if (decoded.size() != screen.size()) return 0;
    for (size_t i = 0; i < screen.size(); i++)
        if (decoded[i] != screen[i]) return long(i);
    return -1;
}

// The bundled playlist loaded and playing on the Mix screen, chooser closed, overlay hidden.
void perform(Harness& h) {
    h.loadFirstPlaylist();
    decks.blendMode = 2;
    decks.decks[0].track = 1;
}

// One frame, then the recorder is given the time to write it: the tests see no dropped frames.
void recordedFrame(Harness& h, int n = 1) {
    for (int i = 0; i < n; i++) {
        h.frame();
        recorder.waitUntilWritten();
    }
}

HarnessOptions session() {
    launchOptions = LaunchOptions();
    HarnessOptions o;
    o.demoClips = true;
    o.seed = 77;
    return o;
}

TEST(Recording, MixScreenRecordsTheCleanPictureBitExact) {
    constexpr int Frames = 30, From = 5;
    // The performance without overlay, unrecorded: the pictures a clean recording must hold.
    std::vector<Picture> shown;
    {
        Harness h(session());
        ASSERT_TRUE(h.started);
        perform(h);
        hideHints();  // the first-use hint is on the screen, never in the clean picture
        for (int i = 0; i < From + Frames; i++) {
            h.frame();
            shown.push_back(screenPicture());
        }
    }
    // The same performance with the overlay and the chooser on screen, recorded from F9 to F9.
    Harness h(session());
    perform(h);
    decks.overlayShown = 1;
    const std::string file = h.dir + "/clean.mkv";
    launchOptions.recordTarget = file;
    recorder.recordings = 0;
    recordedFrame(h, From);
    h.keyDown(SDLK_F9);
    h.keyUp(SDLK_F9);
    appState.mixView = ChoosingPlaylist;
    recordedFrame(h, Frames);
    EXPECT_TRUE(recorder.recording());
    EXPECT_EQ(0xF800, h.pixel(288, 11)) << "the red mark is on the overlay";
    EXPECT_NE(int(SDLK_F9), controller.key) << "F9 is not a glove key";
    h.keyDown(SDLK_F9);
    h.frame();
    EXPECT_FALSE(recorder.recording());
    recorder.finish();
    EXPECT_NE(0xF800, h.pixel(288, 11));
    EXPECT_EQ(0, recorder.framesDropped);

    const Decoded d = decode(file);
    EXPECT_EQ("ffv1", d.codec);
    ASSERT_EQ(size_t(Frames), d.pictures.size());
    for (int i = 0; i < Frames; i++) {
        const long at = firstDifference(d.pictures[i], shown[From + i]);
        ASSERT_EQ(-1, at) << "frame " << i << " differs first at x " << at % 320 << " y " << at / 320;
    }
}

TEST(Recording, TimestampsFollowThePresentedFramesOrASteadyRate) {
    struct Case {
        bool constantRate;
    };
    for (const Case c : {Case{false}, Case{true}}) {
        Harness h(session());
        launchOptions.recordScale = 2;
        launchOptions.recordConstantRate = c.constantRate;
        h.frame(45);  // on the home screen, recorded as shown
        const std::string file = h.dir + "/time.mkv";
        recorder.start(file.c_str());
        std::vector<int64_t> ticks;
        for (int fps : {25, 40, 10, 25}) {
            decks.targetFps = fps;
            for (int i = 0; i < 6; i++) {
                recordedFrame(h);
                ticks.push_back(lastFrameTick);
            }
        }
        h.callAfter(700);  // a frame late by most of a second: a freeze
        ticks.push_back(lastFrameTick);
        recordedFrame(h);
        ticks.push_back(lastFrameTick);
        const Picture last = screenPicture();
        recorder.finish();

        const Decoded d = decode(file);
        ASSERT_FALSE(d.ms.empty()) << (c.constantRate ? "constant rate" : "presented timing");
        EXPECT_EQ(640, d.width);
        EXPECT_EQ(480, d.height);
        if (!c.constantRate) {
            std::vector<int64_t> expected;
            for (int64_t t : ticks) expected.push_back(t - ticks.front());
            EXPECT_EQ(expected, d.ms);
        } else {
            // Every 40 ms one frame, from the first presented frame to the last.
            const int64_t span = ticks.back() - ticks.front();
            ASSERT_EQ(size_t((span * 25 + 500) / 1000 + 1), d.ms.size());
            for (size_t i = 0; i < d.ms.size(); i++) ASSERT_EQ(int64_t(i) * 40, d.ms[i]);
        }
        // Each screen pixel a sharp 2x2 square; the red mark on the screen is not recorded.
        const std::vector<uint16_t>& big = d.pictures.back();
        long wrong = 0;
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++) {
                const bool mark = x / 2 >= 286 && x / 2 < 292 && y / 2 >= 9 && y / 2 < 15;
                if (!mark && big[y * 640 + x] != last[(y / 2) * 320 + x / 2]) wrong++;
            }
        EXPECT_EQ(0, wrong);
        EXPECT_EQ(0xF800, last[11 * 320 + 288]);
        EXPECT_NE(0xF800, big[22 * 640 + 576]);
    }
}

TEST(Recording, Mp4IsReadableWithItsSizeAndEveryFrame) {
    Harness h(session());
    launchOptions.recordScale = 2;
    perform(h);
    const std::string file = h.dir + "/performance.mp4";
    recorder.start(file.c_str());
    recordedFrame(h, 25);
    recorder.finish();
    const Decoded d = decode(file);
    EXPECT_EQ("h264", d.codec);
    EXPECT_EQ(640, d.width);
    EXPECT_EQ(480, d.height);
    EXPECT_EQ(25u, d.ms.size());
    EXPECT_EQ(25, recorder.framesWritten);
}

TEST(Recording, StreamsOverUdpToAReceiverInWholeDatagrams) {
    // A receiver on a free port of the loopback interface, bound before the first packet leaves.
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(0, bind(s, (sockaddr*)&a, sizeof a));
    getsockname(s, (sockaddr*)&a, &len);
    const int port = ntohs(a.sin_port);
    int big = 8 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    timeval wait = {10, 0};  // a receiver that hears nothing for 10 s gives up
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    Harness h(session());
    perform(h);
    std::vector<size_t> sizes;
    std::string stream;
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        char datagram[65536];
        while (!stop) {
            const ssize_t n = recv(s, datagram, sizeof datagram, 0);
            if (n <= 0) break;
            sizes.push_back(size_t(n));
            stream.append(datagram, size_t(n));
        }
    });
    const std::string url = "udp://127.0.0.1:" + std::to_string(port);
    recorder.start(url.c_str());
    recordedFrame(h, 30);
    recorder.finish();
    stop = true;
    shutdown(s, SHUT_RDWR);
    receiver.join();
    close(s);

    // Every datagram but the last carries seven whole transport packets.
    ASSERT_GT(sizes.size(), 10u);
    for (size_t i = 0; i + 1 < sizes.size(); i++) ASSERT_EQ(1316u, sizes[i]) << "datagram " << i;
    EXPECT_EQ(0u, sizes.back() % 188);
    const std::string ts = h.dir + "/received.ts";
    FILE* f = fopen(ts.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(stream.data(), 1, stream.size(), f);
    fclose(f);
    const Decoded received = decode(ts);
    EXPECT_EQ("h264", received.codec);
    EXPECT_EQ(320, received.width);
    EXPECT_EQ(240, received.height);
    EXPECT_EQ(30u, received.ms.size());
}

TEST(Recording, FailuresStopTheRecordingWithANoticeWhileThePerformanceGoesOn) {
    struct Case {
        const char* name;
        const char* target;
        rlim_t fileSizeLimit;  // 0: none
        const char* reason;
    };
    // A file-size limit (ulimit -f) fails a write as a full disk does; the program ignores the
    // signal that would end it there.
    for (const Case c : {Case{"disk full", "full.mkv", 400000, "write failed: disk full"},
                         Case{"full before the first frame", "empty.mkv", 300, "write failed: disk full"},
                         Case{"no such device", "/dev/video99", 0, "cannot open"}}) {
        Harness h(session());
        h.frame(45);
        launchOptions.recordScale = 2;
        const std::string target = c.target[0] == '/' ? c.target : h.dir + "/" + c.target;
        rlimit before = {};
        getrlimit(RLIMIT_FSIZE, &before);
        if (c.fileSizeLimit) {
            rlimit small = before;
            small.rlim_cur = c.fileSizeLimit;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        recorder.start(target.c_str());
        const int64_t framesBefore = framesRun;
        for (int i = 0; i < 200 && recorder.recording(); i++) recordedFrame(h);
        setrlimit(RLIMIT_FSIZE, &before);
        recordedFrame(h, 3);

        EXPECT_FALSE(recorder.recording()) << c.name;
        const char* shown = noticeShown(platform::ticks());
        ASSERT_NE(nullptr, shown) << c.name;
        EXPECT_EQ(0, std::string(shown).rfind(std::string("recording stopped: ") + c.reason, 0)) << shown;
        EXPECT_GT(framesRun, framesBefore + 3) << "the performance goes on";
        // The log, too, is past the smallest limit.
        if (c.fileSizeLimit == 300) {
            EXPECT_NE(0, access(target.c_str(), F_OK)) << "a file that holds no frame is removed";
            continue;
        }
        const std::string line = "recording failed: " + target + ": " + c.reason;
        const size_t at = h.log().find(line);
        ASSERT_NE(std::string::npos, at) << c.name;
        if (c.fileSizeLimit) {
            // What reached the disk plays, does not claim to be complete, and is what the log
            // counts; a file that holds no frame is not left behind.
            const Decoded d = decode(target);
            EXPECT_FALSE(d.durationKnown);
            const std::string counted = " (" + std::to_string(d.pictures.size()) + " frames written)";
            EXPECT_EQ(counted, h.log().substr(at + line.size(), counted.size())) << c.name;
            EXPECT_GT(d.pictures.size(), 0u);
        }
    }
}

TEST(Recording, AFileHoldsEveryFrameAsSoonAsItIsWrittenAndNoneWithoutFrames) {
    Harness h(session());
    perform(h);
    // Killed a fraction of a second into a recording, the file already plays what was written.
    const std::string file = h.dir + "/early.mkv";
    recorder.start(file.c_str());
    recordedFrame(h, 3);
    EXPECT_EQ(3u, decode(file).pictures.size());
    recorder.finish();
    EXPECT_EQ(3u, decode(file).pictures.size());
    // Stopped before its first frame: no file at all.
    const std::string none = h.dir + "/none.mkv";
    recorder.start(none.c_str());
    recorder.finish();
    EXPECT_NE(0, access(none.c_str(), F_OK));
}

TEST(Recording, TerminatingWhileRecordingLeavesACompleteFile) {
    launchOptions = LaunchOptions();
    HarnessOptions o = session();
    o.start = false;
    Harness h(o);
    const std::string file = h.dir + "/launch-2.mkv";
    // An earlier run's recording of that name is never written over: the launch takes the next name.
    const std::string earlier = h.dir + "/launch.mkv";
    FILE* f = fopen(earlier.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs("an earlier show", f);
    fclose(f);
    std::string error;
    char* bad[] = {(char*)"loopmixer", (char*)"--record", (char*)"out.avi"};
    EXPECT_FALSE(parseCommandLine(3, bad, error));
    char* args[] = {(char*)"loopmixer", (char*)"--record", (char*)earlier.c_str(), (char*)"--record-scale", (char*)"3"};
    ASSERT_TRUE(parseCommandLine(5, args, error)) << error;
    ASSERT_TRUE(h.startUp());
    EXPECT_TRUE(recorder.recording()) << "--record starts at launch";
    recordedFrame(h, 20);
    terminateRequested = 1;  // what SIGTERM sets
    EXPECT_EQ(0, h.callAfter(1));
    terminateRequested = 0;
    shutDown();

    const Decoded d = decode(file);
    EXPECT_TRUE(d.durationKnown);
    EXPECT_EQ(960, d.width);
    EXPECT_EQ(20u, d.pictures.size());
    EXPECT_NE(std::string::npos, h.log().find("recording stopped: " + file + ", 20 frames, 0 dropped"));
    char kept[32] = {};
    f = fopen(earlier.c_str(), "r");
    ASSERT_NE(nullptr, f);
    EXPECT_NE(nullptr, fgets(kept, sizeof kept, f));
    fclose(f);
    EXPECT_STREQ("an earlier show", kept);
}

TEST(Recording, OscAndALearnedMidiControlStartAndStopWithFeedback) {
    Harness h(session());
    h.frame(45);
    int32_t recordingFed = -1;
    static int32_t* fed;
    fed = &recordingFed;
    const auto feedback = [] {
        pollOscFeedback(false, [](const char* address, char, const OscArg& v) {
            if (std::string(address) == "/loopmixer/recording") *fed = v.i;
        });
    };
    feedback();
    EXPECT_EQ(0, recordingFed);

    int32_t on = 1;
    void* argv[] = {&on};
    ASSERT_TRUE(handleOscMessage("/loopmixer/record", "i", argv, 1));
    recordedFrame(h, 3);
    EXPECT_TRUE(recorder.recording()) << "with no --record, a new file under recordings/";
    EXPECT_EQ(0, std::string(recorder.target).rfind("recordings/loopmixer-", 0)) << recorder.target;
    feedback();
    EXPECT_EQ(1, recordingFed);

    const int record = findMidiTarget("record");
    ASSERT_GE(record, 0);
    const MidiTarget& t = midiTarget(record);
    EXPECT_EQ(1, t.state(t.param)) << "the pad lights while recording";
    t.act(t.param, 127);  // a press stops; its release and a second press value change nothing more
    t.act(t.param, 100);
    h.frame();
    EXPECT_FALSE(recorder.recording());
    recorder.finish();
    feedback();
    EXPECT_EQ(0, recordingFed);
    EXPECT_EQ(3u, decode(recorder.target).pictures.size());
}

}  // namespace
