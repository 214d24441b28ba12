#include "live/LiveSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>

#include "app/MainLoop.h"
#include "core/FrameBuffers.h"
#include "core/Notice.h"
#include "live/NoSignal.h"
#include "mixer/Decks.h"

LiveFit liveFit = LiveFit::Crop;

int64_t liveClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

const char* const NetworkProtocols = "udp,srt,rtsp,rtmp,http,https,tcp,tls,rtp,crypto,httpproxy";
constexpr int MaxInputSide = 8192;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int64_t threadCpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

LiveSource::LiveSource(const std::string& entry, const LiveAddress& s)
    : sourceName(entry.substr(std::strlen(LivePrefix))), parts(s), newest(FramePixels), shown(FramePixels),
      latency(LiveLatencySamples, -1) {
    // A damaged stream makes the decoders complain at every packet: only what stops them is said.
    if (av_log_get_level() > AV_LOG_FATAL) av_log_set_level(AV_LOG_FATAL);
    static std::once_flag registered;
    std::call_once(registered, [] {
        avdevice_register_all();
        avformat_network_init();
    });
    thread = std::thread([this] { run(); });
}

LiveSource::~LiveSource() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

int LiveSource::interrupted(void* self) {
    const LiveSource* s = static_cast<const LiveSource*>(self);
    if (s->stopping.load()) return 1;
    const int64_t deadline = s->deadlineUs.load();
    return deadline != 0 && liveClockUs() > deadline ? 1 : 0;
}

void LiveSource::run() {
    while (!stopping) {
        std::string why;
        session(why);
        if (stopping) break;
        noSignal(why);
        std::unique_lock<std::mutex> guard(lock);
        wake.wait_for(guard, std::chrono::milliseconds(LiveRetryMs), [this] { return stopping.load(); });
    }
}

void LiveSource::noSignal(const std::string& why) {
    std::lock_guard<std::mutex> guard(lock);
    signal = false;
    failure = why;
    failures++;
}

void LiveSource::publish(const uint16_t* picture, int64_t arrivalUs) {
    std::lock_guard<std::mutex> guard(lock);
    std::memcpy(newest.data(), picture, FrameBytes);
    newestNumber++;
    newestArrivalUs = arrivalUs;
    signal = true;
}

namespace {

// Everything one opening of a source owns, released in one place whatever step failed.
struct Session {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    ~Session() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

// When each packet came in, looked up by the timestamp of the picture it gave.
struct Arrivals {
    static constexpr int Size = 64;
    int64_t pts[Size] = {};
    int64_t us[Size] = {};
    int next = 0;
    void add(int64_t p, int64_t t) {
        pts[next] = p;
        us[next] = t;
        next = (next + 1) % Size;
    }
    int64_t find(int64_t p, int64_t otherwise) const {
        for (int i = 0; i < Size; i++)
            if (pts[i] == p && us[i] != 0) return us[i];
        return otherwise;
    }
};

// Scales the decoded picture into 320x240 RGB565: cropped to 4:3 around its centre, or whole
// inside black bars. False for a picture the scaler refuses.
bool convert(Session& s, AVFrame* f, uint16_t* out) {
    if (f->width <= 0 || f->height <= 0 || f->width > MaxInputSide || f->height > MaxInputSide) return false;
    int outW = FrameWidth, outH = FrameHeight, outX = 0, outY = 0;
    const int64_t w = f->width, h = f->height;
    if (liveFit == LiveFit::Crop) {
        if (w * 3 > h * 4) {
            const int64_t keep = h * 4 / 3;
            f->crop_left = size_t((w - keep) / 2) & ~size_t(1);
            f->crop_right = size_t(w - keep) - f->crop_left;
        } else if (w * 3 < h * 4) {
            const int64_t keep = w * 3 / 4;
            f->crop_top = size_t((h - keep) / 2) & ~size_t(1);
            f->crop_bottom = size_t(h - keep) - f->crop_top;
        }
        if (av_frame_apply_cropping(f, AV_FRAME_CROP_UNALIGNED) < 0) return false;
    } else {
        if (w * 3 > h * 4) outH = int(std::max<int64_t>(2, FrameWidth * h / w) & ~int64_t(1));
        else if (w * 3 < h * 4) outW = int(std::max<int64_t>(2, FrameHeight * w / h) & ~int64_t(1));
        outX = (FrameWidth - outW) / 2;
        outY = (FrameHeight - outH) / 2;
        if (outW != FrameWidth || outH != FrameHeight) std::memset(out, 0, FrameBytes);
    }
    s.scaler = sws_getCachedContext(s.scaler, f->width, f->height, AVPixelFormat(f->format), outW, outH,
                                    AV_PIX_FMT_RGB565, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!s.scaler) return false;
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out + outY * FrameWidth + outX), nullptr, nullptr, nullptr};
    const int strides[4] = {FrameWidth * 2, 0, 0, 0};
    return sws_scale(s.scaler, f->data, f->linesize, 0, f->height, planes, strides) == outH;
}

}  // namespace

bool LiveSource::session(std::string& why) {
    Session s;
    s.format = avformat_alloc_context();
    if (!s.format) {
        why = "out of memory";
        return false;
    }
    s.format->interrupt_callback.callback = interrupted;
    s.format->interrupt_callback.opaque = this;
    deadlineUs = liveClockUs() + LiveOpenTimeoutMs * 1000;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", parts.network ? NetworkProtocols : "file", 0);
    if (parts.network) {
        // Pictures as they come: no buffering ahead, a short probe.
        av_dict_set(&options, "fflags", "nobuffer", 0);
        av_dict_set(&options, "probesize", "1000000", 0);
        av_dict_set(&options, "analyzeduration", "1000000", 0);
    }
    const AVInputFormat* input = nullptr;
    if (!parts.format.empty()) {
        input = av_find_input_format(parts.format.c_str());
        if (!input) {
            av_dict_free(&options);
            why = "no input " + parts.format + " in this build";
            return false;
        }
    }
    int r = avformat_open_input(&s.format, parts.input.c_str(), input, &options);
    av_dict_free(&options);
    auto failed = [&](const char* step, int code) {
        const bool timedOut = code == AVERROR_EXIT && !stopping;
        why = std::string(step) + ": " + (timedOut ? "timed out" : errorText(code));
        return false;
    };
    if (r < 0) return failed("cannot open", r);  // the context is freed on failure
    if ((r = avformat_find_stream_info(s.format, nullptr)) < 0) return failed("cannot read", r);
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder) {
        why = "no video in it";
        return false;
    }
    AVStream* stream = s.format->streams[index];
    s.codec = avcodec_alloc_context3(decoder);
    if (!s.codec || avcodec_parameters_to_context(s.codec, stream->codecpar) < 0) {
        why = "out of memory";
        return false;
    }
    // Slices, not frames, in parallel: frame threads would hold pictures back.
    s.codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    s.codec->thread_count = 2;
    s.codec->thread_type = FF_THREAD_SLICE;
    if ((r = avcodec_open2(s.codec, decoder, nullptr)) < 0) return failed("cannot decode", r);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.packet || !s.frame) {
        why = "out of memory";
        return false;
    }
    std::vector<uint16_t> picture(FramePixels);
    Arrivals arrivals;
    int64_t originPtsUs = 0, originUs = 0;
    bool paceStarted = false;
    int badPackets = 0;
    // Cameras are read without blocking (one that stops giving pictures would hold the thread,
    // and the deck that closes it, for ever): nothing yet is waited for here, in steps that notice
    // the end of the source and the stall deadline. (The X screen input paces itself within a
    // frame, and counts a call without a picture as a frame gone.)
    if (parts.format == "v4l2" || parts.format == "video4linux2") s.format->flags |= AVFMT_FLAG_NONBLOCK;
    deadlineUs = liveClockUs() + LiveStallTimeoutMs * 1000;
    for (;;) {
        if (stopping) return false;
        r = av_read_frame(s.format, s.packet);
        if (r == AVERROR(EAGAIN)) {
            if (liveClockUs() > deadlineUs.load()) {
                why = "stalled";
                return false;
            }
            std::unique_lock<std::mutex> guard(lock);
            wake.wait_for(guard, std::chrono::milliseconds(5), [this] { return stopping.load(); });
            continue;
        }
        deadlineUs = liveClockUs() + LiveStallTimeoutMs * 1000;
        if (r < 0) {
            if (r == AVERROR_EOF) why = "ended";
            else if (r == AVERROR_EXIT && !stopping) why = "stalled";
            else why = errorText(r);
            return false;
        }
        if (s.packet->stream_index != index) {
            av_packet_unref(s.packet);
            continue;
        }
        const int64_t packetUs = liveClockUs();
        arrivals.add(s.packet->pts, packetUs);
        r = avcodec_send_packet(s.codec, s.packet);
        av_packet_unref(s.packet);
        // A damaged packet loses its picture; only a source that gives nothing else is given up.
        if (r < 0 && r != AVERROR(EAGAIN)) {
            if (++badPackets > 200) {
                why = "cannot decode: " + errorText(r);
                return false;
            }
            continue;
        }
        while (avcodec_receive_frame(s.codec, s.frame) == 0) {
            int64_t arrival = arrivals.find(s.frame->pts, packetUs);
            if (parts.paced) {
                // A generator or a file: shown at its timestamps, as a camera would give them.
                const int64_t ts = s.frame->best_effort_timestamp;
                const int64_t ptsUs = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, stream->time_base, AVRational{1, 1000000});
                const int64_t now = liveClockUs();
                int64_t due = originUs + (ptsUs - originPtsUs);
                if (!paceStarted || due > now + 1000000 || due < now - 1000000) {
                    paceStarted = true;
                    originPtsUs = ptsUs;
                    originUs = now;
                    due = now;
                }
                std::unique_lock<std::mutex> guard(lock);
                wake.wait_for(guard, std::chrono::microseconds(std::max<int64_t>(0, due - now)),
                              [this] { return stopping.load(); });
                if (stopping) return false;
                arrival = liveClockUs();
            }
            badPackets = 0;
            if (convert(s, s.frame, picture.data())) {
                publish(picture.data(), arrival);
                decoded++;
            }
            av_frame_unref(s.frame);
            cpuNs = threadCpuNow();
        }
    }
}

bool LiveSource::hasSignal() {
    std::lock_guard<std::mutex> guard(lock);
    return signal;
}

const uint16_t* LiveSource::shownPicture() {
    if (shownFrame == framesRun) return shownSignal ? shown.data() : noSignalPicture();
    shownFrame = framesRun;
    bool fresh = false, sig;
    std::string reason;
    int64_t arrivalUs = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        sig = signal;
        if (failures != failuresSeen) {
            failuresSeen = failures;
            reason = failure;
            fresh = true;
        }
        if (sig && newestNumber != shownNumber && !decks.paused) {
            newest.swap(shown);
            shownNumber = newestNumber;
            arrivalUs = newestArrivalUs;
        }
    }
    if (arrivalUs != 0) {
        latency[latencyNext] = liveClockUs() - arrivalUs;
        latencyNext = (latencyNext + 1) % LiveLatencySamples;
    }
    // One notice each time the signal goes, or fails for a new reason, not at every retry.
    if (fresh && !sig && (reason != lastReason || hadSignal)) {
        const std::string text = "live: no signal from " + sourceName + ": " + reason;
        std::cout << text << std::endl;
        postNotice(text.c_str());
        lastReason = reason;
    }
    if (sig) lastReason.clear();
    hadSignal = sig;
    // Frozen decks keep what they showed, signal or not.
    if (!decks.paused) shownSignal = sig;
    return shownSignal ? shown.data() : noSignalPicture();
}

void LiveSource::drawFrame(int, uint16_t* frame) { std::memcpy(frame, shownPicture(), FrameBytes); }

std::vector<int64_t> LiveSource::latencies() const {
    std::vector<int64_t> out;
    for (int64_t v : latency)
        if (v >= 0) out.push_back(v);
    return out;
}
