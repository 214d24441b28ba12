// Live sources on a deck and live sampling, with real FFmpeg inputs: generated sources, an MPEG-TS
// stream sent over UDP by an ffmpeg process of the test, and a camera that is not there. The
// decoding threads run in real time while the frames run on the fake clock, so every wait is a
// condition polled under a generous deadline.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "app/MainLoop.h"
#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "live/LiveSource.h"
#include "live/NoSignal.h"
#include "live/Sampler.h"
#include "mixer/Decks.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

namespace {

constexpr double DeadlineSeconds = 60;

const uint16_t* deckPicture(int deck) { return deckFrames + deck * FramePixels; }
bool showsNoSignal(int deck) { return std::memcmp(deckPicture(deck), noSignalPicture(), FrameBytes) == 0; }
std::vector<uint16_t> copyOf(const uint16_t* p) { return std::vector<uint16_t>(p, p + FramePixels); }
bool same(const uint16_t* a, const uint16_t* b) { return std::memcmp(a, b, FrameBytes) == 0; }

LiveSource* liveOn(int deck) {
    const int32_t t = decks.decks[deck].track;
    return t >= 0 && t < TrackSlots ? dynamic_cast<LiveSource*>(tracks[t].source) : nullptr;
}

// The run's sources given as --live, the "Live" playlist loaded from the chooser.
struct LiveRun {
    Harness h;
    explicit LiveRun(const std::vector<std::string>& sources, bool letterbox = false, const std::string& xml = "")
        : h(options(xml)) {
        launchOptions = LaunchOptions();
        launchOptions.liveSources = sources;
        launchOptions.liveLetterbox = letterbox;
        h.startUp();
        h.loadFirstPlaylist();
    }
    ~LiveRun() { launchOptions = LaunchOptions(); }
    static HarnessOptions options(const std::string& xml) {
        HarnessOptions o;
        o.start = false;
        o.playlistsXml = xml;
        return o;
    }
    // Runs frames until done() holds, polling the real clock.
    bool until(const std::function<bool()>& done, double seconds = DeadlineSeconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            h.frame();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool playing(int deck) {
        return until([deck] { return liveOn(deck) && liveOn(deck)->hasSignal() && !showsNoSignal(deck); });
    }
    // One frame after the source decoded a new picture, so that each frame shows a new one.
    void freshFrame(int deck) {
        LiveSource* s = liveOn(deck);
        const int64_t before = s ? s->picturesDecoded() : 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (s && s->picturesDecoded() == before && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        h.frame();
    }
};

// An ffmpeg process streaming FFmpeg's test picture as MPEG-TS to 127.0.0.1:port in real time,
// killed at the latest when the test ends.
struct Sender {
    pid_t pid = -1;
    void start(int port);
    void kill();
    ~Sender() { kill(); }
};

void Sender::start(int port) {
    const std::string target = "udp://127.0.0.1:" + std::to_string(port) + "?pkt_size=1316";
    pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "quiet", "-re", "-f", "lavfi", "-i",
               "testsrc2=size=640x480:rate=25", "-c:v", "mpeg2video", "-g", "10", "-q:v", "4", "-f", "mpegts",
               target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

void Sender::kill() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

// A virtual X screen of 640x480 on a display number no other server holds, stopped when the test
// ends.
struct VirtualScreen {
    pid_t pid = -1;
    std::string display;
    bool start() {
        struct stat info;
        int n = 300 + getpid() % 400;
        while (stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &info) == 0 ||
               stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &info) == 0)
            n++;
        display = ":" + std::to_string(n);
        pid = fork();
        if (pid == 0) {
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (stat(socket.c_str(), &info) != 0) {
            if (std::chrono::steady_clock::now() > end || waitpid(pid, nullptr, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    ~VirtualScreen() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

}  // namespace

TEST(LiveInput, EntriesAreCheckedAgainstTheAllowList) {
    struct Case {
        const char* entry;
        bool accepted;
        const char* format;
        const char* input;
    };
    const Case cases[] = {
        {"live:udp://127.0.0.1:5000", true, "", "udp://127.0.0.1:5000"},
        {"live:srt://host:9000?mode=caller", true, "", "srt://host:9000?mode=caller"},
        {"live:rtsp://cam/stream", true, "", "rtsp://cam/stream"},
        {"live:https://example.org/a.m3u8", true, "", "https://example.org/a.m3u8"},
        {"live:v4l2:/dev/video0", true, "v4l2", "/dev/video0"},
        {"live:x11grab::0.0+100,200", true, "x11grab", ":0.0+100,200"},
        {"live:lavfi:testsrc2=size=640x480:rate=25", true, "lavfi", "testsrc2=size=640x480:rate=25"},
        {"live:/media/show/loop.mp4", true, "", "/media/show/loop.mp4"},
        {"live:ftp://example.org/a.ts", false, "", ""},
        {"live:file:///etc/passwd", false, "", ""},
        {"live:pulse:default", false, "", ""},
        {"live:v4l2:", false, "", ""},
        {"live:", false, "", ""},
        {"clip.q18", false, "", ""},
    };
    for (const Case& c : cases) {
        LiveAddress parts;
        std::string why;
        EXPECT_EQ(parseLiveEntry(c.entry, parts, &why), c.accepted) << c.entry << ": " << why;
        if (!c.accepted) {
            EXPECT_FALSE(why.empty()) << c.entry;
            continue;
        }
        EXPECT_EQ(parts.format, c.format) << c.entry;
        EXPECT_EQ(parts.input, c.input) << c.entry;
    }
    // The fuzzer's corpus, replayed.
    const std::string corpus = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/live_entry_fuzz";
    DIR* folder = opendir(corpus.c_str());
    ASSERT_NE(folder, nullptr) << corpus;
    int replayed = 0;
    while (dirent* e = readdir(folder)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(corpus + "/" + e->d_name, std::ios::binary);
        const std::string entry((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LiveAddress parts;
        std::string why;
        EXPECT_TRUE(parseLiveEntry(entry, parts, &why) ? !parts.input.empty() : !why.empty()) << e->d_name;
        replayed++;
    }
    closedir(folder);
    EXPECT_GT(replayed, 0);
}

TEST(LiveInput, PlaylistsKeepLiveEntriesAndTheLivePlaylistIsNeverSaved) {
    const std::string xml = playlistsXml({{"Stage", {"live:lavfi:testsrc2", "live:ftp://example.org/a.ts"}}});
    LiveRun run({"lavfi:testsrc2=size=320x240:rate=25"}, false, xml);
    ASSERT_EQ(mix.playlistCount, 2);
    EXPECT_EQ(mix.playlists[0].name, "Live");
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "live:lavfi:testsrc2=size=320x240:rate=25");
    EXPECT_EQ(mix.playlists[1].name, "Stage");
    EXPECT_EQ(mix.playlists[1].tracks[0].missing, 0);
    EXPECT_EQ(mix.playlists[1].tracks[1].missing, 1);  // a protocol that is not allowed
    ASSERT_TRUE(mix.saveXML());
    EXPECT_EQ(run.h.readFile("data/playlists.xml"), xml);
}

TEST(LiveInput, EditorBrowserOffersTheScreenAndCamerasAsLiveRows) {
    LiveRun run({});
    const std::string driver = getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "";
    const char* display = getenv("DISPLAY");
    const std::string oldDisplay = display ? display : "";
    setenv("DISPLAY", ":93", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);  // the program on a screen
    mix.readDir(videosRoot(mix));
    setenv("SDL_VIDEODRIVER", driver.c_str(), 1);
    if (display) setenv("DISPLAY", oldDisplay.c_str(), 1);
    else unsetenv("DISPLAY");
    std::vector<std::string> rows(mix.browserNames, mix.browserNames + mix.browserCount);
    EXPECT_NE(std::find(rows.begin(), rows.end(), "live:x11grab::93"), rows.end());
    struct stat info;
    const bool camera = stat("/dev/video0", &info) == 0;
    EXPECT_EQ(std::find(rows.begin(), rows.end(), "live:v4l2:/dev/video0") != rows.end(), camera);
    EXPECT_EQ(rows.back(), "live:");  // the row that types a source
    // Dropped into the playlist being edited, a row is stored as the entry it is.
    mix.editPlaylist = 0;
    mix.playlists[0].trackCount = 0;
    mix.insertTrack("live:x11grab::93", 0, 0);
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "live:x11grab::93");
    // A typed source: refused ones stay on the keyboard, an allowed one goes last.
    for (const char* typed : {"ftp://example.org/a.ts\r", "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\budp://@:5000\r"}) {
        if (mix.editorView != NewPlaylistView) {
            mix.newName.clear();
            mix.typingSource = 1;
            mix.editorView = NewPlaylistView;
        }
        for (const char* c = typed; *c; c++) mix.typeCharacter(*c);
        if (std::string(typed).rfind("ftp", 0) == 0) {
            EXPECT_EQ(mix.editorView, NewPlaylistView);
            EXPECT_STREQ(notice.text, "not a live source: ftp://example.org/a.ts");
        }
    }
    EXPECT_EQ(mix.editorView, TracksView);
    ASSERT_EQ(mix.playlists[0].trackCount, 2);
    EXPECT_EQ(mix.playlists[0].tracks[1].file, "live:udp://@:5000");
}

TEST(LiveInput, GeneratedSourcePlaysLiveAndFreezeHoldsIt) {
    LiveRun run({"lavfi:testsrc2=size=640x480:rate=25"});
    ASSERT_TRUE(run.playing(1));
    EXPECT_EQ(tracks[decks.decks[1].track].frameCount, 1);
    const std::vector<uint16_t> first = copyOf(deckPicture(1));
    EXPECT_TRUE(run.until([&] { return !same(deckPicture(1), first.data()); })) << "the picture never moved";
    EXPECT_EQ(decks.decks[1].position, 0);

    run.h.setDown(ButtonII, true);
    run.h.frame();
    const std::vector<uint16_t> held = copyOf(deckPicture(1));
    const int64_t decoded = liveOn(1)->picturesDecoded();
    ASSERT_TRUE(run.until([&] { return liveOn(1)->picturesDecoded() >= decoded + 5; }));
    run.h.frame();
    EXPECT_TRUE(same(deckPicture(1), held.data())) << "freeze let the picture move";
    run.h.setDown(ButtonII, false);
    EXPECT_TRUE(run.until([&] { return !same(deckPicture(1), held.data()); }));
}

TEST(LiveInput, WidePicturesAreCroppedOrLetterboxed) {
    for (bool letterbox : {false, true}) {
        LiveRun run({"lavfi:color=c=red:size=640x360:rate=25"}, letterbox);
        ASSERT_TRUE(run.playing(1)) << letterbox;
        auto red = [](uint16_t p) { return (p >> 11) >= 28 && ((p >> 5) & 63) <= 6 && (p & 31) <= 3; };
        const uint16_t* p = deckPicture(1);
        EXPECT_TRUE(red(p[120 * FrameWidth + 160])) << std::hex << p[120 * FrameWidth + 160];
        // 16:9 whole inside 320x240 is 320x180: 30 black rows above and below.
        EXPECT_EQ(red(p[5 * FrameWidth + 160]), !letterbox) << std::hex << p[5 * FrameWidth + 160];
        EXPECT_EQ(red(p[235 * FrameWidth + 160]), !letterbox);
        EXPECT_TRUE(red(p[35 * FrameWidth + 160]));
    }
}

TEST(LiveInput, UdpStreamLostAndBackWhileTheOtherDeckPlaysOn) {
    const int port = freeUdpPort();
    const std::string url = "udp://127.0.0.1:" + std::to_string(port);
    Sender sender;
    sender.start(port);
    LiveRun run({"lavfi:testsrc2=size=320x240:rate=25", url});
    decks.decks[1].track = 1;  // deck 1 the stream, deck 0 the generator, blended
    decks.blendMode = 2;
    ASSERT_TRUE(run.playing(1));
    ASSERT_TRUE(run.playing(0));

    sender.kill();
    const std::string notice = "live: no signal from " + url + ": stalled";
    EXPECT_TRUE(run.until([&] { return showsNoSignal(1) && run.h.log().find(notice) != std::string::npos; }))
        << run.h.log();
    EXPECT_TRUE(liveOn(0)->hasSignal());
    EXPECT_FALSE(showsNoSignal(0));

    sender.start(port);
    EXPECT_TRUE(run.playing(1)) << "the stream did not come back";
}

TEST(LiveInput, XScreenRegionPlays) {
    VirtualScreen screen;
    ASSERT_TRUE(screen.start()) << "Xvfb did not start";
    LiveRun run({"x11grab:" + screen.display + ".0+0,0"});
    EXPECT_TRUE(run.playing(1)) << run.h.log();
}

TEST(LiveInput, MissingCameraShowsNoSignalWithTheReason) {
    struct stat info;
    if (stat("/dev/video0", &info) == 0) GTEST_SKIP() << "a camera is present";
    LiveRun run({"v4l2:/dev/video0"});
    const std::string notice = "live: no signal from v4l2:/dev/video0: cannot open: No such file or directory";
    EXPECT_TRUE(run.until([&] { return run.h.log().find(notice) != std::string::npos; })) << run.h.log();
    EXPECT_TRUE(showsNoSignal(1));
}

TEST(LiveSampling, TakesHoldExactlyTheFramesShownForWholeBeats) {
    struct Case {
        bool tempo;
        double heldBeats;  // with a tempo; 0 a short press
        uint32_t heldMs;   // without one; 0 a short press
        int expectBeats;   // with a tempo
    };
    const Case cases[] = {
        {true, 0, 0, 4}, {true, 2.5, 0, 2}, {true, 5.5, 0, 4}, {false, 0, 0, 0}, {false, 0, 1000, 0},
    };
    LiveRun run({"lavfi:testsrc2=size=320x240:rate=50"});
    ASSERT_TRUE(run.playing(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "tempo " << c.tempo << " beats " << c.heldBeats << " ms " << c.heldMs);
        tempoClock = TempoClock();
        if (c.tempo) {  // four taps half a second apart, the last one now
            for (int i = 3; i >= 0; i--) tempoClock.tap(platform::ticks() - 500.0 * i);
            ASSERT_NEAR(tempoClock.bpm(), 120, 0.5);
        }
        decks.decks[1].track = 0;
        decks.selectedDeck = 1;
        std::map<int64_t, std::vector<uint16_t>> shown;
        std::map<int64_t, uint32_t> tick;
        const uint32_t pressMs = platform::ticks();
        const double startBeat = std::floor(tempoClock.beatAt(pressMs)) + 1;
        run.h.keyDown(SDLK_F7);
        bool held = true;
        for (int f = 0; f < 600 && (held || sampler.sampling(1)); f++) {
            run.freshFrame(1);
            shown[framesRun] = copyOf(deckPicture(1));
            tick[framesRun] = platform::ticks();
            const bool release = c.tempo ? tempoClock.beatAt(platform::ticks()) >= startBeat + c.heldBeats
                                         : platform::ticks() - pressMs >= c.heldMs;
            if (held && release) {
                run.h.keyUp(SDLK_F7);
                held = false;
            }
        }
        ASSERT_FALSE(sampler.sampling(1));
        run.h.frame();
        shown[framesRun] = copyOf(deckPicture(1));

        const int n = sampler.lastFrames;
        const int64_t start = sampler.lastStartFrame;
        ASSERT_EQ(decks.decks[1].track, sampler.lastSlot);
        const SampledClip* clip = dynamic_cast<const SampledClip*>(tracks[sampler.lastSlot].source);
        ASSERT_NE(clip, nullptr);
        ASSERT_EQ(clip->frameCount(), n);
        int expected = 0;
        for (auto& [frame, ms] : tick) {
            if (frame < start) continue;
            if (c.tempo ? tempoClock.beatAt(ms) < startBeat + c.expectBeats
                        : c.heldMs == 0 ? ms < tick[start] + UntimedShortTakeMs : frame < sampler.lastEndFrame)
                expected++;
        }
        EXPECT_EQ(n, expected);
        if (c.tempo) {
            EXPECT_GE(tempoClock.beatAt(tick[start]), startBeat);
        }
        for (int i = 0; i < n; i++) ASSERT_TRUE(same(clip->picture(i), shown[start + i].data())) << "frame " << i;
        // The take plays at the next frame.
        EXPECT_TRUE(same(shown[sampler.lastEndFrame + 1].data(), clip->picture(0)));
    }
}

TEST(LiveSampling, TakeIsSavedToTheSampledPlaylistAndPlaysFromRamWhenSavingFails) {
    LiveRun run({"lavfi:testsrc2=size=320x240:rate=50"});
    ASSERT_TRUE(run.playing(1));
    run.h.keyDown(SDLK_F7);
    run.freshFrame(1);
    run.h.keyUp(SDLK_F7);
    for (int f = 0; f < 200 && sampler.sampling(1); f++) run.freshFrame(1);
    ASSERT_FALSE(sampler.sampling(1));
    ASSERT_TRUE(run.until([] { return !sampler.lastFile.empty(); }, 300)) << run.h.log();
    const std::string file = sampler.lastFile;
    EXPECT_EQ(file.rfind("sampled/", 0), 0u);
    const std::string xml = run.h.readFile("data/playlists.xml");
    EXPECT_NE(xml.find("<name>Sampled</name>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<track>" + file + "</track>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("Live"), std::string::npos) << xml;

    // The file loads and plays its frames, close to the take's (a lossy clip).
    const SampledClip* clip = dynamic_cast<const SampledClip*>(tracks[sampler.lastSlot].source);
    ASSERT_NE(clip, nullptr);
    std::unique_ptr<Track> loaded(new Track);
    loaded->assign(appState.workingDir, file);
    int step = 1;
    for (int i = 0; i < 100000 && step == 1; i++) step = loaded->loadStep(800);
    ASSERT_EQ(step, 2) << loaded->loadError;
    ASSERT_EQ(loaded->frameCount, clip->frameCount());
    for (int f = 0; f < loaded->frameCount; f++) {
        loaded->decodeFrame(1, f, 0);
        double squared = 0;
        for (int p = 0; p < FramePixels; p++) {
            const uint16_t a = deckPicture(1)[p], b = clip->picture(f)[p];
            const int dr = (a >> 11) - (b >> 11), dg = ((a >> 5) & 63) - ((b >> 5) & 63), db = (a & 31) - (b & 31);
            squared += dr * dr * 64 + dg * dg * 16 + db * db * 64;  // as 8-bit levels, roughly
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (3.0 * FramePixels) + 1e-9));
        EXPECT_GT(psnr, 30) << "frame " << f;
    }
    loaded->clear();

    // No folder to save in: the notice, and the take plays from RAM all the same.
    ASSERT_EQ(system(("rm -rf '" + appState.workingDir + "/videos/sampled' && touch '" + appState.workingDir +
                      "/videos/sampled'").c_str()),
              0);
    // This take by OSC, held for half a second, with its feedback.
    static std::map<std::string, int> feedback;
    auto send = [](const char* address, char, const OscArg& v) { feedback[address] = v.i; };
    pollOscFeedback(true, send);
    EXPECT_EQ(feedback["/loopmixer/deck/1/sampling"], 0);
    decks.decks[1].track = 0;
    int32_t on = 1, off = 0;
    void* onArgs[] = {&on};
    void* offArgs[] = {&off};
    ASSERT_TRUE(handleOscMessage("/loopmixer/deck/1/sample", "i", onArgs, 1));
    const uint32_t pressMs = platform::ticks();
    while (platform::ticks() - pressMs < 500) run.freshFrame(1);
    pollOscFeedback(false, send);
    EXPECT_EQ(feedback["/loopmixer/deck/1/sampling"], 1);
    ASSERT_TRUE(handleOscMessage("/loopmixer/deck/1/sample", "i", offArgs, 1));
    run.h.frame();
    pollOscFeedback(false, send);
    EXPECT_EQ(feedback["/loopmixer/deck/1/sampling"], 0);
    EXPECT_GE(findMidiTarget("sample deck 0"), 0);
    EXPECT_GE(findMidiTarget("sample deck 1"), 0);
    EXPECT_TRUE(run.until([] { return !sampler.savesPending(); }, 300));
    EXPECT_NE(run.h.log().find("sampled clip not saved: no folder to save in"), std::string::npos);
    EXPECT_STREQ(notice.text, "sampling: clip not saved: no folder to save in");
    run.h.frame();
    const SampledClip* kept = dynamic_cast<const SampledClip*>(tracks[decks.decks[1].track].source);
    ASSERT_NE(kept, nullptr);
    const int n = kept->frameCount();  // the frame drew a position, then stepped past it
    EXPECT_TRUE(same(deckPicture(1), kept->picture((decks.decks[1].position + n - 1) % n)));
}
