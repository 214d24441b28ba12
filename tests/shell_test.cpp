// The shell: start-up, the log, frame pacing, the splash, and the controller's counters and edges,
// all through whole headless frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/AppState.h"
#include "app/CommandLine.h"
#include "app/MainLoop.h"
#include "core/Platform.h"
#include "app/Startup.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "draw/NoticeLine.h"
#include "core/TvOut.h"
#include "core/Controller.h"
#include "controls/Screens.h"
#include "harness/Harness.h"
#include "mixer/Decks.h"

TEST(StartUp, LogIsTruncatedAndStartsWithStartAndAnEmptyLine) {
    HarnessOptions o;
    o.start = false;
    Harness h(o);
    h.writeFile("data/log.txt", "old content that must disappear\n");
    ASSERT_TRUE(h.startUp());
    const std::string log = h.log();
    EXPECT_EQ(0u, log.rfind("start\n\n", 0)) << log;
    EXPECT_EQ(std::string::npos, log.find("old content"));
    EXPECT_NE(std::string::npos, log.find("SDL_NumJoysticks() 0\n"));
}

TEST(StartUp, RunsWithoutJoystickAndWithoutPictures) {
    HarnessOptions o;
    o.pictures = false;
    Harness h(o);
    ASSERT_TRUE(h.started);
    EXPECT_FALSE(platform::joystickOpen());
    EXPECT_EQ(nullptr, uiTexture);
    // Holding nothing: every counter stays 0, and whole frames of every screen still run.
    h.frame(45);
    for (int i = 0; i < InputCount; i++) EXPECT_EQ(0, controller.counter[i]);
    EXPECT_EQ(Screen::Home, appState.screen);
    appState.screen = Screen::Mix;
    h.frame(2);
    // No playlist loaded: the picture is black.
    EXPECT_EQ(0, h.pixel(10, 10));
    EXPECT_EQ(0, h.pixel(300, 230));
}

TEST(StartUp, GlobalsStartWithTheirInitialValues) {
    Harness h;
    EXPECT_EQ(Screen::Splash, appState.screen);
    EXPECT_EQ(ChoosingPlaylist, appState.mixView);
    EXPECT_EQ(ModeA, appState.mode);
    EXPECT_EQ(Lcd, appState.tvOut);
    EXPECT_EQ(h.dir, appState.workingDir);
    EXPECT_EQ(25, decks.targetFps);
    EXPECT_EQ(1, decks.selectedDeck);
}

TEST(Pacing, FramesRunOnlyAfterMoreThanTheIntervalAtEachRate) {
    Harness h;
    struct { int fps; int every; } rates[] = {{25, 39}, {40, 25}, {10, 91}};
    for (auto r : rates) {
        decks.targetFps = r.fps;
        h.frame();  // a frame at a known tick
        const int64_t before = framesRun;
        h.callAfter(uint32_t(r.every - 1));
        EXPECT_EQ(before, framesRun) << "rate " << r.fps << " ran after " << r.every - 1 << " ms";
        h.callAfter(1);
        EXPECT_EQ(before + 1, framesRun) << "rate " << r.fps << " did not run after " << r.every << " ms";
        EXPECT_EQ(1000 / r.every, measuredFps);
    }
}

TEST(Pacing, SleepingUntilTheNextFrameKeepsTheExactIntervals) {
    Harness h;
    // What main does: run a frame, then sleep as long as msUntilNextFrame says.
    std::vector<uint32_t> frameTicks;
    for (int i = 0; i < 20; i++) {
        const int64_t before = framesRun;
        runFrame();
        if (framesRun != before) frameTicks.push_back(platform::ticks());
        if (uint32_t wait = msUntilNextFrame()) platform::delay(wait);
    }
    ASSERT_GE(frameTicks.size(), 9u);
    for (size_t i = 1; i < frameTicks.size(); i++) EXPECT_EQ(39u, frameTicks[i] - frameTicks[i - 1]);
}

TEST(Pacing, ARateChangeTakesEffectFromTheNextFrame) {
    Harness h;
    h.frame();
    decks.targetFps = 40;  // as a handler would during a frame
    const int64_t before = framesRun;
    h.callAfter(25);
    EXPECT_EQ(before + 1, framesRun);
}

TEST(Splash, HandsOverToHomeAfterExactlyFortyFramesAndKeepsBlackBlack) {
    Harness h;
    // Find a pixel that is black in the logo itself.
    SDL_Surface* logo = splashScreen.logo;
    ASSERT_NE(nullptr, logo);
    h.frame(20);  // countdown 20: the logo unchanged
    int bx = -1, by = -1, cx = -1;
    for (int y = 0; y < 240 && (bx < 0 || cx < 0); y++)
        for (int x = 0; x < 320; x++) {
            if (h.pixel(x, y) == 0 && bx < 0) bx = x, by = y;
            if (h.pixel(x, y) != 0 && cx < 0) cx = x;
        }
    ASSERT_GE(bx, 0) << "the logo has no black pixel";
    ASSERT_GE(cx, 0) << "the logo is all black";
    for (int i = 21; i < 40; i++) {
        h.frame();
        EXPECT_EQ(Screen::Splash, appState.screen) << "frame " << i;
        EXPECT_EQ(0, h.pixel(bx, by)) << "frame " << i;
    }
    // The last splash frame has faded everything to black.
    EXPECT_EQ(Screen::Splash, appState.screen);
    h.frame();
    EXPECT_EQ(Screen::Home, appState.screen);
    EXPECT_EQ(0, splashScreen.countdown);
}

TEST(Splash, FirstFrameIsWhiteWhereTheLogoIsNotBlack) {
    Harness h;
    h.frame();  // countdown 39, b = 38: every non-black pixel saturates
    int white = 0, other = 0;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            uint16_t p = h.pixel(x, y);
            if (p == 0xFFFF) white++;
            else if (p != 0) other++;
        }
    EXPECT_GT(white, 0);
    EXPECT_EQ(0, other);
}

TEST(Controller, CountersGoOneTwoTwoThenZero) {
    Harness h;
    h.setDown(ButtonB, true);
    std::vector<int> seen;
    for (int i = 0; i < 4; i++) {
        h.frame();
        seen.push_back(controller.counter[ButtonB]);
    }
    h.setDown(ButtonB, false);
    h.frame();
    seen.push_back(controller.counter[ButtonB]);
    EXPECT_EQ((std::vector<int>{1, 2, 2, 2, 0}), seen);
}

TEST(Controller, AxisThresholdsAreStrict) {
    Harness h;
    struct { int axis; int16_t value; Input input; bool active; } cases[] = {
        {1, -20000, StickUp, false},   {1, -20001, StickUp, true},   {1, 20000, StickDown, false},
        {1, 20001, StickDown, true},   {0, 20000, StickRight, false}, {0, 20001, StickRight, true},
        {0, -20000, StickLeft, false}, {0, -20001, StickLeft, true},
    };
    for (auto c : cases) {
        h.setAxis(c.axis, c.value);
        h.frame();
        EXPECT_EQ(c.active ? 1 : 0, controller.counter[c.input]) << "axis " << c.axis << " = " << c.value;
        h.setAxis(c.axis, 0);
        h.frame();
    }
}

TEST(Controller, ActiveInputsCountsPressedAndHeld) {
    Harness h;
    h.setDown(ButtonA, true);
    h.setDown(ButtonY, true);
    h.frame();
    EXPECT_EQ(2, controller.activeInputs);
    h.setDown(ButtonL, true);
    h.frame();
    EXPECT_EQ(5, controller.activeInputs);  // 2 + 2 held, 1 pressed
    h.setDown(ButtonA, false);
    h.setDown(ButtonY, false);
    h.setDown(ButtonL, false);
    h.frame();
    h.setDown(ButtonI, true);
    h.frame();
    EXPECT_EQ(1, controller.activeInputs);
}

TEST(Controller, TouchEdges) {
    Harness h;
    h.touchDown(100, 50);
    h.frame();
    EXPECT_EQ(1, controller.touchDown);
    EXPECT_EQ(0, controller.touchHeld);
    EXPECT_EQ(100, controller.touchX);
    EXPECT_EQ(50, controller.touchY);
    h.touchMove(120, 60);
    h.frame();
    EXPECT_EQ(0, controller.touchDown);
    EXPECT_EQ(1, controller.touchHeld);
    EXPECT_EQ(120, controller.touchX);
    h.touchUp();
    h.frame();
    EXPECT_EQ(0, controller.touchDown);
    EXPECT_EQ(0, controller.touchHeld);
    EXPECT_EQ(120, controller.touchX) << "the release keeps the last position";

    // A mouse moved with no button held is no stylus.
    h.touchMove(200, 200);
    h.frame();
    EXPECT_EQ(120, controller.touchX);

    // Down and up between two frames (a quick click): a touch in this frame, a release in the next.
    h.touchDown(10, 10);
    h.touchUp();
    h.frame();
    EXPECT_EQ(1, controller.touchDown);
    EXPECT_EQ(10, controller.touchX);
    h.frame();
    EXPECT_TRUE(controller.touchUp());
}

TEST(Controller, QuickTapsBetweenFramesCountOnce) {
    Harness h;
    h.frame(41);
    // A click on EDIT that went down and up between two frames opens the editor.
    h.touchDown(260, 60);
    h.touchUp();
    h.frame();
    EXPECT_EQ(Screen::Editor, appState.screen);
    // A stick direction tapped between two frames is pressed once.
    h.keyDown(SDLK_UP);
    h.keyUp(SDLK_UP);
    h.frame();
    EXPECT_EQ(1, controller.counter[StickUp]);
    h.frame();
    EXPECT_EQ(0, controller.counter[StickUp]);
    // So is one that arrives while the frame's events are read, after the stick was.
    h.keyDown(SDLK_DOWN);
    h.keyUp(SDLK_DOWN);
    SDL_Event e;
    while (platform::pollEvent(&e)) {
    }
    h.frame();
    EXPECT_EQ(1, controller.counter[StickDown]);
    // A key of its own (a glove key, a macro pad) pressed and released between two frames is
    // down in one frame and up in the next.
    h.keyDown(SDLK_k);
    h.keyUp(SDLK_k);
    h.frame();
    EXPECT_EQ(SDLK_k, controller.key);
    EXPECT_EQ(1, controller.keyDown);
    h.frame();
    EXPECT_EQ(0, controller.key);
    EXPECT_EQ(0, controller.keyDown + controller.keyHeld);
}

TEST(Controller, KeyEdgesAndRepeat) {
    Harness h;
    h.keyDown(SDLK_g);
    h.frame();
    EXPECT_EQ(1, controller.keyDown);
    EXPECT_EQ(SDLK_g, controller.key);
    h.keyDown(SDLK_g);  // key repeat: refreshes key, no new press
    h.frame();
    EXPECT_EQ(0, controller.keyDown);
    EXPECT_EQ(1, controller.keyHeld);
    h.keyUp(SDLK_g);
    h.frame();
    EXPECT_EQ(0, controller.key);
    EXPECT_EQ(0, controller.keyDown);
    EXPECT_EQ(0, controller.keyHeld);
}

TEST(Controller, KeysBoundToConsoleButtonsActOnlyAsButtons) {
    Harness h;
    h.keyDown(SDLK_d);  // B
    h.frame();
    EXPECT_EQ(1, controller.counter[ButtonB]);
    EXPECT_EQ(0, controller.key);
    EXPECT_EQ(0, controller.keyDown);
    h.keyUp(SDLK_d);
    h.frame();
    EXPECT_EQ(0, controller.counter[ButtonB]);
    // A tap of a bound key between two frames still counts as one press.
    h.keyDown(SDLK_a);
    h.keyUp(SDLK_a);
    h.frame();
    EXPECT_EQ(1, controller.counter[ButtonA]);
    h.frame();
    EXPECT_EQ(0, controller.counter[ButtonA]);
    // Arrow keys are the stick.
    h.keyDown(SDLK_LEFT);
    h.frame();
    EXPECT_EQ(1, controller.counter[StickLeft]);
    h.keyUp(SDLK_LEFT);
    h.frame();
    EXPECT_EQ(0, controller.counter[StickLeft]);
}

TEST(Controller, WheelTurnsAreNotTaps) {
    Harness h;
    for (Uint8 b : {Uint8(SDL_BUTTON_WHEELUP), Uint8(SDL_BUTTON_WHEELDOWN)}) {
        SDL_Event e = {};
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = b;
        e.button.x = 50;
        e.button.y = 50;
        SDL_PushEvent(&e);
        h.frame();
        EXPECT_EQ(0, controller.touchDown);
        e.type = SDL_MOUSEBUTTONUP;
        SDL_PushEvent(&e);
        h.frame();
    }
}

TEST(MainLoop, QuitFinishesItsFrame) {
    Harness h;
    h.frame(41);
    ASSERT_EQ(Screen::Home, appState.screen);
    h.quit();
    const int64_t before = framesRun;
    EXPECT_EQ(0, h.frame());
    EXPECT_EQ(before + 1, framesRun);
}

TEST(MainLoop, ANoticeShowsOverEveryScreenForFourSecondsThenGoes) {
    Harness h;
    h.frame(41);
    const uint32_t home = h.screenChecksum();
    postNotice("can't save playlists: disk full");
    h.frame();
    EXPECT_NE(home, h.screenChecksum());
    EXPECT_EQ(0, h.pixel(0, noticeLineY())) << "the notice's black band";
    h.callAfter(NoticeMs);
    h.frame();
    EXPECT_EQ(home, h.screenChecksum());
}

TEST(CommandLine, RefusesWhatItDoesNotKnowAndExplainsTheRest) {
    struct Case { std::vector<const char*> args; bool ok; const char* error; };
    const Case cases[] = {
        {{}, true, ""},
        {{"--help"}, true, ""},
        {{"--bogus"}, false, "unknown option --bogus (see --help)"},
        {{"--help=1"}, false, "--help takes no value"},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("loopmixer")};
        for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
        std::string error;
        EXPECT_EQ(c.ok, parseCommandLine(int(argv.size()), argv.data(), error)) << error;
        EXPECT_EQ(c.error, error);
    }
    EXPECT_NE(std::string::npos, commandLineUsage().find("--help"));
    launchOptions = LaunchOptions();
}

// The vendor frame object is built before main and destroyed after it returns; its messages go to
// the real standard output.
TEST(Program, VendorFrameMessagesOpenAndCloseTheOutput) {
    const std::string command = std::string(LOOPMIXER_BINARY_DIR) + "/loopmixer --help";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    EXPECT_EQ(0, pclose(pipe));
    const std::string first = "DGE_Frame :: DGE_Frame done. _[Frame/DGE_Frame.cpp][60]\r\n";
    const std::string last = "DGE_Frame :: ~DGE_Frame done. _[Frame/DGE_Frame.cpp][77]\r\n";
    EXPECT_EQ(0u, out.find(first)) << out;
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(last, out.substr(out.size() - last.size())) << out;
    EXPECT_NE(std::string::npos, out.find("usage: loopmixer"));
}

TEST(MainLoop, UnknownScreenDrawsNothing) {
    Harness h;
    h.frame(41);
    const uint32_t home = h.screenChecksum();
    appState.screen = 9;
    h.frame(3);
    EXPECT_EQ(home, h.screenChecksum());
}

TEST(Shutdown, RestoresTheLcdOnlyWhenATvOutputIsActive) {
    {
        Harness h;
        const int before = platform::tvConfigCalls();
        EXPECT_EQ(0, shutDown()) << "without the console's menu a quit is the normal end: status 0";
        EXPECT_EQ(before, platform::tvConfigCalls());
        EXPECT_NE(std::string::npos, h.readFile("data/log.txt").find("start"));
    }
    {
        Harness h;
        appState.tvOut = Pal;
        tvConfigRecord.command = 2;
        const int before = platform::tvConfigCalls();
        EXPECT_EQ(0, shutDown());
        EXPECT_EQ(before + 1, platform::tvConfigCalls());
        EXPECT_EQ(4, tvConfigRecord.command);
        EXPECT_EQ(Lcd, appState.tvOut);
    }
}

TEST(Shutdown, HandOverNeedsTheConsoleMenuFolder) {
    if (access("/usr/gp2x", F_OK) == 0) GTEST_SKIP() << "this machine has the console's menu folder";
    Harness h;
    // A "./gpid.gpu" in the current folder must never be run.
    h.writeFile("gpid.gpu", "#!/bin/sh\ntouch ran\n");
    chmod((h.dir + "/gpid.gpu").c_str(), 0755);
    platform::setExitToMenuEnabled(true);
    platform::exitToMenu();
    platform::setExitToMenuEnabled(false);
    usleep(100 * 1000);
    EXPECT_NE(0, access((h.dir + "/ran").c_str(), F_OK));
    char* cwd = getcwd(nullptr, 0);
    EXPECT_EQ(h.dir, std::string(cwd));
    free(cwd);
}

// The program itself, started where something it needs is missing: one line that says what and
// where, nothing drawn anywhere (no characters in the terminal either), and status 1.
TEST(StartUp, WithoutItsDataOrADisplayTheProgramSaysWhatAndExitsOne) {
    HarnessOptions o;
    o.start = false;
    Harness h(o);
    const std::string program = std::string(LOOPMIXER_BINARY_DIR) + "/loopmixer";
    struct Case {
        const char* setUp;
        const char* expected;
    } cases[] = {
        {"rm -rf data", "loopmixer: no data folder in DIR: the program needs data/ with textureUI.png"},
        {"mkdir -p data && rm -f data/*.png", "loopmixer: missing in DIR/data: textureUI.png, home.png, "
                                               "logo-tarnobelli.png, abxy.png, volter"},
        {"cp RUN/data/*.png RUN/data/volter data/", "loopmixer: no display (DISPLAY is not set)"},
    };
    for (const Case& c : cases) {
        std::string setUp = c.setUp;
        for (size_t at; (at = setUp.find("RUN")) != std::string::npos;) setUp.replace(at, 3, builtRunDir());
        ASSERT_EQ(0, system(setUp.c_str())) << setUp;
        const int status = system(("env -u DISPLAY -u SDL_VIDEODRIVER " + program + " >out.txt 2>err.txt").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(1, WEXITSTATUS(status)) << c.setUp;
        std::string expected = c.expected;
        if (size_t at = expected.find("DIR"); at != std::string::npos) expected.replace(at, 3, h.dir);
        const std::string err = h.readFile("err.txt");
        EXPECT_EQ(0u, err.find(expected)) << err;
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
        // Nothing drawn into the terminal: standard output holds only the vendor frame's two lines.
        const std::string out = h.readFile("out.txt");
        EXPECT_EQ(2, std::count(out.begin(), out.end(), '\n')) << out;
        EXPECT_EQ(0u, out.find("DGE_Frame :: DGE_Frame done.")) << out;
    }
}
