// The settings files byte for byte, read back into both decks' slots, their failure cases, and the
// options screen's three views.
#include <gtest/gtest.h>

#include <string>

#include "core/AppState.h"
#include "core/Controller.h"
#include "harness/Harness.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Options.h"
#include "mixer/Decks.h"
#include "tempo/TempoClock.h"

namespace {

const std::string declaration = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";

const std::string filterLines = "\t<mode>0</mode>\n"
                                "\t<topbar>1</topbar>\n"
                                "\t<filter>1</filter>\n\t<filter>2</filter>\n\t<filter>0</filter>\n\t<filter>3</filter>\n"
                                "\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n";
const std::string beatLines = "\t<tempo>120.00</tempo>\n\t<quantise>0</quantise>\n\t<beatflash>0</beatflash>\n"
                              "\t<sync>0</sync>\n\t<sync>0</sync>\n";
const std::string projectorLines = "\t<projectorfit>0</projectorfit>\n\t<projectorlook>0</projectorlook>\n";
const std::string examplePrefs = declaration + "\n<all>\n" + filterLines + beatLines + projectorLines + "</all>\n";
// As written before the beat's settings were saved.
const std::string olderPrefs = declaration + "\n<all>\n" + filterLines + "</all>\n";

std::string gloveWith(int index, int code) {
    std::string s = declaration + "\n<all>\n";
    for (int i = 0; i < 16; i++) s += "\t<key>" + std::to_string(i == index ? code : 0) + "</key>\n";
    return s + "</all>\n";
}

HarnessOptions withFiles(const std::string& prefs, const std::string& glove, bool pictures = false) {
    HarnessOptions o;
    o.pictures = pictures;
    o.prefsXml = prefs;
    o.gloveXml = glove;
    return o;
}

TEST(SettingsFiles, PrefsBytesForTheDocumentedExample) {
    Harness h(withFiles("", ""));
    appState.mode = ModeA;
    options.showTopLine = 1;
    const int ids[8] = {Mirror, Scroll, FilterNone, Invert, 0, 0, 0, 0};
    for (int s = 0; s < 8; s++) effectTable.slots[0][s].effectId = ids[s];
    effectTable.slots[1][0].effectId = Snow;  // deck 1's row is not what is saved
    options.savePrefs();
    EXPECT_EQ(examplePrefs, h.readFile("data/prefs.xml"));
    EXPECT_EQ(44u, declaration.size());
    EXPECT_NE(std::string::npos, h.log().find("saveXML options\n"));
}

TEST(SettingsFiles, BeatSettingsComeBackAndOlderFilesKeepTheirDefaults) {
    std::string beat = examplePrefs;
    beat.replace(beat.find(beatLines), beatLines.size(),
                 "\t<tempo>128.25</tempo>\n\t<quantise>2</quantise>\n\t<beatflash>1</beatflash>\n"
                 "\t<sync>0</sync>\n\t<sync>1</sync>\n");
    {
        Harness h(withFiles(beat, ""));
        EXPECT_NEAR(128.25, tempoClock.bpm(), 1e-9);
        EXPECT_EQ(QuantiseBar, appState.quantise);
        EXPECT_EQ(BeatFlashEveryBeat, options.beatFlash);
        EXPECT_EQ(0, decks.sync[0]);
        EXPECT_EQ(1, decks.sync[1]);
        options.savePrefs();
        EXPECT_EQ(beat, h.readFile("data/prefs.xml"));
    }
    {
        Harness h(withFiles(olderPrefs, ""));
        EXPECT_EQ(1, options.showTopLine);
        EXPECT_EQ(3, effectTable.slots[1][3].effectId);
        EXPECT_EQ(120.0, tempoClock.bpm());
        EXPECT_EQ(QuantiseClipEnd, appState.quantise);
        EXPECT_EQ(0, decks.sync[1]);
        options.savePrefs();
        EXPECT_EQ(examplePrefs, h.readFile("data/prefs.xml")) << "saved again with the beat's lines";
    }
    // Values out of range leave their defaults; the settings after them are still read.
    std::string wrong = beat;
    wrong.replace(wrong.find("128.25"), 6, "900");
    wrong.replace(wrong.find("<quantise>2"), 11, "<quantise>7");
    Harness h(withFiles(wrong, ""));
    EXPECT_EQ(120.0, tempoClock.bpm());
    EXPECT_EQ(QuantiseClipEnd, appState.quantise);
    EXPECT_EQ(1, decks.sync[1]);
}

TEST(SettingsFiles, ModeAndTopbarLinesOnlyForZeroOrOne) {
    const int32_t none[8] = {};
    const std::string s = prefsContent(5, -1, none);
    EXPECT_EQ(std::string::npos, s.find("<mode>"));
    EXPECT_EQ(std::string::npos, s.find("<topbar>"));
    EXPECT_NE(std::string::npos, prefsContent(1, 0, none).find("\n\t<mode>1</mode>\n\t<topbar>0</topbar>\n"));
}

TEST(SettingsFiles, GloveBytes) {
    Harness h(withFiles("", ""));
    options.keys[3] = 273;
    options.saveGlove();
    EXPECT_EQ(gloveWith(3, 273), h.readFile("data/glove.xml"));
    EXPECT_NE(std::string::npos, h.readFile("data/glove.xml").find("\n\t<key>0</key>\n\t<key>273</key>\n"));
    EXPECT_NE(std::string::npos, h.log().find("save glove XML options\n"));
}

TEST(SettingsFiles, ReadBackIntoBothDecksSlots) {
    Harness h(withFiles(examplePrefs, gloveWith(3, 273)));
    EXPECT_EQ(ModeA, appState.mode);
    EXPECT_EQ(1, options.showTopLine);
    const int ids[8] = {1, 2, 0, 3, 0, 0, 0, 0};
    for (int d = 0; d < 2; d++)
        for (int s = 0; s < 8; s++) {
            EXPECT_EQ(ids[s], effectTable.slots[d][s].effectId) << "deck " << d << " slot " << s;
            EXPECT_EQ(0, effectTable.slots[d][s].on);
            EXPECT_EQ(0, effectTable.slots[d][s].value);
        }
    for (int k = 0; k < 16; k++) EXPECT_EQ(k == 3 ? 273 : 0, options.keys[k]);
    const std::string log = h.log();
    EXPECT_NE(std::string::npos, log.find("start XML loading options\nend XML loading\n \n"));
    EXPECT_NE(std::string::npos, log.find("start XML loading glove options\nend XML loading\n \n"));

    // Saving what was read gives the same bytes back.
    options.savePrefs();
    EXPECT_EQ(examplePrefs, h.readFile("data/prefs.xml"));
}

TEST(SettingsFiles, ModeBAndAWriteTheirFilesOnLeaving) {
    std::string modeB = examplePrefs;
    modeB.replace(modeB.find("<mode>0"), 7, "<mode>1");
    {
        Harness h(withFiles(modeB, ""));
        EXPECT_EQ(ModeB, appState.mode);
        appState.screen = Screen::Options;
        options.saveAndLeave();
        EXPECT_EQ(Screen::Home, appState.screen);
        EXPECT_EQ(modeB, h.readFile("data/prefs.xml"));
        EXPECT_EQ(gloveWith(-1, 0), h.readFile("data/glove.xml"));
    }
    {
        Harness h(withFiles(examplePrefs, ""));
        options.saveAndLeave();
        EXPECT_EQ(examplePrefs, h.readFile("data/prefs.xml"));
        EXPECT_EQ("", h.readFile("data/glove.xml")) << "mode A writes no glove file";
    }
}

TEST(SettingsFiles, MissingFilesKeepTheDefaults) {
    Harness h(withFiles("", ""));
    EXPECT_EQ(ModeA, appState.mode);
    EXPECT_EQ(0, options.showTopLine);
    for (int s = 0; s < 8; s++) EXPECT_EQ(0, effectTable.slots[1][s].effectId);
    for (int k = 0; k < 16; k++) EXPECT_EQ(0, options.keys[k]);
    const std::string log = h.log();
    EXPECT_NE(std::string::npos,
              log.find("start XML loading options\ncan't find options XML file\nend XML loading\n \n"));
    EXPECT_NE(std::string::npos,
              log.find("start XML loading glove options\ncan't find options XML file\nend XML loading\n \n"));
}

TEST(SettingsFiles, OddValuesInsideAFile) {
    const std::string prefs = declaration +
                              "\n<all>\n\t<mode>2</mode>\n\t<topbar>yes</topbar>\n"
                              "\t<filter>9</filter>\n\t<filter>abc</filter>\n\t<filter>99999999999999</filter>\n"
                              "\t<filter>-4</filter>\n\t<filter> 7</filter>\n</all>\n";
    Harness h(withFiles(prefs, declaration + "\n<all>\n\t<key>65</key>\n</all>\n"));
    EXPECT_EQ(ModeA, appState.mode) << "mode left as it was";
    EXPECT_EQ(0, options.showTopLine);
    EXPECT_EQ(Snow, effectTable.slots[0][0].effectId);
    EXPECT_EQ(0, effectTable.slots[0][1].effectId) << "text reads as 0";
    EXPECT_EQ(2147483647, effectTable.slots[0][2].effectId) << "a too large number saturates";
    EXPECT_EQ(-4, effectTable.slots[0][3].effectId);
    EXPECT_EQ(7, effectTable.slots[1][4].effectId);
    for (int s = 5; s < 8; s++) EXPECT_EQ(0, effectTable.slots[0][s].effectId) << "missing elements";
    EXPECT_EQ(65, options.keys[0]);
    for (int k = 1; k < 16; k++) EXPECT_EQ(0, options.keys[k]);
    EXPECT_STREQ("NONE", filterName(effectTable.slots[0][2].effectId));
}

// The options screen, compared region by region between two states.
class OptionsScreen : public ::testing::Test {
protected:
    Harness h{withFiles("", "", true)};
    void SetUp() override {
        options.view = FiltersView;
        options.dragging = 0;
        options.showTopLine = 0;
        appState.mode = ModeA;
        effectTable.clearEffects();
    }
    uint32_t region(int x0, int y0, int x1, int y1) {
        uint32_t sum = 2166136261u;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) sum = (sum ^ h.pixel(x, y)) * 16777619u;
        return sum;
    }
    void draw() { drawOptions(options, screenSurface, uiTexture); }
};

TEST_F(OptionsScreen, SlotNamesOnlyForAssignedSlots) {
    draw();
    const uint32_t top = region(74, 24, 120, 33), left = region(42, 56, 90, 65);
    uint32_t blank = h.screenChecksum();
    draw();
    EXPECT_EQ(blank, h.screenChecksum()) << "drawing is repeatable";
    effectTable.slots[0][0].effectId = Mirror;
    draw();
    EXPECT_NE(top, region(74, 24, 120, 33));
    EXPECT_EQ(left, region(42, 56, 90, 65)) << "slot 3 still NONE: no name";
    effectTable.slots[1][3].effectId = Mirror;  // deck 1's row is not shown
    draw();
    EXPECT_EQ(left, region(42, 56, 90, 65));
}

TEST_F(OptionsScreen, FilterListCheckboxAndModeB) {
    draw();
    EXPECT_EQ(0x2104, h.pixel(318, 128)) << "list background";
    EXPECT_EQ(0x0000, h.pixel(318, 131));
    const uint32_t box = region(20, 190, 35, 205), keysButton = region(5, 219, 52, 234),
                   modeLabel = region(5, 5, 40, 14);
    options.showTopLine = 1;
    draw();
    EXPECT_NE(box, region(20, 190, 35, 205)) << "ticked box";
    appState.mode = ModeB;
    draw();
    EXPECT_NE(keysButton, region(5, 219, 52, 234)) << "keys button in mode B";
    EXPECT_NE(modeLabel, region(5, 5, 40, 14)) << "\"mode B\" label";
}

TEST_F(OptionsScreen, DraggedFilterFollowsTheStylus) {
    controller.touchX = 200;
    controller.touchY = 180;
    options.pickedFilter = Zoom;
    options.dragging = 1;
    draw();
    EXPECT_EQ(0x5D9F, h.pixel(198, 180));
    EXPECT_EQ(0x5D9F, h.pixel(257, 189));
    EXPECT_EQ(0x0000, h.pixel(258, 189));
}

TEST_F(OptionsScreen, KeysViewShowsEachRowsCode) {
    options.view = KeysView;
    draw();
    const uint32_t row3 = region(130, 59, 170, 70), row4 = region(130, 72, 170, 83);
    EXPECT_NE(0u, row3);
    options.keys[3] = 273;
    draw();
    EXPECT_NE(row3, region(130, 59, 170, 70));
    EXPECT_EQ(row4, region(130, 72, 170, 83));
    options.keys[3] = 0;
}

TEST_F(OptionsScreen, WaitingViewAndTheLeaveButtonInEveryView) {
    options.view = WaitingForKeyView;
    options.keyToAssign = 0;
    draw();
    const uint32_t number = region(40, 53, 60, 64), leave = region(267, 219, 314, 234);
    options.keyToAssign = 4;
    draw();
    EXPECT_NE(number, region(40, 53, 60, 64));
    EXPECT_EQ(leave, region(267, 219, 314, 234));
    int ink = 0;
    for (int x = 267; x < 315; x++) ink += h.pixel(x, 226) != 0;
    EXPECT_GT(ink, 0) << "the leave button is drawn";
    options.view = 7;
    draw();
    EXPECT_EQ(leave, region(267, 219, 314, 234));
    EXPECT_EQ(0x0000, h.pixel(50, 50)) << "unknown view: black apart from the button";
    options.view = FiltersView;
}

}  // namespace
