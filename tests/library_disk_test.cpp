// The library stays true to data/playlists.xml while other programs write it, the editor's saves
// lose nothing, and failures reach the screen: whole-program sessions as a performer meets them.
#include <gtest/gtest.h>


#include "app/Startup.h"
#include "controls/Screens.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "editor_session.h"
#include "mixer/Options.h"
#include "remote/MidiMap.h"
#include "library_support.h"

namespace {

std::string shownNotice() {
    const char* text = noticeShown(platform::ticks());
    return text ? text : "";
}

const int DeleteX = 30, BackX = 290;

}  // namespace

TEST(LibraryOnDisk, AnOutsideWriteWhileTheEditorIsOpenAndTheEditsThatFollowKeepBoth) {
    EditorSession s(playlistsFile({{"A", {"a1.q18", "a2.q18"}}, {"B", {"b.q18"}}}));
    s.enter();
    s.editPlaylistOnRow(0);
    // While A is open, the encoder adds a playlist; then A loses its first entry and is saved.
    s.h.writeFile("data/playlists.xml",
                  playlistsFile({{"A", {"a1.q18", "a2.q18"}}, {"B", {"b.q18"}}, {"Variants", {"v.q18"}}}));
    s.drag(LeftX, rowY(0), DeleteX, BottomY);
    s.tap(BackX, BottomY);
    EXPECT_EQ(s.names(), "ABVariants");
    EXPECT_EQ(s.h.readFile("data/playlists.xml"),
              playlistsFile({{"A", {"a2.q18"}}, {"B", {"b.q18"}}, {"Variants", {"v.q18"}}}));

    // Another outside change, then a move in the list: applied to the fresh file, by name.
    s.h.writeFile("data/playlists.xml", playlistsFile({{"New", {}}, {"A", {"a2.q18"}}, {"B", {"b.q18"}},
                                                      {"Variants", {"v.q18"}}}));
    s.drag(LeftX, rowY(1), LeftX, rowY(0));  // B (row 1 of the list shown) before A
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), playlistsFile({{"New", {}}, {"B", {"b.q18"}}, {"A", {"a2.q18"}},
                                                                 {"Variants", {"v.q18"}}}));
    EXPECT_EQ(s.names(), "NewBAVariants");
}

TEST(LibraryOnDisk, PlaylistsAddedOutsideAppearOnTheHomeMenuAndInTheChooser) {
    Harness h(withPlaylists(playlistsFile({{"A", {}}})));
    h.frame(41);
    appState.screen = Screen::Options;
    h.writeFile("data/playlists.xml", playlistsFile({{"A", {}}, {"B", {}}}));
    h.tap(ButtonX);  // leaving the options screen for the home menu
    h.frame();
    ASSERT_EQ(appState.screen, Screen::Home);
    EXPECT_EQ(mix.playlistCount, 2);

    h.writeFile("data/playlists.xml", playlistsFile({{"A", {}}, {"B", {}}, {"C", {}}}));
    h.tap(ButtonB);  // MIX: the chooser opens
    h.frame();
    ASSERT_EQ(appState.screen, Screen::Mix);
    EXPECT_EQ(mix.playlistCount, 3);
    EXPECT_EQ(mix.playlists[2].name, "C");
}

TEST(LibraryOnDisk, ADeletedPlaylistStaysDeletedAfterARestart) {
    EditorSession s(playlistsFile({{"A", {}}, {"B", {}}}));
    s.enter();
    s.drag(LeftX, rowY(0), DeleteX, BottomY);
    ASSERT_EQ(s.names(), "B");
    tearDownForTests();
    ASSERT_TRUE(s.h.startUp());
    EXPECT_EQ(s.names(), "B");
}

TEST(LibraryOnDisk, LeavingTheEditorInTheMiddleOfADragDropsNothingLater) {
    const std::string file = playlistsFile({{"A", {}}, {"B", {}}, {"C", {}}});
    EditorSession s(file);
    s.enter();
    s.h.touchDown(LeftX, rowY(0));  // A picked up...
    s.h.frame();
    s.h.tap(ButtonX);  // ...when X leaves the editor
    s.h.frame();
    ASSERT_EQ(appState.screen, Screen::Home);
    s.h.touchMove(LeftX, rowY(2));  // the stylus comes up over the empty top-left cell
    s.h.frame();
    s.h.touchUp();
    s.h.frame();
    s.h.tap(StickRight);  // EDIT again, with the buttons: the first frame there has no touch
    s.h.frame(2);
    s.h.tap(ButtonB);
    s.h.frame(2);
    ASSERT_EQ(appState.screen, Screen::Editor);
    EXPECT_EQ(s.names(), "ABC");
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), file);
}

TEST(LibraryOnDisk, ASaveOntoAFullDiskKeepsTheOldFileShowsTheNoticeAndSavesAtTheNextChange) {
    const std::string file = playlistsFile({{"A", {}}, {"B", {}}, {"C", {}}});
    EditorSession s(file);
    s.enter();
    // "unsaved" in red beside the title while the list shows what the file does not hold.
    auto unsavedShown = [&] {
        int red = 0;
        for (int y = 4; y < 18; y++)
            for (int x = 95; x < 150; x++) red += s.h.pixel(x, y) == toRgb565(0xDD0000);
        return red > 0;
    };
    EXPECT_FALSE(unsavedShown());
    {
        FileSizeLimit limit(16);  // below the new file: the write fails as on a full disk
        ASSERT_TRUE(limit.ok);
        s.drag(LeftX, rowY(1), LeftX, rowY(0));
    }

    EXPECT_EQ(s.h.readFile("data/playlists.xml"), file);
    EXPECT_EQ(shownNotice(), "can't save playlists: disk full");
    s.h.frame(20);
    EXPECT_EQ(shownNotice(), "can't save playlists: disk full") << "still shown a few frames later";
    EXPECT_TRUE(unsavedShown());

    s.drag(LeftX, rowY(2), LeftX, rowY(0));  // C first: both moves reach the file
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), playlistsFile({{"C", {}}, {"B", {}}, {"A", {}}}));
    EXPECT_FALSE(unsavedShown());
}

TEST(LibraryOnDisk, TheTracksViewSavesEachChangeAtOnceAndShowsClipsAddedOutside) {
    EditorSession s(playlistsFile({{"A", {"a1.q18", "a2.q18"}}}));
    s.h.writeFile("videos/new.q18", "");
    s.enter();
    s.editPlaylistOnRow(0);
    // The encoder adds a clip to A while it is open: the open view shows it at the next frame.
    s.h.writeFile("data/playlists.xml", playlistsFile({{"A", {"a1.q18", "a2.q18", "enc.q18"}}}));
    s.h.frame();
    EXPECT_EQ(s.entries(0), "a1.q18,a2.q18,enc.q18");
    // Each change is in the file at once, without BACK: a kill now loses nothing.
    s.drag(LeftX, rowY(2), LeftX, rowY(0));
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), playlistsFile({{"A", {"enc.q18", "a1.q18", "a2.q18"}}}));
    // Written while new.q18 is dragged from the browser: the drop lands in the fresh file.
    s.h.touchDown(BrowserX, rowY(0));
    s.h.frame();
    s.h.writeFile("data/playlists.xml", playlistsFile({{"A", {"enc.q18", "a1.q18", "a2.q18", "enc2.q18"}}}));
    s.h.touchMove(LeftX, rowY(1));
    s.h.frame();
    s.h.touchUp();
    s.h.frame();
    EXPECT_EQ(s.h.readFile("data/playlists.xml"),
              playlistsFile({{"A", {"enc.q18", "new.q18", "a1.q18", "a2.q18", "enc2.q18"}}}));
    s.drag(LeftX, rowY(2), DeleteX, BottomY);
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), playlistsFile({{"A", {"enc.q18", "new.q18", "a2.q18", "enc2.q18"}}}));
}

TEST(LibraryOnDisk, APlaylistWithNoPlayableClipSaysSoOnScreen) {
    Harness h(withPlaylists(playlistsFile({{"Ghosts", {"gone.q18", "also-gone.q17"}}})));
    h.writeFile("videos/also-gone.q17", "not a clip");
    h.frame(41);
    h.tap(ButtonB);  // MIX
    h.frame(2);
    h.tap(ButtonB);  // load the marked playlist
    h.frame(4);
    EXPECT_EQ(mix._totalTracks, 0);
    EXPECT_EQ(shownNotice(), "no playable clip in Ghosts");
}

TEST(LibraryOnDisk, EverySaveFailureShowsItsNoticeOneAfterTheOther) {
    Harness h(withPlaylists(playlistsFile({{"A", {}}})));
    h.frame(41);
    ASSERT_GT(midiTargetCount(), 0);
    midiMap.path = h.dir + "/data/midimap.xml";
    {
        FileSizeLimit limit(16);  // a full disk for the options, the glove keys and MIDI learn at once
        ASSERT_TRUE(limit.ok);
        options.savePrefs();
        options.saveGlove();
        midiMap.learnTarget = 0;
        midiMap.handle(MidiEvent{MidiControlChange, 0, 7, 64});
    }
    midiMap.path.clear();
    std::vector<std::string> seen;
    for (int i = 0; i < 1000 && (seen.empty() || !seen.back().empty()); i++) {
        const std::string shown = shownNotice();
        if (seen.empty() || seen.back() != shown) seen.push_back(shown);
        h.frame();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"can't save options: disk full", "can't save glove keys: disk full",
                                              "can't save MIDI map: disk full", ""}));
}
