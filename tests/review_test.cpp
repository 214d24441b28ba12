// Whole-program checks across the seams between the main loop, the chooser and the loading run:
// what the performer sees on the Mix screen while a playlist streams in, and when there is
// nothing to load at all.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "tools/clip/ClipWriter.h"

namespace {

const uint16_t Red = 0xF800, White = 0xFFFF;

void writeSolidClip(const std::string& path, uint16_t colour, int frames) {
    clipwriter::ClipFile clip(17, 0, uint16_t(frames));
    clip.addEntry(clipwriter::encode17Colour(colour, clipwriter::noAlpha()));
    ASSERT_TRUE(clip.writeFile(path)) << path;
}

std::string playlistsXml(const std::string& name, const std::vector<std::string>& files) {
    std::string s = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    if (!name.empty()) {
        s += "\t<playlist>\n\t\t<name>" + name + "</name>\n";
        for (const std::string& f : files) s += "\t\t<track>" + f + "</track>\n";
        s += "\t</playlist>\n";
    }
    return s + "</all>\n";
}

class MixSeams : public ::testing::Test {
protected:
    // Starts the program on the given playlists file with a red clip of 6 frames, and opens the
    // Mix screen (the chooser shows over a black picture).
    void open(const std::string& playlists) {
        HarnessOptions o;
        o.playlistsXml = playlists;
        o.start = false;
        h.reset(new Harness(o));
        writeSolidClip(h->dir + "/videos/red.q17", Red, 6);
        ASSERT_TRUE(h->startUp());
        h->frame(41);
        appState.screen = Screen::Mix;
        h->frame();
        ASSERT_EQ(appState.mixView, ChoosingPlaylist);
    }
    void load() {
        h->tap(ButtonB);
        h->frame();
    }
    // Width of the white run at the left end of screen row y.
    int whiteRun(int y) const {
        int x = 0;
        while (x < 320 && h->pixel(x, y) == White) x++;
        return x;
    }
    std::unique_ptr<Harness> h;
};

TEST_F(MixSeams, LoadingLineFollowsTheRunAndGoesWhenItEnds) {
    // Four entries, the second one missing: the line counts files, not slots.
    open(playlistsXml("four", {"red.q17", "gone.q17", "red.q17", "red.q17"}));
    options.showTopLine = 1;
    load();
    std::vector<int> widthsSeen;
    for (int i = 0; i < 400 && mix.loading; i++) {
        h->frame();
        if (mix._totalTracks == 0 || !mix.loading) continue;
        const int expected = mix.loadPosition * 320 / 4;
        ASSERT_EQ(whiteRun(7), expected) << "file " << mix.loadPosition << " of 4";
        EXPECT_EQ(h->pixel(expected, 7), Red) << "the line stops at its width";
        widthsSeen.push_back(expected);
    }
    ASSERT_FALSE(mix.loading);
    EXPECT_EQ(mix._totalTracks, 3);
    EXPECT_FALSE(widthsSeen.empty()) << "the line was drawn while clips were still loading";
    h->frame();
    EXPECT_EQ(h->pixel(0, 7), Red) << "no loading line once every file is done";

    // With the option off, no line during a run either.
    options.showTopLine = 0;
    h->tap(ButtonHome);
    h->frame();
    load();
    bool sawLoadingFrame = false;
    for (int i = 0; i < 400 && mix.loading; i++) {
        h->frame();
        if (mix._totalTracks == 0 || !mix.loading) continue;
        sawLoadingFrame = true;
        EXPECT_EQ(whiteRun(7), 0);
    }
    EXPECT_TRUE(sawLoadingFrame);
}

// A playlist can hold 51 readable clips but a run fills only the 50 slots; once the run has ended
// the screen must not keep showing an unfinished loading line for ever.
TEST_F(MixSeams, ARunCutAtFiftySlotsLeavesNoLoadingLine) {
    open(playlistsXml("long", std::vector<std::string>(51, "red.q17")));
    ASSERT_EQ(mix.playlists[0].trackCount, 51);
    options.showTopLine = 1;
    load();
    for (int i = 0; i < 2000 && mix.loading; i++) h->frame();
    ASSERT_FALSE(mix.loading);
    EXPECT_EQ(mix._totalTracks, 50);
    h->frame(2);
    EXPECT_EQ(whiteRun(7), 0) << "the run is over: no progress line";
    EXPECT_EQ(h->pixel(0, 7), Red);
}

TEST_F(MixSeams, LoadingWithNoPlaylistsEndsAtOnceAndStaysBlack) {
    open(playlistsXml("", {}));
    ASSERT_EQ(mix.playlistCount, 0);
    options.showTopLine = 1;
    load();
    EXPECT_EQ(appState.mixView, Performing);
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 0);
    EXPECT_NE(h->log().find(">> playlist loading complete\n\n"), std::string::npos);

    // The stick has nothing to step through: the deck stays put going back and lands on track 0
    // going forward; the picture stays black, the overlay still shows.
    decks.overlayShown = 1;
    h->tap(StickLeft);
    h->frame(2);
    EXPECT_EQ(decks.decks[1].track, 0);
    h->tap(StickRight);
    h->frame(2);
    EXPECT_EQ(decks.decks[1].track, 0);
    EXPECT_EQ(decks.decks[1].position, 0);
    EXPECT_EQ(h->pixel(160, 120), 0);
    EXPECT_EQ(h->pixel(0, 7), 0);

    // The chooser opens again over the black picture and shows its label.
    h->tap(ButtonHome);
    h->frame();
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
    bool label = false;
    for (int x = 72; x < 160 && !label; x++)
        for (int y = 210; y < 225 && !label; y++) label = h->pixel(x, y) != 0;
    EXPECT_TRUE(label) << "\"B load   X home\" drawn";
}

}  // namespace
