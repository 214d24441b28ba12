// The browser surface's settings and its address on the home screen: data/remote.xml opens it,
// open to the network it makes a token and shows the address with its QR code over the logo, on
// 127.0.0.1 it needs none and shows nothing, and a taken port is said on screen.
#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <regex>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "web/WebServer.h"
#include "web/WebSurface.h"

namespace {

// A TCP port of 127.0.0.1, bound and listening while held.
int heldPort(int& fd) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

// The share of white pixels in the logo's panel of the home screen.
double whiteInLogoPanel(const Harness& h) {
    int white = 0;
    for (int y = 8; y < 109; y++)
        for (int x = 8; x < 103; x++) white += h.pixel(x, y) == 0xFFFF;
    return white / (95.0 * 101.0);
}

void toHome(Harness& h) {
    for (int i = 0; i < 400 && appState.screen != Screen::Home; i++) h.frame();
    ASSERT_EQ(appState.screen, Screen::Home);
    h.frame();
}

TEST(WebSurface, OpenedFromTheSettingsWithTheAddressOnTheHomeScreen) {
    HarnessOptions o;
    o.start = false;
    launchOptions = LaunchOptions();
    int fd;
    const int port = heldPort(fd);
    close(fd);
    {
        Harness h(o);
        h.writeFile("data/remote.xml", "<all>\n\t<webport>" + std::to_string(port) + "</webport>\n\t<webhost>0.0.0.0</webhost>\n</all>\n");
        ASSERT_TRUE(h.startUp());
        ASSERT_TRUE(webSurfaceOpen());
        const std::string address = webSurfaceAddress();
        EXPECT_TRUE(std::regex_match(address, std::regex("http://[0-9.]+:" + std::to_string(port) + "/\\?token=[0-9a-f]{16}")))
            << address;
        EXPECT_NE(h.log().find("web: " + address + "\n"), std::string::npos);
        toHome(h);
        const double white = whiteInLogoPanel(h);
        EXPECT_TRUE(white > 0.4 && white < 0.95) << "a QR code on white over the logo: " << white;
    }
    {
        launchOptions.webPort = port;
        Harness h(o);
        ASSERT_TRUE(h.startUp());
        EXPECT_EQ(webSurfaceAddress(), "http://127.0.0.1:" + std::to_string(port) + "/") << "this machine only: no token";
        EXPECT_NE(h.readFile("data/remote.xml").find("<webport>0</webport>"), std::string::npos)
            << "first run with the surface: the settings file is written with its defaults";
        toHome(h);
        EXPECT_LT(whiteInLogoPanel(h), 0.1) << "the logo, no code";
    }
    {
        const int taken = heldPort(fd);
        launchOptions.webPort = taken;
        Harness h(o);
        ASSERT_TRUE(h.startUp());
        EXPECT_FALSE(webSurfaceOpen());
        ASSERT_NE(noticeShown(platform::ticks()), nullptr);
        EXPECT_EQ(std::string(noticeShown(platform::ticks())), "browser: port " + std::to_string(taken) + " is not free");
        close(fd);
    }
    launchOptions = LaunchOptions();
}

// Screen checksums of 60 frames from loading the demo playlist on, with the surface open or not;
// the thumbnails made meanwhile go to made.
std::vector<uint32_t> loadAndPlay(bool surface, std::set<std::string>& made) {
    launchOptions = LaunchOptions();
    int fd;
    if (surface) launchOptions.webPort = heldPort(fd), close(fd);
    HarnessOptions o;
    o.demoClips = true;
    o.seed = 77;
    Harness h(o);
    std::vector<uint32_t> sums;
    appState.screen = Screen::Mix;
    appState.mixView = ChoosingPlaylist;
    h.frame();
    h.tap(ButtonB);
    for (int i = 0; i < 60; i++) {
        h.frame();
        sums.push_back(h.screenChecksum());
    }
    EXPECT_EQ(mix._totalTracks, 5);
    if (DIR* d = opendir((h.dir + "/videos/.thumbs").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') made.insert(e->d_name);
        closedir(d);
    }
    launchOptions = LaunchOptions();
    return sums;
}

// Thumbnails are decoded through a deck's frame buffer while the clips play: the picture must be
// exactly the one played without them, frame by frame.
TEST(WebSurface, ThumbnailsAreMadeAtLoadWithoutTouchingThePicture) {
    std::set<std::string> made, none;
    const std::vector<uint32_t> with = loadAndPlay(true, made);
    const std::vector<uint32_t> without = loadAndPlay(false, none);
    EXPECT_EQ(made, (std::set<std::string>{"bars.q17.jpg", "checker.q17.jpg", "fields.q18.jpg", "orb.q18.jpg", "plasma.q18.jpg"}));
    EXPECT_TRUE(none.empty());
    EXPECT_GT(std::set<uint32_t>(with.begin(), with.end()).size(), 10u) << "the clips play";
    ASSERT_EQ(with.size(), without.size());
    for (size_t i = 0; i < with.size(); i++) ASSERT_EQ(with[i], without[i]) << "frame " << i;
}

}  // namespace
