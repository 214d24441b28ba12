// The editor's operations on playlists and entries, its scrollers, and the on-screen keyboard's
// input rules, driven directly (the end-to-end sessions are in editor_screen_test.cpp).
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

#include "core/AppState.h"
#include "controls/Screens.h"
#include "core/Controller.h"
#include "controls_input.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "library_support.h"

namespace {

class Editing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        mkdir((dir.path + "/data").c_str(), 0755);
        mkdir((dir.path + "/videos").c_str(), 0755);
        freshMix();
        controller.clear();
        appState.screen = Screen::Editor;
    }
    void playlists(std::initializer_list<std::string> names) {
        int i = 0;
        for (const std::string& n : names) setPlaylist(i++, n, {n + "1.q17", n + "2.q17"});
        mix.playlistCount = i;
    }
    std::string order() const {
        std::string s;
        for (int i = 0; i < mix.playlistCount; i++) s += mix.playlists[i].name;
        return s;
    }
    std::string entries(int p = 0) const {
        std::string s;
        for (int j = 0; j < mix.playlists[p].trackCount; j++) s += (j ? "," : "") + mix.playlists[p].tracks[j].file;
        return s;
    }
    void key(std::initializer_list<Input> down = {}) { pad.frame(down, handleEditor); }

    ScratchDir dir;
    LogCapture log;
    Pad pad;
};

}  // namespace

TEST_F(Editing, MovePlaylistPutsItJustBeforeTheTarget) {
    playlists({"A", "B", "C"});
    mix.movePlaylist(0, 2);
    EXPECT_EQ(order(), "BAC");
    EXPECT_EQ(entries(1), "A1.q17,A2.q17") << "the entries travel with the name";

    playlists({"A", "B", "C"});
    mix.movePlaylist(2, 0);
    EXPECT_EQ(order(), "CAB");

    playlists({"A", "B", "C"});
    mix.movePlaylist(0, 3);
    EXPECT_EQ(order(), "BCA");
    mix.movePlaylist(0, 99);
    EXPECT_EQ(order(), "CAB") << "a target past the end puts it last";
    mix.movePlaylist(3, 0);
    EXPECT_EQ(order(), "CAB") << "a source past the end does nothing";
}

TEST_F(Editing, ScanFiguresMoveWithTheirPlaylists) {
    playlists({"A", "B"});
    mix.playlists[0].ramPercent = 7;
    mix.playlists[0].tracks[0].missing = 1;
    mix.movePlaylist(0, 2);
    EXPECT_EQ(order(), "BA");
    EXPECT_EQ(mix.playlists[1].ramPercent, 7);
    EXPECT_EQ(mix.playlists[1].tracks[0].missing, 1);
    EXPECT_EQ(mix.playlists[0].ramPercent, 0);
}

TEST_F(Editing, DeletePlaylistShiftsTheRestAndEmptiesTheLastRecord) {
    playlists({"A", "B", "C"});
    mix.playlists[2].trackCount = 3;
    mix.playlists[2].tracks[2].file = "C3.q17";
    mix.deletePlaylist(1);
    EXPECT_EQ(order(), "AC");
    EXPECT_EQ(entries(1), "C1.q17,C2.q17,C3.q17");
    EXPECT_EQ(mix.playlists[2].trackCount, 0);
    EXPECT_EQ(mix.playlists[2].tracks[2].file, "q2x/none");

    mix.deletePlaylist(2);
    EXPECT_EQ(order(), "AC") << "an index past the playlists does nothing";

    playlists({"only"});
    mix.deletePlaylist(0);
    EXPECT_EQ(mix.playlistCount, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
}

TEST_F(Editing, AddingAPlaylistSavesItAndStopsAtFifty) {
    playlists({"A"});
    mix.playlists[1].ramPercent = 9;  // left by a deleted playlist
    mix.newName = "new";
    mix.addPlaylist();
    EXPECT_EQ(order(), "Anew");
    EXPECT_EQ(mix.playlists[1].trackCount, 0);
    EXPECT_EQ(mix.playlists[1].ramPercent, 0);
    EXPECT_NE(readWholeFile(dir.path + "/data/playlists.xml").find("<name>new</name>"), std::string::npos);

    mix.playlistCount = MaxPlaylists;
    mix.addPlaylist();
    EXPECT_EQ(mix.playlistCount, MaxPlaylists);
}

TEST_F(Editing, InsertTrackClampsThePositionAndStopsAt49Entries) {
    playlists({"A"});
    mix.readDir("videos");
    mix.insertTrack("x.q18", 0, 1);
    EXPECT_EQ(entries(), "A1.q17,x.q18,A2.q17");
    mix.insertTrack("y.q18", 0, 40);
    EXPECT_EQ(entries(), "A1.q17,x.q18,A2.q17,y.q18");
    mix.insertTrack("z.q18", 0, -3);
    EXPECT_EQ(entries(), "z.q18,A1.q17,x.q18,A2.q17,y.q18");
    EXPECT_EQ(mix.scrollers[0].count, 5);

    mix.playlists[0].trackCount = 49;
    mix.insertTrack("w.q18", 0, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 49);
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "z.q18");
}

TEST_F(Editing, MoveTrackReordersTheEditedPlaylist) {
    setPlaylist(0, "P", {"a", "b", "c", "d"});
    mix.playlistCount = 1;
    mix.editPlaylist = 0;
    mix.moveTrack(0, 2);
    EXPECT_EQ(entries(), "b,a,c,d");
    mix.moveTrack(3, 0);
    EXPECT_EQ(entries(), "d,b,a,c");
    mix.moveTrack(1, 4);
    EXPECT_EQ(entries(), "d,a,c,b");
    mix.moveTrack(4, 0);
    EXPECT_EQ(entries(), "d,a,c,b") << "no entry to move";

    mix.playlists[0].trackCount = 49;
    mix.moveTrack(0, 2);
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "d") << "a playlist of 49 entries is not reordered";
}

TEST_F(Editing, DeleteTrackOnlyRemovesAnExistingEntry) {
    setPlaylist(0, "P", {"a", "b", "c"});
    mix.playlistCount = 1;
    mix.deleteTrack(0, 3);
    EXPECT_EQ(entries(), "a,b,c") << "an index past the entries must not drop the last one";
    mix.deleteTrack(0, 1);
    EXPECT_EQ(entries(), "a,c");
    EXPECT_EQ(mix.scrollers[0].count, 2);
    mix.deleteTrack(0, 0);
    mix.deleteTrack(0, 0);
    mix.deleteTrack(0, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
}

TEST_F(Editing, ScrollerLimitsAndThumbs) {
    mix.resetScroller(0, 20);
    EXPECT_EQ(mix.scrollers[0].maxTop, 5);
    EXPECT_EQ(mix.scrollers[0].thumbHeight, 32);
    mix.resetScroller(0, 15);
    EXPECT_EQ(mix.scrollers[0].maxTop, 0);
    EXPECT_EQ(mix.scrollers[0].thumbHeight, 194);
    mix.resetScroller(1, 100);
    EXPECT_EQ(mix.scrollers[1].maxTop, 85);
    EXPECT_EQ(mix.scrollers[1].thumbHeight, 20);

    mix.scrollers[1].top = 80;
    mix.setScrollerCount(1, 30);
    EXPECT_EQ(mix.scrollers[1].maxTop, 15);
    EXPECT_EQ(mix.scrollers[1].top, 15);
    EXPECT_EQ(mix.scrollers[1].thumbHeight, 20);
    mix.setScrollerCount(1, 17);
    EXPECT_EQ(mix.scrollers[1].thumbHeight, 194 / 3);

    // A list that stops scrolling while its bar is held lets go of it (its drag divides by the
    // bar's free travel, which is then 0).
    mix.scrollers[1].dragging = 1;
    mix.setScrollerCount(1, 15);
    EXPECT_EQ(mix.scrollers[1].dragging, 0);
}

TEST_F(Editing, KeyboardTouchesPickKeysByTheColumnFormula) {
    mix.editorView = NewPlaylistView;
    pad.touch(315, 60);
    key();
    EXPECT_EQ(mix.keyCursor, 10);
    EXPECT_EQ(mix.newName, "k") << "x 315 in the first row is column 10, the first key of the next row";
    pad.lift();
    key();
    pad.touch(5, 60);
    key();
    EXPECT_EQ(mix.newName, "ka");
    pad.lift();
    key();
    pad.touch(200, 51);  // above the keys
    key();
    pad.lift();
    key();
    pad.touch(100, 52 + 4 * 30);  // row 4, column 3: key 43 does not exist
    key();
    EXPECT_EQ(mix.newName, "ka");
    EXPECT_EQ(mix.keyCursor, 0);
    pad.lift();
    key();
    pad.touch(15, 52 + 4 * 30);  // Del
    key();
    EXPECT_EQ(mix.newName, "k");
}

TEST_F(Editing, KeyboardKeepsTwentyCharactersAndRefusesAnEmptyName) {
    mix.editorView = NewPlaylistView;
    mix.keyCursor = 41;
    key({ButtonB});
    key();
    EXPECT_EQ(mix.editorView, NewPlaylistView) << "OK with an empty name stays";
    EXPECT_EQ(mix.playlistCount, 0);

    mix.keyCursor = 3;
    for (int i = 0; i < 25; i++) {
        key({ButtonB});
        key();
    }
    EXPECT_EQ(mix.newName, std::string(20, 'd'));

    mix.keyCursor = 41;
    key({ButtonB});
    EXPECT_EQ(mix.editorView, PlaylistsView);
    ASSERT_EQ(mix.playlistCount, 1);
    EXPECT_EQ(mix.playlists[0].name, std::string(20, 'd'));
    EXPECT_EQ(mix.scrollers[0].count, 1);
}

TEST_F(Editing, KeyboardStickMovesWrapAndStop) {
    mix.editorView = NewPlaylistView;
    mix.keyCursor = 32;
    key({StickDown});
    EXPECT_EQ(mix.keyCursor, 41) << "from \"2\" down reaches OK";
    key();
    mix.keyCursor = 34;
    key({StickDown});
    EXPECT_EQ(mix.keyCursor, 34) << "from \"4\" down does not move";
    key();
    mix.keyCursor = 41;
    key({StickRight});
    EXPECT_EQ(mix.keyCursor, 0) << "right from OK wraps to a";
    key();
    key({StickLeft});
    EXPECT_EQ(mix.keyCursor, 41);
    key();
    key({StickUp});
    EXPECT_EQ(mix.keyCursor, 31);
    key();
    mix.keyCursor = 9;
    key({StickUp});
    EXPECT_EQ(mix.keyCursor, 9);
    key();
    key({ButtonX});
    EXPECT_EQ(mix.editorView, PlaylistsView) << "ButtonX cancels";
}

TEST_F(Editing, KeyboardRefusesAFiftyFirstPlaylist) {
    for (int i = 0; i < MaxPlaylists; i++) setPlaylist(i, "p" + std::to_string(i), {});
    mix.playlistCount = MaxPlaylists;
    mix.editorView = NewPlaylistView;
    mix.newName = "extra";
    mix.keyCursor = 41;
    key({ButtonB});
    EXPECT_EQ(mix.editorView, NewPlaylistView) << "OK does nothing when the list is full";
    EXPECT_EQ(mix.playlistCount, MaxPlaylists);
    EXPECT_EQ(mix.playlists[MaxPlaylists - 1].name, "p49");
}

TEST_F(Editing, NamesOfAnyLengthAreReadEditedAndWrittenWhole) {
    const std::string path = dir.path + "/data/playlists.xml";
    for (size_t length : {91u, 92u, 93u, 185u, 300u}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'N'), clip = std::string(length - 4, 'c') + ".q17";
        const std::string added = std::string(length - 4, 'D') + ".q17";
        writeWholeFile(path, playlistsXml({{name, {clip, "b.q17"}}, {"other", {"o.q17"}}}));
        freshMix();
        mix.loadXML();
        ASSERT_EQ(mix.playlistCount, 2);
        EXPECT_EQ(mix.playlists[0].name, name);
        EXPECT_EQ(entries(0), clip + ",b.q17");
        mix.readDir("videos");
        // Every operation that writes the file, each checked against the whole file.
        struct Step {
            const char* what;
            std::function<void()> act;
            std::vector<std::pair<std::string, std::vector<std::string>>> file;
        };
        const Step steps[] = {
            {"rename", [] { mix.renamePlaylist(1, "renamed"); }, {{name, {clip, "b.q17"}}, {"renamed", {"o.q17"}}}},
            {"move playlist", [] { mix.moveAndSave(1, 0); }, {{"renamed", {"o.q17"}}, {name, {clip, "b.q17"}}}},
            {"insert", [&] { mix.editPlaylist = 1; mix.insertAndSave(added, 1); },
             {{"renamed", {"o.q17"}}, {name, {clip, added, "b.q17"}}}},
            {"move entry", [] { mix.moveTrackAndSave(0, 3); }, {{"renamed", {"o.q17"}}, {name, {added, "b.q17", clip}}}},
            {"delete entry", [] { mix.deleteTrackAndSave(1); }, {{"renamed", {"o.q17"}}, {name, {added, clip}}}},
            {"add playlist", [] { mix.newName = "new"; mix.addPlaylist(); },
             {{"renamed", {"o.q17"}}, {name, {added, clip}}, {"new", {}}}},
            {"delete playlist", [] { mix.deleteAndSave(0); }, {{name, {added, clip}}, {"new", {}}}},
        };
        for (const Step& step : steps) {
            step.act();
            EXPECT_EQ(readWholeFile(path), playlistsXml(step.file)) << step.what;
        }
        mix.loadXML();
        EXPECT_EQ(mix.playlists[0].name, name);
        EXPECT_EQ(entries(0), added + "," + clip);
    }
}

TEST_F(Editing, PlaylistsAndEntriesPastTheShownOnesAreWrittenBackAsRead) {
    const std::string path = dir.path + "/data/playlists.xml";
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;
    for (int p = 0; p < 53; p++) lists.push_back({"p" + std::to_string(p), {"x.q17"}});
    for (int t = 1; t < 55; t++) lists[0].second.push_back("t" + std::to_string(t) + ".q17");
    writeWholeFile(path, playlistsXml(lists));
    mix.loadXML();
    EXPECT_EQ(mix.playlistCount, 50);
    EXPECT_EQ(mix.playlists[0].trackCount, 51);
    EXPECT_NE(log.text().find("only 50 of 53 playlists shown"), std::string::npos);

    mix.moveAndSave(1, 0);
    std::swap(lists[0], lists[1]);
    EXPECT_EQ(readWholeFile(path), playlistsXml(lists));
    // Deleting a shown entry brings the first kept one into view.
    mix.editPlaylist = 1;
    mix.deleteTrackAndSave(0);
    lists[1].second.erase(lists[1].second.begin());
    EXPECT_EQ(readWholeFile(path), playlistsXml(lists));
    EXPECT_EQ(mix.playlists[1].trackCount, 51);
    EXPECT_EQ(mix.playlists[1].tracks[50].file, "t51.q17");
}
