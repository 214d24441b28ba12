// The projector: the scaler against the fit and look rules, and the real projector program on a
// real X server (Xvfb, one wide screen) showing the instrument's clean picture, read back with
// XGetImage; closing and reopening over OSC; a killed projector reported while the instrument
// plays on; a refused place at launch; a killed instrument taking its projector with it and
// leaving nothing in /dev/shm.
#include <gtest/gtest.h>
#include <lo/lo.h>

// Xlib names a type Screen, as the instrument names its screens.
#define Screen XlibScreen
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Screen
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ProjectorControls.h"
#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/HintLine.h"
#include "harness/Harness.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "projector/ProjectorLink.h"
#include "projector/ProjectorScale.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Calls done() until it holds or the seconds run out; the machine may be busy.
template <typename F>
bool waitFor(F done, double seconds = 20) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

uint32_t widen(uint16_t p) {
    const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// Where the rule puts the picture: origin and length per axis, worked out by hand per case.
struct Geometry {
    int ox, oy, lx, ly;
};

// The expected output: sharp takes the nearest source pixel, smooth mixes the four around the
// output pixel's centre; outside the picture black. Pixels as 0x00RRGGBB.
std::vector<uint32_t> expected(const std::vector<uint16_t>& src, int w, int h, int look, Geometry g) {
    std::vector<uint32_t> out(size_t(w) * h, 0);
    for (int y = std::max(0, g.oy); y < std::min(h, g.oy + g.ly); y++)
        for (int x = std::max(0, g.ox); x < std::min(w, g.ox + g.lx); x++) {
            uint32_t& o = out[size_t(y) * w + x];
            if (look == LookSharp) {
                o = widen(src[size_t((y - g.oy) * 240 / g.ly) * 320 + size_t((x - g.ox) * 320 / g.lx)]);
                continue;
            }
            const double sx = std::clamp((x - g.ox + 0.5) * 320.0 / g.lx - 0.5, 0.0, 319.0);
            const double sy = std::clamp((y - g.oy + 0.5) * 240.0 / g.ly - 0.5, 0.0, 239.0);
            const int x0 = int(sx), y0 = int(sy), x1 = std::min(x0 + 1, 319), y1 = std::min(y0 + 1, 239);
            const double fx = sx - x0, fy = sy - y0;
            uint32_t p = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                auto c = [&](int xx, int yy) { return double(widen(src[size_t(yy) * 320 + xx]) >> shift & 255); };
                const double v = (c(x0, y0) * (1 - fx) + c(x1, y0) * fx) * (1 - fy) + (c(x0, y1) * (1 - fx) + c(x1, y1) * fx) * fy;
                p |= uint32_t(std::lround(v)) << shift;
            }
            o = p;
        }
    return out;
}

// Counts pixels off by more than tolerance in any channel, and names the first.
int differences(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want, int w, int tolerance, std::string& first) {
    int n = 0;
    for (size_t i = 0; i < want.size(); i++) {
        bool off = false;
        for (int shift = 0; shift < 24; shift += 8)
            off |= std::abs(int(got[i] >> shift & 255) - int(want[i] >> shift & 255)) > tolerance;
        if (!off) continue;
        if (n++ == 0) {
            std::ostringstream s;
            s << "first at (" << i % size_t(w) << "," << i / size_t(w) << "): got " << std::hex << got[i] << " want " << want[i];
            first = s.str();
        }
    }
    return n;
}

TEST(ProjectorScale, EveryFitAndLookFollowsItsRule) {
    std::mt19937 random(25);
    std::vector<uint16_t> src(320 * 240);
    for (uint16_t& p : src) p = uint16_t(random());
    struct Case {
        int w, h, fit, look;
        Geometry g;
    };
    const Case cases[] = {
        {1280, 720, FitLetterbox, LookSharp, {160, 0, 960, 720}},     // factor 3, bars at the sides
        {1920, 1080, FitLetterbox, LookSmooth, {240, 0, 1440, 1080}}, // 4:3 to the full height
        {1000, 600, FitFill, LookSharp, {-140, -180, 1280, 960}},     // factor 4 covers, centred
        {800, 800, FitFill, LookSmooth, {-133, 0, 1067, 800}},
        {700, 500, FitStretch, LookSharp, {30, 10, 640, 480}},        // whole factors per axis
        {500, 300, FitStretch, LookSmooth, {0, 0, 500, 300}},
        {300, 200, FitLetterbox, LookSharp, {17, 0, 266, 200}},       // smaller: nearest to 4:3
        {1024, 1000, FitLetterbox, LookSmooth, {0, 116, 1024, 768}},  // bars above and below
    };
    ProjectorScaler scaler;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + projectorFitName(c.fit) + " " +
                     projectorLookName(c.look));
        std::vector<uint32_t> out(size_t(c.w) * c.h, 0xDEADBEEF);
        scaler.scale(src.data(), out.data(), c.w, c.h, c.w, c.fit, c.look);
        std::string first;
        EXPECT_EQ(differences(out, expected(src, c.w, c.h, c.look, c.g), c.w, c.look == LookSharp ? 0 : 2, first), 0) << first;
    }
}

TEST(ProjectorSettings, TheOptionsLinesCycleFitAndLookAndPrefsKeepThem) {
    Harness h;
    h.frame(41);
    appState.screen = Screen::Options;
    h.frame();
    for (int i = 0; i < 2; i++) {  // letterbox -> fill -> stretch
        h.touchDown(180, 188);
        h.frame();
        h.touchUp();
        h.frame();
    }
    h.touchDown(180, 202);  // sharp -> smooth
    h.frame();
    h.touchUp();
    h.frame();
    EXPECT_EQ(options.projectorFit, FitStretch);
    EXPECT_EQ(options.projectorLook, LookSmooth);
    h.tap(ButtonX);  // save and leave
    h.frame();
    const std::string prefs = h.readFile("data/prefs.xml");
    EXPECT_NE(prefs.find("\t<projectorfit>2</projectorfit>\n\t<projectorlook>1</projectorlook>\n</all>"), std::string::npos);
    options.projectorFit = options.projectorLook = 0;
    options.loadPrefs();
    EXPECT_EQ(options.projectorFit, FitStretch);
    EXPECT_EQ(options.projectorLook, LookSmooth);
}

// A free display number, its Xvfb started with one wide screen (two 1152x768 monitors side by
// side) and stopped at the end.
class Xvfb {
public:
    Xvfb() {
        for (int n = 40 + getpid() % 200; n < 400 && pid < 0; n++) {
            if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
            if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) continue;
            name = ":" + std::to_string(n);
            const char* argv[] = {"Xvfb", name.c_str(), "-screen", "0", "2304x768x24", "-nolisten", "tcp", nullptr};
            posix_spawn_file_actions_t quiet;
            posix_spawn_file_actions_init(&quiet);
            posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
            if (posix_spawnp(&pid, "Xvfb", &quiet, nullptr, const_cast<char* const*>(argv), environ) != 0) pid = -1;
            posix_spawn_file_actions_destroy(&quiet);
            if (pid > 0 && !waitFor([&] {
                    display = XOpenDisplay(name.c_str());
                    return display != nullptr || waitpid(pid, nullptr, WNOHANG) == pid;
                }))
                display = nullptr;
            if (!display) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
                pid = -1;
            }
        }
    }
    ~Xvfb() {
        if (display) XCloseDisplay(display);
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    // The root window's pixels in a rectangle, as 0x00RRGGBB.
    std::vector<uint32_t> read(int x, int y, int w, int h) {
        std::vector<uint32_t> out;
        XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!image) return out;
        out.resize(size_t(w) * h);
        for (int j = 0; j < h; j++)
            for (int i = 0; i < w; i++) out[size_t(j) * w + i] = uint32_t(XGetPixel(image, i, j)) & 0xFFFFFF;
        XDestroyImage(image);
        return out;
    }
    // A window of the root mapped with this size (0 for none).
    Window windowShown(int w, int h) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return false;
        Window shown = 0;
        for (unsigned i = 0; i < count && !shown; i++) {
            XWindowAttributes a;
            if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.width == w && a.height == h)
                shown = children[i];
        }
        if (children) XFree(children);
        return shown;
    }
    std::string name;
    pid_t pid = -1;
    Display* display = nullptr;
};

bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

std::string projectorProgram() { return std::string(LOOPMIXER_BINARY_DIR) + "/loopmixer-projector"; }

std::map<std::string, int> feedback;

int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void*) {
    if (argc == 1 && types[0] == 'i') feedback[path] = argv[0]->i;
    return 0;
}

// The instrument in this process (headless, on the harness's clock) with its projector on the
// Xvfb, the OSC port open and its feedback read.
class ProjectorOnX : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(x.display, nullptr) << "Xvfb did not start";
        listener = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(listener, nullptr, nullptr, record, nullptr);
        const int port = freeUdpPort();
        launchOptions = LaunchOptions();
        launchOptions.oscPort = port;
        launchOptions.oscFeedback = {"127.0.0.1:" + std::to_string(lo_server_get_port(listener))};
        HarnessOptions o;
        o.demoClips = true;
        h.reset(new Harness(o));
        ASSERT_TRUE(h->started);
        app = lo_address_new("127.0.0.1", std::to_string(port).c_str());
        // The instrument's own window stays headless; the projector's goes to the X server.
        savedDriver = getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "";
        unsetenv("SDL_VIDEODRIVER");
        setenv("DISPLAY", x.name.c_str(), 1);
        projectorLink.program = projectorProgram();
        launchOptions.projector = "1024x768+1280+0";
        feedback.clear();
    }
    void TearDown() override {
        h.reset();
        projectorLink.program.clear();
        launchOptions = LaunchOptions();
        if (!savedDriver.empty()) setenv("SDL_VIDEODRIVER", savedDriver.c_str(), 1);
        if (app) lo_address_free(app);
        if (listener) lo_server_free(listener);
    }
    int feedbackOf(const char* address) {
        while (lo_server_recv_noblock(listener, 0) > 0) {
        }
        return feedback.count(address) ? feedback[address] : -1;
    }
    // The playing picture, clean: overlay hidden, loading done, nothing over it.
    std::vector<uint16_t> playOneFrame() {
        decks.overlayShown = 0;
        notice = Notice();
        hideHints();
        h->frame();
        std::vector<uint16_t> picture(320 * 240);
        for (int y = 0; y < 240; y++)
            for (int i = 0; i < 320; i++) picture[size_t(y) * 320 + i] = h->pixel(i, y);
        return picture;
    }
    Xvfb x;
    std::unique_ptr<Harness> h;
    lo_server listener = nullptr;
    lo_address app = nullptr;
    std::string savedDriver;
};

TEST_F(ProjectorOnX, ShowsTheCleanPictureScaledLetterboxSharpAndFillSmooth) {
    h->frame(41);
    h->loadFirstPlaylist();
    openProjector();
    ASSERT_TRUE(projectorLink.isOpen()) << notice.text;
    struct Step {
        int fit, look;
        Geometry g;
        int tolerance;
    };
    // 1024x768: factor 3 (960x720) in the middle; fill covers it exactly at 4:3.
    const Step steps[] = {{FitLetterbox, LookSharp, {32, 24, 960, 720}, 0}, {FitFill, LookSmooth, {0, 0, 1024, 768}, 2}};
    for (const Step& s : steps) {
        options.projectorFit = s.fit;
        options.projectorLook = s.look;
        const std::vector<uint16_t> picture = playOneFrame();
        const std::vector<uint32_t> want = expected(picture, 1024, 768, s.look, s.g);
        int wrong = -1;
        std::string first;
        waitFor([&] {
            wrong = differences(x.read(1280, 0, 1024, 768), want, 1024, s.tolerance, first);
            return wrong == 0;
        });
        EXPECT_EQ(wrong, 0) << projectorFitName(s.fit) << " " << projectorLookName(s.look) << ": " << first;
    }
    // A projector held up skips to the newest picture, and the instrument plays on meanwhile; off
    // the Mix screen that last mixed picture stays.
    kill(projectorLink.pid(), SIGSTOP);
    for (int i = 0; i < 30; i++) playOneFrame();
    const std::vector<uint16_t> last = playOneFrame();
    kill(projectorLink.pid(), SIGCONT);
    appState.screen = Screen::Options;
    h->frame(3);
    std::string first;
    std::vector<uint32_t> want = expected(last, 1024, 768, LookSmooth, {0, 0, 1024, 768});
    EXPECT_TRUE(waitFor([&] { return differences(x.read(1280, 0, 1024, 768), want, 1024, 2, first) == 0; })) << first;
}

TEST_F(ProjectorOnX, ClosesAndReopensOverOscAndAKilledProjectorIsReported) {
    launchOptions.projector = "0";  // the one monitor Xvfb lists: the whole screen
    h->frame();
    EXPECT_EQ(feedbackOf("/loopmixer/projector"), 0);
    pid_t shown = -1;
    for (int open : {1, 0, 1}) {
        lo_send(app, "/loopmixer/projector", "i", open);
        EXPECT_TRUE(waitFor([&] {
            h->frame();
            return feedbackOf("/loopmixer/projector") == open;
        })) << "feedback of " << open;
        EXPECT_EQ(projectorLink.isOpen(), open == 1);
        if (open) {
            EXPECT_NE(projectorLink.pid(), shown) << "a new projector";
            shown = projectorLink.pid();
        } else {
            EXPECT_TRUE(waitFor([&] {
                h->frame();
                return !alive(shown);
            })) << "the closed projector leaves";
        }
    }
    ASSERT_GT(shown, 0);
    kill(shown, SIGKILL);
    EXPECT_TRUE(waitFor([&] {
        h->frame();
        return feedbackOf("/loopmixer/projector") == 0;
    }));
    EXPECT_STREQ(noticeShown(uint32_t(currentTick)), "projector closed: killed by signal 9 (Killed)");
    EXPECT_NE(h->log().find("projector closed: killed by signal 9 (Killed)"), std::string::npos);
    EXPECT_NE(h->log().find("projector opened: 2304x768+0+0 (letterbox, sharp)"), std::string::npos);
    EXPECT_EQ(h->frame(), 1) << "the instrument plays on";
    lo_send(app, "/loopmixer/projector", "i", 1);
    EXPECT_TRUE(waitFor([&] {
        h->frame();
        return feedbackOf("/loopmixer/projector") == 1;
    })) << "and the control opens it again";
}

TEST_F(ProjectorOnX, AWindowResizedShowsThePictureAtItsNewSize) {
    launchOptions.projector = "window";
    options.projectorLook = LookSmooth;
    h->frame(41);
    h->loadFirstPlaylist();
    openProjector();
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = x.windowShown(640, 480)) != 0; }));
    XResizeWindow(x.display, window, 900, 400);
    XSync(x.display, False);
    ASSERT_TRUE(waitFor([&] { return x.windowShown(900, 400) != 0; }));
    XWindowAttributes a;
    XGetWindowAttributes(x.display, window, &a);
    // 4:3 to the full height of 400: 533 wide from x 183.
    const std::vector<uint32_t> want = expected(playOneFrame(), 900, 400, LookSmooth, {183, 0, 533, 400});
    std::string first;
    EXPECT_TRUE(waitFor([&] { return differences(x.read(a.x, a.y, 900, 400), want, 900, 2, first) == 0; })) << first;
}

TEST_F(ProjectorOnX, AWindowWhoseDisplayGoesAwayIsReported) {
    launchOptions.projector = "window";
    h->frame();
    openProjector();
    ASSERT_TRUE(projectorLink.isOpen());
    ASSERT_TRUE(waitFor([&] {
        h->frame();
        return x.windowShown(640, 480);
    }));
    XCloseDisplay(x.display);
    x.display = nullptr;
    kill(x.pid, SIGKILL);
    waitpid(x.pid, nullptr, 0);
    x.pid = -1;
    EXPECT_TRUE(waitFor([&] {
        h->frame();
        return !projectorLink.isOpen();
    }));
    EXPECT_STREQ(noticeShown(uint32_t(currentTick)), "projector closed: the display went away");
}

// The real program started in a run folder on the Xvfb; returns its pid.
pid_t startInstrument(const std::string& dir, const std::string& display, const std::vector<std::string>& args,
                      const std::string& errorFile) {
    std::vector<std::string> all = {std::string(LOOPMIXER_BINARY_DIR) + "/loopmixer"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env = {"DISPLAY=" + display, "HOME=" + dir, "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ProjectorProcess, ARefusedPlaceEndsTheLaunchWithStatusTwo) {
    Xvfb x;
    ASSERT_NE(x.display, nullptr);
    HarnessOptions o;
    o.start = false;
    Harness h(o);
    const std::string err = h.dir + "/stderr.txt";
    struct Case {
        const char* where;
        const char* line;
    };
    const Case cases[] = {
        {"3", "loopmixer: projector: monitor 3 not found: the desktop lists 1 monitor (0 to 0)\n"},
        {"1024x768+1500+0", "loopmixer: projector: 1024x768+1500+0 lies outside the screen (2304x768)\n"},
        {"1024x768", "loopmixer: --projector: 1024x768 is not a monitor number, WxH+X+Y or window\n"},
    };
    for (const Case& c : cases) {
        const pid_t pid = startInstrument(h.dir, x.name, {"--projector", c.where}, err);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.where;
        EXPECT_EQ(readText(err), c.line);
    }
}

TEST(ProjectorProcess, AKilledInstrumentTakesItsProjectorAndLeavesNoSegment) {
    Xvfb x;
    ASSERT_NE(x.display, nullptr);
    HarnessOptions o;
    o.start = false;
    Harness h(o);
    // A segment left by a run that was killed at the wrong moment: its process is gone.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string stale = ProjectorLink::segmentName(gone);
    const int fd = shm_open(stale.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);

    const pid_t pid = startInstrument(h.dir, x.name, {"--projector", "640x480+1600+0"}, h.dir + "/stderr.txt");
    ASSERT_GT(pid, 0);
    pid_t projector = -1;
    ASSERT_TRUE(waitFor([&] {
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
        return bool(children >> projector);
    })) << readText(h.dir + "/stderr.txt");
    EXPECT_NE(readText("/proc/" + std::to_string(projector) + "/cmdline").find("loopmixer-projector"), std::string::npos);
    EXPECT_NE(access(("/dev/shm" + stale).c_str(), F_OK), 0) << "the stale segment is removed at start";

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const auto killed = Clock::now();
    EXPECT_TRUE(waitFor([&] { return !alive(projector); }));
    std::printf("projector gone %.0f ms after the instrument was killed\n",
                std::chrono::duration<double, std::milli>(Clock::now() - killed).count());
    EXPECT_NE(access(("/dev/shm" + ProjectorLink::segmentName(pid)).c_str(), F_OK), 0);
}

}  // namespace
