// The menus' handlers driven frame by frame: the home grid, the playlist chooser, the VIDEO OUT
// menu and the options screen's filter drops, mode switch and glove-key teaching.
#include <gtest/gtest.h>

#include <algorithm>

#include <iostream>
#include <sstream>

#include "core/AppState.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "core/TvOut.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "controls/Screens.h"
#include "controls_input.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "tempo/TempoClock.h"
#include "mixer/Options.h"

namespace {

class Menus : public ::testing::Test {
protected:
    void SetUp() override {
        controller.clear();
        appState.mode = ModeA;
        appState.mixView = ChoosingPlaylist;
        appState.tvOut = Lcd;
        running = 1;
        homeScreen.selectedItem = 0;
        effectTable.clearEffects();
        options.view = FiltersView;
        options.dragging = 0;
        options.showTopLine = 0;
        for (int32_t& k : options.keys) k = 0;
        options.baseDir = "/nonexistent";  // leaving the screen must not write into the build tree
        mix.playlistCount = 0;
        chooserSelection = 0;
        oldLog = std::cout.rdbuf(log.rdbuf());
    }
    void TearDown() override { std::cout.rdbuf(oldLog); }

    void home(std::initializer_list<Input> down = {}) { appState.screen = Screen::Home, pad.frame(down, handleHome); }
    void chooser(std::initializer_list<Input> down = {}) { pad.frame(down, handleChooser); }
    void videoOut(std::initializer_list<Input> down = {}) { pad.frame(down, handleVideoOut); }
    void opts(std::initializer_list<Input> down = {}) { pad.frame(down, handleOptions); }

    Pad pad;
    std::stringstream log;
    std::streambuf* oldLog = nullptr;
};

TEST_F(Menus, HomeStickWalksTheGridAroundTheEmptyCell) {
    struct Move { int from; Input stick; int to; };
    const Move moves[] = {
        {0, StickRight, 1}, {1, StickRight, 1}, {2, StickRight, 3}, {3, StickRight, 4}, {4, StickRight, 4},
        {0, StickDown, 3},  {1, StickDown, 4},  {3, StickDown, 3},  {1, StickLeft, 0},  {0, StickLeft, 0},
        {3, StickLeft, 2},  {4, StickLeft, 3},  {2, StickLeft, 2},  {3, StickUp, 0},    {4, StickUp, 1},
        {2, StickUp, 2},
    };
    for (const Move& m : moves) {
        homeScreen.selectedItem = m.from;
        home({m.stick});
        EXPECT_EQ(homeScreen.selectedItem, m.to) << "from " << m.from << " stick " << m.stick;
        home();
    }
    EXPECT_EQ(appState.screen, Screen::Home);
}

TEST_F(Menus, HomeButtonBAndTouchOpenTheItems) {
    const int screens[] = {Screen::Mix, Screen::Editor, Screen::Options, Screen::VideoOut};
    options.view = KeysView;
    mix.playlistCount = 3;
    mix.editPlaylist = 2;
    mix.playlists[2].trackCount = 17;
    mix.scrollers[0].top = mix.scrollers[1].top = 4;
    for (int item = 0; item < 4; item++) {
        homeScreen.selectedItem = item;
        home({ButtonB});
        EXPECT_EQ(appState.screen, screens[item]) << item;
        home();
    }
    EXPECT_EQ(options.view, FiltersView) << "the options open on their first view";
    EXPECT_EQ(mix.scrollers[0].count, 3) << "the editor opens on the playlists at the top";
    EXPECT_EQ(mix.scrollers[0].top, 0);
    EXPECT_EQ(mix.scrollers[1].count, 17) << "and the tracks of the playlist being edited";
    EXPECT_EQ(mix.scrollers[1].top, 0);

    // Touch zones: top-left and bottom-right corners of each cell, whatever is selected.
    const struct { int x, y, screen; } touches[] = {
        {113, 15, Screen::Mix},      {311, 109, Screen::Editor},   {9, 119, Screen::Options},
        {207, 213, Screen::VideoOut}, {112, 60, Screen::Home},     {60, 60, Screen::Home},
        {160, 110, Screen::Home},
    };
    homeScreen.selectedItem = 4;
    for (const auto& t : touches) {
        pad.touch(t.x, t.y);
        home();
        EXPECT_EQ(appState.screen, t.screen) << t.x << "," << t.y;
        pad.lift();
    }
    EXPECT_EQ(homeScreen.selectedItem, 4);
    EXPECT_EQ(running, 1) << "no touch above reached QUIT";

    pad.touch(217, 119);
    home();
    EXPECT_EQ(running, 0);
    running = 1;
    pad.lift();
    home();
    home({ButtonHome});
    EXPECT_EQ(running, 0);
}

TEST_F(Menus, ChooserMarkerStaysOnTheListAndLoadsOrLeaves) {
    mix.playlistCount = 20;
    for (int i = 0; i < 20; i++) mix.playlists[i].trackCount = 0;
    chooser({StickUp});
    EXPECT_EQ(chooserSelection, 0);
    for (int i = 0; i < 25; i++) {
        chooser({StickDown});
        chooser();
    }
    EXPECT_EQ(chooserSelection, 19) << "rows past the screen edge are still reachable, not beyond";
    chooser({ButtonB});
    EXPECT_EQ(mix.loadingPlaylist, 19);
    EXPECT_EQ(appState.mixView, Performing);

    appState.mixView = ChoosingPlaylist;
    appState.screen = Screen::Mix;
    mix._totalTracks = 3;
    decks.decks[1].position = 5;
    chooser();
    chooser({ButtonHome});
    EXPECT_EQ(appState.mixView, Performing);
    EXPECT_EQ(mix._totalTracks, 3) << "Home keeps what is loaded";
    EXPECT_EQ(decks.decks[1].position, 5);

    appState.mixView = ChoosingPlaylist;
    chooser();
    chooser({ButtonX});
    EXPECT_EQ(appState.screen, Screen::Home);
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
    EXPECT_EQ(mix._totalTracks, keepClipsAwayFromMix() ? 3 : 0) << "kept only where memory is plenty";

    // The editor deleted playlists under the marker: it comes back onto the list.
    mix.playlistCount = 4;
    chooser();
    chooser({StickUp});
    EXPECT_EQ(chooserSelection, 2);
}

TEST_F(Menus, VideoOutSwitchesOnlyOnChangeAndLogsEveryChoice) {
    const int before = platform::tvConfigCalls();
    videoOut({ButtonY});
    EXPECT_EQ(platform::tvConfigCalls(), before) << "already on the LCD";
    videoOut();
    videoOut({ButtonA});
    videoOut();
    videoOut({ButtonA});
    EXPECT_EQ(platform::tvConfigCalls(), before + 1);
    EXPECT_EQ(appState.tvOut, Pal);
    EXPECT_EQ(tvConfigRecord.command, 2);
    EXPECT_EQ(tvConfigRecord.standard, 5);
    EXPECT_EQ(tvConfigRecord.width, 640);
    EXPECT_EQ(tvConfigRecord.height, 480);
    videoOut();
    videoOut({ButtonB});
    EXPECT_EQ(platform::tvConfigCalls(), before + 2) << "PAL to NTSC is one call";
    EXPECT_EQ(tvConfigRecord.command, 2);
    EXPECT_EQ(tvConfigRecord.standard, 0);
    EXPECT_EQ(appState.tvOut, Ntsc);
    videoOut();
    videoOut({ButtonY});
    EXPECT_EQ(tvConfigRecord.command, 4);
    EXPECT_EQ(tvConfigRecord.standard, 0) << "the LCD command writes only the command byte";
    EXPECT_EQ(appState.tvOut, Lcd);
    EXPECT_EQ(log.str(), "LCD\nPAL\nPAL\nNTSC\nLCD\n");

    appState.screen = Screen::VideoOut;
    pad.touch(266, 225);
    videoOut();
    EXPECT_EQ(appState.screen, Screen::VideoOut);
    pad.lift();
    videoOut();
    pad.touch(315, 235);
    videoOut();
    EXPECT_EQ(appState.screen, Screen::Home);
    appState.screen = Screen::VideoOut;
    pad.lift();
    videoOut({ButtonX});
    EXPECT_EQ(appState.screen, Screen::Home);
}

TEST_F(Menus, OptionsModeSwitchNeedsOneShoulderPressedWhileTheOtherIsHeld) {
    opts({ButtonL, ButtonR});
    EXPECT_EQ(appState.mode, ModeA) << "both pressed in one frame";
    opts({ButtonL, ButtonR});
    opts();
    opts({ButtonL});
    opts({ButtonL, ButtonR});
    EXPECT_EQ(appState.mode, ModeB);
    opts({ButtonL, ButtonR});
    EXPECT_EQ(appState.mode, ModeB) << "both held";
    opts();
    pad.touch(300, 195);  // the mode A button
    opts();
    EXPECT_EQ(appState.mode, ModeA);
    pad.lift();
    opts();
    pad.touch(20, 206);
    opts();
    EXPECT_EQ(options.showTopLine, 1);
}

TEST_F(Menus, OptionsFilterDropsLandOnEverySlotUnderTheStylus) {
    auto drag = [&](int fromY, int toX, int toY) {
        pad.touch(200, fromY);
        opts();
        pad.move(toX, toY);
        opts();
        pad.lift();
        opts();
        EXPECT_EQ(options.dragging, 0);
    };
    drag(25 + 10 * 4, 48, 48);  // filter 4 onto the corner shared by the top and left buttons
    for (int d = 0; d < 2; d++) {
        EXPECT_EQ(effectTable.slots[d][0].effectId, 4);
        EXPECT_EQ(effectTable.slots[d][3].effectId, 4);
        EXPECT_EQ(effectTable.slots[d][1].effectId, 0);
        EXPECT_EQ(effectTable.slots[d][2].effectId, 0);
    }
    drag(25 + 10 * 7 + 9, 100, 60);
    EXPECT_EQ(effectTable.slots[1][1].effectId, 7);
    drag(25 + 10 * 2, 150, 150);  // released outside the buttons
    drag(25 + 10 * 9, 64, 47);
    EXPECT_EQ(effectTable.slots[0][0].effectId, 9);
    EXPECT_EQ(effectTable.slots[0][2].effectId, 0);
    // Below the ten rows and above the first the list holds no filter: nothing is picked.
    drag(25 + 10 * 12, 64, 96);
    drag(10, 64, 96);
    EXPECT_EQ(effectTable.slots[0][2].effectId, 0);
    EXPECT_EQ(effectTable.slots[1][2].effectId, 0);
}

TEST_F(Menus, OptionsTeachAGloveKeyAndLeaveFromAnyView) {
    pad.touch(30, 230);
    opts();
    EXPECT_EQ(options.view, KeysView);
    pad.lift();
    opts();
    pad.touch(100, 20 + 13 * 3 + 12);
    opts();
    EXPECT_EQ(options.view, WaitingForKeyView);
    EXPECT_EQ(options.keyToAssign, 3);
    pad.lift();
    opts({ButtonA, ButtonL});
    opts({ButtonA, ButtonL, ButtonR});
    EXPECT_EQ(options.view, WaitingForKeyView) << "buttons teach nothing";
    EXPECT_EQ(appState.mode, ModeA);
    pad.key(273);
    opts();
    EXPECT_EQ(options.keys[3], 273);
    EXPECT_EQ(options.view, KeysView);
    pad.keyRelease();
    pad.touch(100, 227);
    opts();
    EXPECT_EQ(options.keyToAssign, 15);
    pad.lift();
    opts();
    appState.screen = Screen::Options;
    opts({ButtonX});
    EXPECT_EQ(appState.screen, Screen::Home) << "ButtonX leaves while waiting for a key";
}

// A key drives one row: taught again elsewhere it moves, and the notice says from where.
TEST_F(Menus, AGloveKeyTaughtTwiceMovesToTheNewRow) {
    options.view = KeysView;
    for (int row : {1, 5}) {
        pad.touch(100, 20 + 13 * row + 6);
        opts();
        pad.lift();
        pad.key('z');
        opts();
        pad.keyRelease();
        opts();
    }
    EXPECT_EQ(options.keys[5], 'z');
    EXPECT_EQ(options.keys[1], 0) << "the first row lets the key go";
    EXPECT_EQ(std::string(notice.text), keyName('z') + " moved from track 2");  // "z" where SDL names keys
    EXPECT_EQ(std::count(options.keys, options.keys + 16, int32_t('z')), 1);
}

TEST_F(Menus, TeachingAKeyRefusesConsoleButtonsAndHomeCancels) {
    appState.screen = Screen::Options;
    options.view = WaitingForKeyView;
    options.keyToAssign = 2;
    opts({ButtonY});
    EXPECT_EQ(options.view, WaitingForKeyView);
    EXPECT_EQ(options.refusedInput, ButtonY) << "said on screen, not silently awaited";
    opts({ButtonHome});
    EXPECT_EQ(options.view, KeysView);
    EXPECT_EQ(options.keys[2], 0);
    EXPECT_EQ(appState.screen, Screen::Options) << "Home cancels the teaching, not the screen";

    // The list names the keys as the keyboard does (SDL names keys once its video is up).
    ASSERT_EQ(0, SDL_InitSubSystem(SDL_INIT_VIDEO));
    const std::pair<int32_t, const char*> names[] = {
        {0, "-"}, {SDLK_z, "z"}, {SDLK_1, "1"}, {SDLK_F5, "F5"}, {SDLK_LCTRL, "left ctrl"}};
    for (const auto& n : names) EXPECT_EQ(keyName(n.first), n.second);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace

namespace {

TEST_F(Menus, LeavingWhileAFilterIsHeldDropsNothingOnTheNextVisit) {
    pad.touch(200, 25 + 10 * 4);  // pick BURNED
    opts();
    ASSERT_EQ(options.dragging, 1);
    opts({ButtonX});  // leave with the filter still on the stylus
    ASSERT_EQ(appState.screen, Screen::Home);
    EXPECT_EQ(options.dragging, 0);
    // Back on the screen, the stylus is lifted over the top button: nothing is assigned.
    appState.screen = Screen::Options;
    pad.move(64, 32);
    opts();
    pad.lift();
    opts();
    EXPECT_EQ(effectTable.slots[0][0].effectId, 0);
    EXPECT_EQ(effectTable.slots[1][0].effectId, 0);
}

}  // namespace

// The tap button's lower right chooses where the tempo comes from; the rest of the button taps.
TEST_F(Menus, TheTapButtonsCornerChoosesTheTempoSource) {
    tempoClock = TempoClock();
    pad.touch(270, 170);
    opts();
    pad.lift();
    opts();
    EXPECT_EQ(tempoClock.followSound, 1);
    pad.touch(200, 150);
    opts();
    pad.lift();
    opts();
    EXPECT_EQ(tempoClock.followSound, 1) << "a tap does not switch it back";
    tempoClock = TempoClock();
}
