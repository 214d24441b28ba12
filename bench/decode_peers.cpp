// Decoding from RAM to the RGB565 frame: the instrument's decoder against FFmpeg's decoders of
// other codecs followed by libswscale's conversion to RGB565, in one process.
//
//   decode_peers [--seconds S] FILE...     one row per file, each as ms per frame and as a ratio
//                                          to copying one 153,600-byte frame in the same run
//   decode_peers --rounds N CLIP           decode the clip N times over (nothing timed; for
//                                          counting the decoder's instructions under callgrind,
//                                          which collects inside decodeRounds only)
//
// A .q17 or .q18 file is loaded into a track and decoded as playback does it: deck 1, frames
// 0..n-1 in order, no blend mode. Any other file is demuxed once into packets in memory; a pass
// flushes the decoder and decodes every packet, converting each picture with sws_scale into one
// RGB565 frame. Peers decode on one thread and each converts with the fastest of a few scaler
// flags (all convert at the same size; the row says which won). Times are this thread's CPU time
// (CLOCK_THREAD_CPUTIME_ID): per frame (per packet for the peers) the best of several passes,
// summed, so that other programs' load counts for neither side; the yardstick memcpy is the best
// of several rounds of a hundred copies.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "core/FrameBuffers.h"
#include "tracks/Track.h"

namespace {

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The best time of one pass, over passes until minSeconds are spent (at least five).
double bestPass(double minSeconds, const std::function<void()>& pass) {
    double best = 1e9, spent = 0;
    for (int i = 0; i < 5 || spent < minSeconds; i++) {
        const double start = threadSeconds();
        pass();
        const double t = threadSeconds() - start;
        best = std::min(best, t);
        spent += t;
    }
    return best;
}

// A pass of units (the frames of a clip, in order) timed unit by unit: the sum over units of each
// one's best time over passes until minSeconds are spent (at least five), less the clock's own
// cost. On a machine shared with other programs nearly every pass of a hundred frames is
// interrupted somewhere, while most single frames are not; the best of each frame is the time
// it takes undisturbed.
double bestUnits(double minSeconds, int units, const std::function<void(int)>& unit) {
    std::vector<double> best(size_t(units), 1e9);
    double clock = 1e9, spent = 0;
    for (int pass = 0; pass < 5 || spent < minSeconds; pass++) {
        const double passStart = threadSeconds();
        for (int i = 0; i < units; i++) {
            const double start = threadSeconds();
            unit(i);
            best[size_t(i)] = std::min(best[size_t(i)], threadSeconds() - start);
        }
        const double start = threadSeconds();
        clock = std::min(clock, threadSeconds() - start);
        spent += threadSeconds() - passStart;
    }
    double sum = 0;
    for (double t : best) sum += t - clock;
    return sum;
}

double copySeconds(double minSeconds) {
    static std::vector<uint16_t> from(FramePixels, 0x1234), to(FramePixels);
    return bestPass(minSeconds / 4, [] {
               for (int i = 0; i < 100; i++) {
                   std::memcpy(to.data(), from.data(), FrameBytes);
                   asm volatile("" : : "r"(to.data()), "r"(from.data()) : "memory");
               }
           }) /
           100;
}

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool loadClip(Track& t, const std::string& path) {
    t.assign(".", "clip");
    t.path = path;
    for (int step = 0; step < 1000; step++) {
        const int r = t.loadStep(65000);
        if (r == 2) return true;
        if (r == 0) break;
    }
    std::fprintf(stderr, "decode_peers: %s does not load: %s\n", path.c_str(), t.loadError);
    return false;
}

__attribute__((noinline)) void decodeRounds(Track& t, int rounds) {
    for (int r = 0; r < rounds; r++)
        for (int f = 0; f < t.frameCount; f++) t.decodeFrame(1, f, 0);
}

// Ours: ms per frame, and the frames for the caller's count.
bool timeOurs(const std::string& path, double minSeconds, double& perFrame, int& frames) {
    std::unique_ptr<Track> t(new Track);
    if (!loadClip(*t, path)) return false;
    frames = t->frameCount;
    decodeRounds(*t, 1);  // the two first decodes redraw every block; playback then loops
    perFrame = bestUnits(minSeconds, frames, [&](int f) { t->decodeFrame(1, f, 0); }) / frames;
    t->releaseBuffers();
    return true;
}

struct Peer {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    std::vector<AVPacket*> packets;
    AVFrame* picture = av_frame_alloc();
    ~Peer() {
        for (AVPacket* p : packets) av_packet_free(&p);
        av_frame_free(&picture);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

bool openPeer(Peer& p, const std::string& path, std::string& codecName) {
    if (avformat_open_input(&p.format, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(p.format, nullptr) < 0)
        return false;
    const AVCodec* decoder = nullptr;
    const int stream = av_find_best_stream(p.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0 || !decoder) return false;
    p.codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(p.codec, p.format->streams[stream]->codecpar);
    p.codec->thread_count = 1;  // thread CPU time sees this thread only
    if (avcodec_open2(p.codec, decoder, nullptr) < 0) return false;
    codecName = decoder->name;
    for (;;) {
        AVPacket* packet = av_packet_alloc();
        if (av_read_frame(p.format, packet) < 0) {
            av_packet_free(&packet);
            break;
        }
        if (packet->stream_index == stream)
            p.packets.push_back(packet);
        else
            av_packet_free(&packet);
    }
    return !p.packets.empty();
}

// Decodes packet i (flushing the decoder first at packet 0) and converts each picture it gives
// into out; after the last packet, the pictures still held. Returns the pictures converted.
int decodePacket(Peer& p, size_t i, SwsContext*& sws, int flags, uint16_t* out) {
    if (i == 0) avcodec_flush_buffers(p.codec);
    avcodec_send_packet(p.codec, i < p.packets.size() ? p.packets[i] : nullptr);
    int pictures = 0;
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out)};
    const int strides[4] = {FrameWidth * 2};
    while (avcodec_receive_frame(p.codec, p.picture) == 0) {
        AVFrame* f = p.picture;
        sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), FrameWidth, FrameHeight,
                                   AV_PIX_FMT_RGB565LE, flags, nullptr, nullptr, nullptr);
        sws_scale(sws, f->data, f->linesize, 0, f->height, planes, strides);
        pictures++;
        av_frame_unref(f);
    }
    return pictures;
}

struct Flags {
    int value;
    const char* name;
};
const Flags scalerFlags[] = {{SWS_POINT, "point"}, {SWS_FAST_BILINEAR, "fast_bilinear"}, {SWS_BILINEAR, "bilinear"}};

bool timePeer(const std::string& path, double minSeconds, double& perFrame, int& frames, std::string& label) {
    Peer p;
    std::string codecName;
    if (!openPeer(p, path, codecName)) {
        std::fprintf(stderr, "decode_peers: cannot decode %s\n", path.c_str());
        return false;
    }
    std::vector<uint16_t> out(FramePixels);
    perFrame = 1e9;
    for (const Flags& f : scalerFlags) {
        SwsContext* sws = nullptr;
        const int units = int(p.packets.size()) + 1;  // the last one drains the decoder
        frames = 0;
        for (int i = 0; i < units; i++) frames += decodePacket(p, size_t(i), sws, f.value, out.data());  // warm
        if (frames <= 0) return false;
        const double t = bestUnits(minSeconds / 3, units, [&](int i) { decodePacket(p, size_t(i), sws, f.value, out.data()); }) / frames;
        sws_freeContext(sws);
        if (t < perFrame) perFrame = t, label = codecName + " (sws " + f.name + ")";
    }
    return true;
}

std::string fileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    double minSeconds = 1.0;
    int rounds = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            minSeconds = std::atof(argv[++i]);
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "usage: decode_peers [--seconds S] FILE... | decode_peers --rounds N CLIP\n");
            return 2;
        } else
            files.push_back(a);
    }
    if (files.empty() || (rounds > 0 && files.size() != 1)) {
        std::fprintf(stderr, "usage: decode_peers [--seconds S] FILE... | decode_peers --rounds N CLIP\n");
        return 2;
    }
    allocateFrameBuffers();
    av_log_set_level(AV_LOG_ERROR);
    // The loader's progress lines go to standard output: they go nowhere, the figures to report.
    std::fflush(stdout);
    FILE* report = fdopen(dup(1), "w");
    const int null = open("/dev/null", O_WRONLY);
    if (!report || null < 0) return 1;
    dup2(null, 1);
    if (rounds > 0) {
        std::unique_ptr<Track> t(new Track);
        if (!loadClip(*t, files[0])) return 1;
        for (int f = 0; f < t->frameCount; f++) t->decodeFrame(1, f, 0);  // warm, outside the count
        decodeRounds(*t, rounds);
        std::fprintf(report, "frames %d\n", rounds * t->frameCount);
        return 0;
    }
    const double copyBefore = copySeconds(minSeconds);
    struct Row {
        std::string file, codec;
        double perFrame;
        int frames;
    };
    std::vector<Row> rows;
    for (const std::string& path : files) {
        Row row{fileName(path), "", 0, 0};
        bool ok;
        if (endsWith(path, ".q17") || endsWith(path, ".q18")) {
            row.codec = "loopmixer";
            ok = timeOurs(path, minSeconds, row.perFrame, row.frames);
        } else {
            ok = timePeer(path, minSeconds, row.perFrame, row.frames, row.codec);
        }
        if (!ok) return 1;
        rows.push_back(row);
    }
    const double copy = std::min(copyBefore, copySeconds(minSeconds));
    std::fprintf(report, "%-28s %-30s %6s %10s %9s\n", "file", "decoder", "frames", "ms/frame", "x memcpy");
    for (const Row& r : rows)
        std::fprintf(report, "%-28s %-30s %6d %10.4f %9.2f\n", r.file.c_str(), r.codec.c_str(), r.frames, r.perFrame * 1e3, r.perFrame / copy);
    std::fprintf(report, "memcpy of one 153,600-byte frame: %.4f ms\n", copy * 1e3);
    return 0;
}
