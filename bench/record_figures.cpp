// The recording figures, in real time (they are about time): run from a run folder (build/run).
//   record_figures cpu TARGET SCALE SECONDS
//     plays the first playlist of the set (two decks blended) at 25 fps with the real clock while
//     recording to TARGET, and prints the frames taken and dropped and the processor time of the
//     recording (every thread but the main loop's) as a share of one core.
//   record_figures latency SECONDS
//     streams a picture carrying its frame number to udp://127.0.0.1 and decodes it in a receiver
//     thread; prints the time from handing a frame over at present to its decoded picture.
#include <SDL/SDL.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "app/MainLoop.h"
#include "app/Startup.h"
#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Platform.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "record/Recorder.h"


static double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

static double processCpu() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

static double threadCpu() {
    rusage u;
    getrusage(RUSAGE_THREAD, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Processor seconds of every thread of the process by thread id (utime and stime of its stat).
static std::map<int, double> threadTimes() {
    std::map<int, double> times;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return times;
    const double tick = double(sysconf(_SC_CLK_TCK));
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string line;
        std::getline(in, line);
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        unsigned long long utime = 0, stime = 0;
        // After the name: state, then fields 4 to 13, then utime and stime (fields 14 and 15).
        if (std::sscanf(line.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                        &stime) == 2)
            times[std::atoi(e->d_name)] = double(utime + stime) / tick;
    }
    closedir(dir);
    return times;
}

// Paced frames as main() runs them, for ms milliseconds of real time.
static void play(uint32_t ms) {
    const uint32_t end = platform::ticks() + ms;
    while (platform::ticks() < end) {
        runFrame();
        if (uint32_t wait = msUntilNextFrame()) platform::delay(wait);
    }
}

static int cpu(const char* target, int scale, int secs) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    launchOptions.recordScale = scale;
    if (!startUp()) return 1;
    appState.screen = Screen::Mix;
    appState.mixView = ChoosingPlaylist;
    play(100);
    platform::setScriptedButton(2, true);  // B in the chooser: load the first playlist
    play(100);
    platform::setScriptedButton(2, false);
    for (int i = 0; i < 2000 && mix.loadPosition < mix.playlists[mix.loadingPlaylist].trackCount; i++) play(40);
    decks.blendMode = 2;
    decks.decks[0].track = mix._totalTracks > 1 ? 1 : 0;

    // The same stretch of playing without recording, then with: the difference is the recording's.
    const int base = std::min(secs, 30);
    const double main0 = threadCpu(), all0 = processCpu();
    const int64_t playFrames0 = framesRun;
    play(uint32_t(base) * 1000);
    const double playFps = double(framesRun - playFrames0) / base;
    const double playMain = (threadCpu() - main0) / base * secs;
    const double playOthers = (processCpu() - all0) / base * secs - playMain;
    recorder.start(target);
    const double main1 = threadCpu(), all1 = processCpu();
    const int64_t frames0 = framesRun;
    const std::map<int, double> threads0 = threadTimes();
    play(uint32_t(secs) * 1000);
    // The busiest thread but the main loop's, before the recording's threads end.
    double busiest = 0;
    for (const auto& t : threadTimes()) {
        if (t.first == getpid()) continue;
        const auto before = threads0.find(t.first);
        busiest = std::max(busiest, t.second - (before == threads0.end() ? 0 : before->second));
    }
    recorder.finish();
    const double recMain = threadCpu() - main1, recOthers = processCpu() - all1 - recMain;
    std::printf("%s scale %d, %d s: %lld frames presented, %lld taken, %lld dropped, %lld written\n", target, scale,
                secs, (long long)(framesRun - frames0), (long long)recorder.framesTaken,
                (long long)recorder.framesDropped, (long long)recorder.framesWritten);
    std::printf("  recording threads %.1f %% of a core (other threads while only playing: %.1f %%); the busiest "
                "thread %.1f %%\n", 100 * recOthers / secs, 100 * playOthers / secs, 100 * busiest / secs);
    std::printf("  main loop %.1f %% of a core recording, %.1f %% playing; %.2f fps recording, %.2f fps playing\n",
                100 * recMain / secs, 100 * playMain / secs, double(framesRun - frames0) / secs, playFps);
    tearDownForTests();
    return 0;
}

// The frame number as 16 blocks of 20x20 pixels, white for a 1 bit, across the top of the picture.
static void paintNumber(uint16_t* picture, int n) {
    for (int bit = 0; bit < 16; bit++)
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 20; x++) picture[y * 320 + bit * 20 + x] = (n >> bit) & 1 ? 0xFFFF : 0x0000;
}

static int readNumber(const AVFrame* f) {
    int n = 0;
    for (int bit = 0; bit < 16; bit++)
        if (f->data[0][10 * f->linesize[0] + bit * 20 + 10] > 128) n |= 1 << bit;
    return n;
}

static int latency(int secs) {
    const int port = 23000 + (getpid() % 2000);
    const std::string url = "udp://127.0.0.1:" + std::to_string(port);
    const int count = secs * 25;
    std::vector<uint32_t> sentAt(count + 1, 0), decodedAt(count + 1, 0);
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        AVFormatContext* in = nullptr;
        AVDictionary* o = nullptr;
        av_dict_set(&o, "timeout", "5000000", 0);
        av_dict_set(&o, "fflags", "nobuffer", 0);
        av_dict_set(&o, "probesize", "32768", 0);
        if (avformat_open_input(&in, url.c_str(), nullptr, &o) < 0) return;
        av_dict_free(&o);
        avformat_find_stream_info(in, nullptr);
        const AVCodec* dec = avcodec_find_decoder(in->streams[0]->codecpar->codec_id);
        AVCodecContext* ctx = avcodec_alloc_context3(dec);
        avcodec_parameters_to_context(ctx, in->streams[0]->codecpar);
        ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(ctx, dec, nullptr);
        AVPacket* pkt = av_packet_alloc();
        AVFrame* f = av_frame_alloc();
        while (!stop && av_read_frame(in, pkt) >= 0) {
            avcodec_send_packet(ctx, pkt);
            av_packet_unref(pkt);
            while (avcodec_receive_frame(ctx, f) >= 0) {
                const int n = readNumber(f);
                if (n > 0 && n <= count && !decodedAt[n]) decodedAt[n] = SDL_GetTicks();
            }
        }
        av_frame_free(&f);
        av_packet_free(&pkt);
        avcodec_free_context(&ctx);
        avformat_close_input(&in);
    });
    SDL_Delay(300);
    std::vector<uint16_t> picture(320 * 240, 0x39E7);
    recorder.start(url.c_str());
    for (int n = 1; n <= count; n++) {
        paintNumber(picture.data(), n);
        sentAt[n] = SDL_GetTicks();
        recorder.submit(picture.data(), 320, sentAt[n]);
        recorder.update();
        SDL_Delay(40);
    }
    SDL_Delay(500);
    recorder.finish();
    stop = true;
    receiver.join();
    std::vector<uint32_t> ms;
    for (int n = 1; n <= count; n++)
        if (decodedAt[n]) ms.push_back(decodedAt[n] - sentAt[n]);
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("no frame received\n");
        return 1;
    }
    std::printf("udp latency over %zu of %d frames: median %u ms, 90th percentile %u ms, max %u ms\n", ms.size(), count,
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    return 0;
}

int main(int argc, char** argv) {
    SDL_Init(SDL_INIT_TIMER);
    if (argc == 5 && std::strcmp(argv[1], "cpu") == 0) return cpu(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc == 3 && std::strcmp(argv[1], "latency") == 0) return latency(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: record_figures cpu TARGET SCALE SECONDS | latency SECONDS\n");
    return 2;
}
