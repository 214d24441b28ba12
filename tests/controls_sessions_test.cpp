// Whole-program sessions a performer lives, through the harness: scripted frames of buttons and
// stylus, then the state and the screen's pixels. The clips are solid colours, so a pixel of the
// picture tells which clip a deck shows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "controls/Screens.h"
#include "draw/Text.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "tools/clip/ClipWriter.h"

namespace {

const uint16_t Red = 0xF800, Green = 0x07E0, Blue = 0x001F;

void writeSolidClip(const std::string& path, uint16_t colour, int frames) {
    clipwriter::ClipFile clip(17, 0, uint16_t(frames));
    clip.addEntry(clipwriter::encode17Colour(colour, clipwriter::noAlpha()));
    ASSERT_TRUE(clip.writeFile(path)) << path;
}

const char* PrefsModeB =
    "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n\t<mode>1</mode>\n\t<topbar>0</topbar>\n"
    "\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n"
    "\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n</all>\n";

// A run folder with red, green and blue clips of 6 frames in one playlist "rgb".
HarnessOptions colourSet(const std::string& prefs = "") {
    HarnessOptions o;
    o.playlistsXml = playlistsXml({{"rgb", {"red.q17", "green.q17", "blue.q17"}}});
    o.prefsXml = prefs;
    o.start = false;
    return o;
}

class Session : public ::testing::Test {
protected:
    void open(const HarnessOptions& o) {
        h.reset(new Harness(o));
        writeSolidClip(h->dir + "/videos/red.q17", Red, 6);
        writeSolidClip(h->dir + "/videos/green.q17", Green, 6);
        writeSolidClip(h->dir + "/videos/blue.q17", Blue, 6);
        ASSERT_TRUE(h->startUp());
        h->frame(41);
        ASSERT_EQ(appState.screen, Screen::Home);
    }
    // A press is one frame down, then one frame up, so that the next press is a new one.
    void press(Input in, int after = 1) {
        h->tap(in);
        h->frame(1 + after);
    }
    void touch(int x, int y) {
        h->touchDown(x, y);
        h->frame();
        h->touchUp();
        h->frame();
    }
    void loadFirstPlaylist() {
        touch(150, 60);  // MIX
        press(ButtonB);
        for (int i = 0; i < 200 && mix.loading; i++) h->frame();
        ASSERT_EQ(mix._totalTracks, 3);
        h->frame(2);
    }
    uint32_t region(int x0, int y0, int x1, int y1) const {
        uint32_t sum = 2166136261u;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) sum = (sum ^ h->pixel(x, y)) * 16777619u;
        return sum;
    }
    // The home menu's small black words: the text (x, y) as wide as TTF says it is, nothing black
    // after it up to the cell's edge.
    void expectWord(const char* text, int x, int y, int edge) {
        int w = 0, th = 0;
        ASSERT_EQ(TTF_SizeText(uiFonts[0], text, &w, &th), 0);
        auto blackIn = [&](int x0, int x1) {
            for (int yy = y + 3; yy < y + th; yy++)
                for (int xx = x0; xx <= x1; xx++)
                    if (h->pixel(xx, yy) == 0) return true;
            return false;
        };
        EXPECT_TRUE(blackIn(x + w - 5, x + w)) << text;
        EXPECT_FALSE(blackIn(x + w + 2, edge)) << text;
    }
    std::unique_ptr<Harness> h;
};

TEST_F(Session, HomeShowsThePlaylistCountTheModeAndTheOutput) {
    open(colourSet());
    const int counts[] = {0, 1, 2, 12};
    const char* words[] = {"no playlists", "1 playlist", "2 playlists", "12 playlists"};
    for (int i = 0; i < 4; i++) {
        mix.playlistCount = counts[i];
        h->frame();
        expectWord(words[i], 221, 34, 310);
    }
    mix.playlistCount = 1;
    expectWord("off", 117, 154, 205);
    const uint32_t modeA = region(13, 140, 100, 150);
    appState.mode = ModeB;
    appState.tvOut = Ntsc;
    h->frame();
    expectWord("mode B", 13, 138, 100);
    expectWord("NTSC", 117, 154, 205);
    appState.tvOut = Pal;
    h->frame();
    expectWord("PAL", 117, 154, 205);
    appState.mode = ModeA;
    h->frame();
    EXPECT_EQ(region(13, 140, 100, 150), modeA) << "\"mode B\" only in mode B";
}

TEST_F(Session, PickAPlaylistPlayItSwitchClipsAndGoHome) {
    open(colourSet());
    touch(150, 60);
    EXPECT_EQ(appState.screen, Screen::Mix);
    EXPECT_EQ(h->pixel(10, 10), 0) << "nothing loaded: black";
    EXPECT_EQ(h->pixel(100, 100), 0) << "the chooser's box";
    const uint32_t emptyChooser = region(70, 55, 250, 215);
    EXPECT_NE(emptyChooser, region(0, 55, 69, 215)) << "the chooser draws its list and label";

    press(ButtonB);
    EXPECT_EQ(appState.mixView, Performing);
    for (int i = 0; i < 200 && mix.loading; i++) h->frame();
    h->frame(2);
    EXPECT_EQ(h->pixel(160, 120), Red);
    press(StickRight);
    EXPECT_EQ(h->pixel(160, 120), Green);
    press(StickLeft);
    press(StickLeft);
    EXPECT_EQ(h->pixel(160, 120), Blue) << "from the first clip back to the last";

    // The chooser over the running picture, and back with everything where it was.
    press(ButtonHome);
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
    EXPECT_EQ(h->pixel(10, 10), Blue);
    EXPECT_EQ(h->pixel(100, 100), 0);
    press(ButtonHome);
    EXPECT_EQ(appState.mixView, Performing);
    EXPECT_EQ(h->pixel(100, 100), Blue);
    EXPECT_EQ(decks.decks[1].track, 2);

    // Home and back (a visit to OPTIONS mid-show): with memory to spare the clips stay and play on;
    // once their playlist changed, they are freed and the chooser asks again.
    ASSERT_TRUE(keepClipsAwayFromMix()) << "this test needs " << KeepClipsMemoryMb << " MiB available";
    press(ButtonHome);
    press(ButtonX);
    EXPECT_EQ(appState.screen, Screen::Home);
    EXPECT_EQ(mix._totalTracks, 3);
    touch(150, 60);
    EXPECT_EQ(appState.mixView, Performing);
    EXPECT_EQ(h->pixel(100, 100), Blue) << "the same clip on, no reload";
    press(ButtonHome);
    press(ButtonX);
    mix.playlists[mix.loadingPlaylist].trackCount--;  // as the editor would
    touch(150, 60);
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
    EXPECT_EQ(mix._totalTracks, 0);
    EXPECT_EQ(h->pixel(10, 10), 0) << "freed: black again until a playlist loads";
}

TEST_F(Session, OverlayTogglesOnlyOnALoneButtonI) {
    open(colourSet());
    loadFirstPlaylist();
    // Above the first-use hint's row, which the presses clear.
    const uint32_t plain = region(0, 0, 319, 225);
    h->tap(ButtonI);
    h->tap(ButtonII);
    h->frame(2);
    EXPECT_EQ(decks.overlayShown, 0);
    EXPECT_EQ(region(0, 0, 319, 225), plain);
    press(ButtonI);
    EXPECT_EQ(decks.overlayShown, 1);
    EXPECT_NE(region(5, 20, 105, 95), region(200, 20, 300, 95)) << "deck panel drawn over the picture";

    // Blend page: a touch picks "half half"; the decks hold different clips, so the picture mixes.
    press(StickRight);
    h->setDown(ButtonL, true);
    h->frame();
    h->touchDown(260, 180);
    h->frame();
    h->touchUp();
    h->setDown(ButtonL, false);
    h->frame(2);
    EXPECT_EQ(decks.blendMode, 6);
    press(ButtonI);
    EXPECT_NE(region(0, 0, 319, 239), plain);
}

TEST_F(Session, ModeBButtonsCutAndReturnToTheFirstClip) {
    open(colourSet(PrefsModeB));
    EXPECT_EQ(appState.mode, ModeB);
    loadFirstPlaylist();
    EXPECT_EQ(h->pixel(160, 120), Red);

    h->setDown(ButtonY, true);
    h->frame(2);
    EXPECT_EQ(h->pixel(160, 120), Green) << "don't wait: the cut is immediate";
    h->frame(8);
    EXPECT_EQ(h->pixel(160, 120), Green) << "loops while held";
    h->setDown(ButtonY, false);
    h->frame(7);
    EXPECT_EQ(h->pixel(160, 120), Red) << "released: back to the first clip at the end of the clip";

    touch(20, 20);
    EXPECT_EQ(appState.waitForClipEnd, 1);
    const int before = decks.decks[1].position;
    h->setDown(ButtonB, true);
    h->frame();
    EXPECT_EQ(decks.decks[1].track, 0);
    EXPECT_EQ(h->pixel(160, 120), Red) << "wait: the trigger only queues";
    h->frame(6 - before);
    EXPECT_EQ(h->pixel(160, 120), Blue) << "switched at the clip end";
    h->setDown(ButtonB, false);
    h->frame();
}

TEST_F(Session, OptionsDropAFilterSwitchToModeBAndShowItAtHome) {
    open(colourSet());
    const uint32_t optionsCell = region(9, 119, 103, 213);
    touch(1, 1);  // the empty top-left cell
    EXPECT_EQ(appState.screen, Screen::Home);
    touch(60, 60);
    EXPECT_EQ(appState.screen, Screen::Home);
    EXPECT_EQ(region(9, 119, 103, 213), optionsCell);

    touch(50, 160);
    ASSERT_EQ(appState.screen, Screen::Options);
    h->touchDown(200, 25 + 10 * 2 + 3);  // SCROLL
    h->frame();
    h->touchMove(48, 48);
    h->frame();
    EXPECT_EQ(h->pixel(47, 52), 0x5D9F) << "the dragged name's blue box follows the stylus";
    h->touchUp();
    h->frame();
    EXPECT_EQ(effectTable.slots[0][0].effectId, 2);
    EXPECT_EQ(effectTable.slots[1][3].effectId, 2);
    EXPECT_EQ(effectTable.slots[0][1].effectId, 0);

    h->setDown(ButtonL, true);
    h->setDown(ButtonR, true);
    h->frame();
    EXPECT_EQ(appState.mode, ModeA) << "L and R in the same frame";
    h->setDown(ButtonL, false);
    h->setDown(ButtonR, false);
    h->frame();
    h->setDown(ButtonR, true);
    h->frame();
    h->tap(ButtonL);
    h->frame();
    h->setDown(ButtonR, false);
    h->frame();
    EXPECT_EQ(appState.mode, ModeB);

    press(ButtonX);
    EXPECT_EQ(appState.screen, Screen::Home);
    const std::string prefs = h->readFile("data/prefs.xml");
    EXPECT_NE(prefs.find("<mode>1</mode>\n\t<topbar>0</topbar>\n\t<filter>2</filter>\n\t<filter>0</filter>\n"
                         "\t<filter>0</filter>\n\t<filter>2</filter>\n"),
              std::string::npos)
        << prefs;
    EXPECT_FALSE(h->readFile("data/glove.xml").empty()) << "mode B saves the glove keys too";
    EXPECT_NE(region(9, 119, 103, 213), optionsCell) << "\"mode B\" under OPTIONS";
}

TEST_F(Session, VideoOutMakesOneSwitchPerChangeAndShowsItAtHome) {
    open(colourSet());
    const uint32_t videoCell = region(113, 150, 207, 170);
    touch(150, 170);
    ASSERT_EQ(appState.screen, Screen::VideoOut);
    EXPECT_EQ(h->pixel(5, 5), 0);
    EXPECT_EQ(h->pixel(100, 30), 0);
    EXPECT_NE(region(112, 72, 207, 167), region(0, 0, 95, 95)) << "the face-button picture";

    const int calls = platform::tvConfigCalls();
    press(ButtonA);
    press(ButtonA);
    EXPECT_EQ(platform::tvConfigCalls(), calls + 1);
    EXPECT_EQ(appState.tvOut, Pal);
    const std::string log = h->log();
    const size_t first = log.find("\nPAL\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("\nPAL\n", first + 1), std::string::npos) << "logged twice";

    touch(290, 227);
    EXPECT_EQ(appState.screen, Screen::Home);
    EXPECT_NE(region(113, 150, 207, 170), videoCell) << "PAL instead of off";
}

TEST_F(Session, TwentyPlaylistsTheLastOnesLoadFromBelowTheEdge) {
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;
    for (int i = 0; i < 19; i++) lists.push_back({"list" + std::to_string(i), {"red.q17"}});
    lists.push_back({"last", {"blue.q17", "green.q17"}});
    HarnessOptions o = colourSet();
    o.playlistsXml = playlistsXml(lists);
    open(o);
    ASSERT_EQ(mix.playlistCount, 20);
    touch(150, 60);
    const uint32_t marker0 = region(70, 60, 250, 239);
    for (int i = 0; i < 25; i++) press(StickDown);
    EXPECT_EQ(chooserSelection, 19);
    EXPECT_NE(region(70, 60, 250, 239), marker0) << "the big name follows the marker";
    press(ButtonB);
    for (int i = 0; i < 200 && mix.loading; i++) h->frame();
    h->frame(2);
    EXPECT_EQ(mix._totalTracks, 2);
    EXPECT_EQ(h->pixel(160, 120), Blue);
    press(ButtonHome);
    for (int i = 0; i < 25; i++) press(StickUp);
    EXPECT_EQ(chooserSelection, 0);
}

}  // namespace

namespace {

// Without a gamepad the keyboard stands in for the console: the face-button picture of VIDEO OUT
// names the desktop keys over the console's letters (the rest of the picture as it was).
TEST(DesktopHints, TheFaceButtonPictureNamesTheDesktopKeys) {
    Harness h;
    h.frame(41);
    appState.screen = Screen::VideoOut;
    h.frame();
    std::vector<uint16_t> shown, plain;
    auto region = [&](std::vector<uint16_t>& out) {
        for (int y = 72; y < 168; y++)
            for (int x = 112; x < 208; x++) out.push_back(h.pixel(x, y));
    };
    region(shown);
    SDL_Rect at = {112, 72, 96, 96};
    SDL_BlitSurface(videoOutScreen.buttons, nullptr, screenSurface, &at);
    region(plain);
    size_t changed = 0, firstRow = 96, lastRow = 0;
    for (size_t i = 0; i < shown.size(); i++)
        if (shown[i] != plain[i]) {
            changed++;
            firstRow = std::min(firstRow, i / 96);
            lastRow = std::max(lastRow, i / 96);
        }
    EXPECT_GT(changed, 50u) << "the four letters are redrawn";
    EXPECT_LT(changed, 4u * 13 * 15) << "only under the letters";
    EXPECT_GE(firstRow, 8u);
    EXPECT_LE(lastRow, 88u);
}

}  // namespace

// The desktop's mouse in the chooser: a click marks a playlist, a click on the marked one loads it,
// the wheel moves the marker.
TEST_F(Session, TheChooserTakesClicksAndTheWheel) {
    HarnessOptions o = colourSet();
    o.playlistsXml = playlistsXml({{"rgb", {"red.q17"}}, {"gb", {"green.q17", "blue.q17"}}, {"b", {"blue.q17"}}});
    open(o);
    touch(150, 60);  // MIX: the chooser opens
    ASSERT_EQ(appState.mixView, ChoosingPlaylist);
    touch(120, 87 + 10 * 1 + 4);
    EXPECT_EQ(chooserSelection, 1);
    EXPECT_EQ(mix.loading, 0) << "the first click only marks";
    h->wheel(120, 100, 1);
    h->frame();
    EXPECT_EQ(chooserSelection, 2);
    h->wheel(120, 100, -5);
    h->frame();
    EXPECT_EQ(chooserSelection, 0) << "the wheel stops at the first playlist";
    touch(120, 87 + 10 * 1 + 4);
    touch(120, 87 + 10 * 1 + 4);
    EXPECT_EQ(appState.mixView, Performing);
    EXPECT_EQ(mix.loadingPlaylist, 1);
}

// The overlay's deck panels say which filters are on and the blend in use; the effects page numbers
// its value panels; mode B's key box names the key and keeps to its place.
TEST_F(Session, TheOverlayShowsWhatIsOn) {
    open(colourSet());
    loadFirstPlaylist();
    press(ButtonI);
    ASSERT_TRUE(decks.overlayShown);
    const uint32_t filtersLine = region(6, 65, 100, 76), blendLine = region(6, 80, 100, 92);
    effectTable.slots[1][0] = EffectSlot{2, 0, 1, 0};  // SCROLL on
    decks.blendMode = 1;
    h->frame();
    EXPECT_NE(filtersLine, region(6, 65, 100, 76));
    EXPECT_NE(blendLine, region(6, 80, 100, 92));

    decks.page = 2;  // as while R is held
    decks.drawOverlay();
    int ink = 0;
    for (int y = 130; y < 142; y++)
        for (int x = 88; x < 100; x++) ink += h->pixel(x, y) == 0;
    EXPECT_GT(ink, 0) << "value panel 1 carries its number";

    decks.page = 0;
    appState.mode = ModeB;
    controller.key = SDLK_LCTRL;  // "left ctrl": longer than the box
    decks.drawOverlay();
    for (int x = 240; x < 264; x++) EXPECT_NE(0, h->pixel(x, 64)) << x << ": cut to its box";
    appState.mode = ModeA;
}

// The notice line never covers what can be touched on the menus: the editor's button bar stays.
TEST_F(Session, NoticesLeaveTheMenusButtonsUncovered) {
    open(colourSet());
    touch(250, 60);  // EDIT
    ASSERT_EQ(appState.screen, Screen::Editor);
    const uint32_t bar = region(0, 215, 319, 239), top = region(0, 0, 319, 13);
    postNotice("can't save playlists: disk full");
    h->frame();
    EXPECT_EQ(bar, region(0, 215, 319, 239));
    EXPECT_NE(top, region(0, 0, 319, 13));
}

// The first-use hint names the hidden keys until the performer plays the screen it is on.
TEST_F(Session, TheKeyHintGoesAfterTheFirstUse) {
    open(colourSet());
    const uint32_t withHint = region(0, 0, 319, 14);
    press(StickRight);
    press(StickLeft);
    EXPECT_NE(withHint, region(0, 0, 319, 14)) << "gone from the home menu once it was played";
    loadFirstPlaylist();
    const uint32_t mixHint = region(0, 226, 319, 239);
    press(ButtonI);
    press(ButtonI);
    EXPECT_NE(mixHint, region(0, 226, 319, 239)) << "gone from the picture after the first press";
}

// The mouse wheel scrolls the editor's lists under the pointer.
TEST_F(Session, TheWheelScrollsTheEditorsLists) {
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;
    for (int i = 0; i < 30; i++) lists.push_back({"list " + std::to_string(i), {"red.q17"}});
    HarnessOptions o = colourSet();
    o.playlistsXml = playlistsXml(lists);
    open(o);
    touch(250, 60);  // EDIT
    ASSERT_GT(mix.scrollers[0].maxTop, 3);
    h->wheel(60, 100, 3);
    h->frame();
    EXPECT_EQ(mix.scrollers[0].top, 3);
    EXPECT_EQ(mix.scrollers[1].top, 0) << "only the list under the pointer";
    h->wheel(60, 100, -10);
    h->frame();
    EXPECT_EQ(mix.scrollers[0].top, 0);
}
