// Whole-program sessions on the editor screen: the stylus picks rows up and drops them, the changes
// reach data/playlists.xml, and the screen shows what the state says.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/Notice.h"
#include "draw/Colours.h"
#include "editor_session.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "tracks/Track.h"

namespace {

const uint16_t Blue = toRgb565(0x59B1FF);
const uint16_t Amber = toRgb565(0xFFB000);
const uint16_t BarTrack = toRgb565(0x444444);

}  // namespace

TEST(EditorScreen, DraggingPlaylistBOntoAReordersThemAndSavesTheFile) {
    EditorSession s(playlistsFile({{"A", {"a.q17"}}, {"B", {"b.q17"}}, {"C", {}}}));
    s.enter();

    s.h.touchDown(LeftX, rowY(1));
    s.h.frame();
    s.h.touchMove(LeftX, rowY(0));
    s.h.frame();
    EXPECT_EQ(s.h.pixel(80, 18), Amber) << "the insertion mark above row 0 follows the stylus";
    s.h.touchUp();
    s.h.frame();

    EXPECT_EQ(s.names(), "BAC");
    EXPECT_EQ(s.entries(0), "b.q17");
    const std::string saved = s.h.readFile("data/playlists.xml");
    EXPECT_LT(saved.find("<name>B</name>"), saved.find("<name>A</name>")) << saved;
    EXPECT_LT(saved.find("<name>A</name>"), saved.find("<name>C</name>")) << saved;
}

TEST(EditorScreen, AClipFromASubfolderBecomesTheThirdEntryUnderItsRelativeName) {
    EditorSession s(playlistsFile({{"P", {"e0.q17", "e1.q17", "e2.q17", "e3.q17", "e4.q17"}}}));
    s.folder("videos/sub");
    s.h.writeFile("videos/sub/new.q18", "clip");
    s.enter();
    s.editPlaylistOnRow(0);
    ASSERT_EQ(mix.browserCount, 2);  // and the row that types a live source
    ASSERT_EQ(mix.browserNames[0], "sub");

    s.tap(BrowserX, rowY(0));  // opens "sub": "..", "new.q18"
    ASSERT_EQ(mix.browserCount, 2);
    ASSERT_EQ(mix.browserNames[1], "new.q18");

    s.drag(BrowserX, rowY(1), 250, rowY(2));
    EXPECT_EQ(mix.playlists[0].trackCount, 5) << "a release on the right half inserts nothing";

    s.drag(BrowserX, rowY(1), LeftX, rowY(2));
    EXPECT_EQ(s.entries(0), "e0.q17,e1.q17,sub/new.q18,e2.q17,e3.q17,e4.q17");

    s.tap(290, BottomY);  // back: saves
    EXPECT_EQ(mix.editorView, PlaylistsView);
    const std::string saved = s.h.readFile("data/playlists.xml");
    EXPECT_NE(saved.find("<track>e1.q17</track>\n\t\t<track>sub/new.q18</track>\n\t\t<track>e2.q17</track>"),
              std::string::npos)
        << saved;
}

TEST(EditorScreen, TouchesPastTheLastBrowserRowDoNothing) {
    EditorSession s(playlistsFile({{"P", {}}}));
    s.folder("videos/sub");
    s.folder("videos/sub/error");  // the filler name of empty rows must not open this folder
    s.enter();
    s.editPlaylistOnRow(0);
    s.tap(BrowserX, rowY(0));
    ASSERT_EQ(mix.browserCount, 2);
    const std::string shown = mix.browserPath;

    s.tap(BrowserX, rowY(5));
    EXPECT_EQ(mix.browserPath, shown);
    s.drag(BrowserX, rowY(6), LeftX, rowY(0));
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
}

TEST(EditorScreen, BrowsingLeavesRelativePathsAtTheStartFolder) {
    EditorSession s(playlistsFile({{"P", {}}}));
    s.folder("videos/sub");
    s.folder("videos/sub/deeper");
    char* before = getcwd(nullptr, 0);
    s.enter();
    s.editPlaylistOnRow(0);
    s.tap(BrowserX, rowY(0));  // sub
    s.tap(BrowserX, rowY(1));  // deeper
    ASSERT_EQ(mix.browserPath, s.h.dir + "/videos/sub/deeper");
    s.tap(290, BottomY);       // back, saving
    s.tap(290, BottomY);       // home
    ASSERT_EQ(appState.screen, Screen::Home);

    char* after = getcwd(nullptr, 0);
    EXPECT_STREQ(after, before);
    free(before);
    free(after);
    EXPECT_NE(s.h.log().find(">deeper<"), std::string::npos) << "the log still lands in data/log.txt";

    // The second visit opens the top clip folder again.
    s.tap(250, 50);
    s.editPlaylistOnRow(0);
    EXPECT_EQ(mix.browserPath, s.h.dir + "/videos");
    ASSERT_EQ(mix.browserCount, 2);  // and the row that types a live source
    EXPECT_EQ(mix.browserNames[0], "sub");
}

TEST(EditorScreen, APreviewOfAMissingFileEndsAtOnceAndTheListsStay) {
    EditorSession s(playlistsFile({{"P", {"gone.q18"}}}));
    s.enter();
    s.editPlaylistOnRow(0);
    s.drag(LeftX, rowY(0), 100, BottomY);
    EXPECT_EQ(mix.previewing, 0);
    EXPECT_EQ(mix.editorView, TracksView);
    EXPECT_EQ(s.h.pixel(155, 100), BarTrack) << "the lists are drawn, not a preview";
}

TEST(EditorScreen, APreviewPlaysTheClipInPlaceOfTheListsUntilTheNextTouch) {
    HarnessOptions o;
    o.demoClips = true;
    o.playlistsXml = playlistsFile({{"P", {"bars.q17"}}});
    EditorSession s(o);
    s.folder("videos/sub");
    s.h.writeFile("videos/sub/copy.q17", s.h.readFile("videos/bars.q17"));
    s.enter();
    s.editPlaylistOnRow(0);
    int subRow = 0;
    while (subRow < mix.browserCount && mix.browserNames[subRow] != "sub") subRow++;
    ASSERT_LT(subRow, VisibleRows);

    s.drag(LeftX, rowY(0), 100, BottomY);
    ASSERT_EQ(mix.previewing, 1);
    ASSERT_EQ(mix.preview->ready, Ready);
    const int frames = mix.preview->frameCount;
    ASSERT_GT(frames, 12);
    EXPECT_EQ(mix.previewFrame, 1) << "the drop's frame already shows frame 0";
    s.h.frame(10);
    EXPECT_EQ(mix.previewFrame, 11);
    EXPECT_EQ(s.h.pixel(200, 150), deckFrames[FramePixels + 150 * FrameWidth + 200]) << "deck 1's frame on screen";
    EXPECT_EQ(s.h.pixel(11 * 320 / frames - 1, 4), 0xFFFF) << "the progress line ends at the frame shown";
    EXPECT_NE(s.h.pixel(11 * 320 / frames + 1, 4), 0xFFFF);

    // The first touch only stops it: the folder row under it is not opened.
    s.tap(BrowserX, rowY(subRow));
    EXPECT_EQ(mix.previewing, 0);
    EXPECT_EQ(mix.browserPath, s.h.dir + "/videos");
    EXPECT_EQ(s.h.pixel(155, 100), BarTrack);

    // A clip of a subfolder previews under its name relative to videos.
    s.tap(BrowserX, rowY(subRow));
    ASSERT_EQ(mix.browserNames[1], "copy.q17");
    s.drag(BrowserX, rowY(1), 100, BottomY);
    EXPECT_EQ(mix.previewing, 1);
    EXPECT_EQ(mix.preview->name, "sub/copy.q17");
    s.h.tap(ButtonX);
    s.h.frame();
    EXPECT_EQ(mix.previewing, 0) << "ButtonX also stops it";
    EXPECT_EQ(appState.screen, Screen::Editor) << "and does not leave the tracks view";
}

TEST(EditorScreen, TheTrackListOfTwentyEntriesScrollsByItsBar) {
    std::vector<std::string> twenty;
    for (int i = 0; i < 20; i++) twenty.push_back("t" + std::to_string(i) + ".q17");
    EditorSession s(playlistsFile({{"P", twenty}}));
    Playlist& p = mix.playlists[0];
    s.enter();
    s.editPlaylistOnRow(0);
    EXPECT_EQ(mix.scrollers[0].maxTop, 5);
    EXPECT_EQ(mix.scrollers[0].thumbHeight, 32);

    s.h.touchDown(155, 30);
    s.h.frame();
    s.h.touchMove(155, 214);
    s.h.frame();
    EXPECT_EQ(mix.scrollers[0].top, 5);
    EXPECT_EQ(s.h.pixel(155, 200), Amber) << "the held thumb is drawn at the bottom in amber";
    s.h.touchMove(155, 20);
    s.h.frame();
    EXPECT_EQ(mix.scrollers[0].top, 0);
    s.h.touchUp();
    s.h.frame();
    EXPECT_EQ(mix.scrollers[0].dragging, 0);

    // Scrolled to the end, the top row picks entry 5 and a drop on row 0 puts it before entry 5.
    s.drag(155, 30, 155, 214);
    s.drag(LeftX, rowY(14), LeftX, rowY(0));
    EXPECT_EQ(p.tracks[5].file, "t19.q17");
}

TEST(EditorScreen, MoreThanFifteenPlaylistsScrollWithTheLeftBar) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    for (int i = 0; i < 20; i++) xml += "\t<playlist>\n\t\t<name>p" + std::to_string(i) + "</name>\n\t</playlist>\n";
    EditorSession s(xml + "</all>\n");
    s.enter();
    ASSERT_EQ(mix.playlistCount, 20);
    EXPECT_EQ(mix.scrollers[0].maxTop, 5);

    s.drag(155, 30, 155, 214);
    ASSERT_EQ(mix.scrollers[0].top, 5);
    s.tap(LeftX, rowY(0));
    EXPECT_EQ(mix.editPlaylist, 5) << "the row picked is counted from the top of the scrolled list";
    EXPECT_EQ(s.h.pixel(145, rowY(0)), Blue) << "and drawn highlighted on that row";

    s.drag(LeftX, rowY(0), LeftX, rowY(3));
    EXPECT_EQ(mix.playlists[7].name, "p5");
    EXPECT_EQ(mix.playlists[5].name, "p6");
    EXPECT_NE(s.h.readFile("data/playlists.xml").find("<name>p7</name>\n\t</playlist>\n\t<playlist>\n\t\t<name>p5</name>"),
              std::string::npos);

    // Editing the last playlist and coming back keeps it in view.
    s.editPlaylistOnRow(14);
    EXPECT_EQ(mix.editPlaylist, 19);
    s.tap(290, BottomY);
    EXPECT_EQ(mix.scrollers[0].top, 5);
    EXPECT_EQ(s.h.pixel(145, rowY(14)), Blue);
}

TEST(EditorScreen, DeletingTheOnlyPlaylistLeavesAnEmptyList) {
    EditorSession s(playlistsFile({{"solo", {"a.q17"}}}));
    s.enter();
    s.tap(LeftX, rowY(0));
    EXPECT_EQ(s.h.pixel(145, rowY(0)), Blue);
    s.drag(LeftX, rowY(0), 30, BottomY);
    EXPECT_EQ(mix.playlistCount, 0);
    EXPECT_EQ(s.h.pixel(145, rowY(0)), 0) << "no playlist row is drawn";
    EXPECT_EQ(mix.scrollers[0].count, 0);
    s.tap(LeftX, rowY(0));
    EXPECT_EQ(mix.dragActive, 0) << "an empty list has nothing to pick";
}

TEST(EditorScreen, TheKeyboardNamesAndSavesANewPlaylist) {
    EditorSession s(playlistsFile({{"A", {}}}));
    s.enter();
    s.tap(160, BottomY);
    ASSERT_EQ(mix.editorView, NewPlaylistView);
    s.tap(15 + 30 * 7, 60);       // h
    s.tap(15 + 30 * 8, 60);       // i
    s.tap(15 + 30 * 1, 60 + 90);  // "1"
    EXPECT_EQ(mix.newName, "hi1");
    s.tap(45, 52 + 120);  // OK
    EXPECT_EQ(mix.editorView, PlaylistsView);
    EXPECT_EQ(s.names(), "Ahi1");
    EXPECT_NE(s.h.readFile("data/playlists.xml").find("<name>hi1</name>"), std::string::npos);
}

TEST(EditorScreen, RenameAndAClickOnEditActOnTheMarkedPlaylist) {
    EditorSession s(playlistsFile({{"first", {"a.q17"}}, {"second", {}}}));
    s.enter();
    s.tap(LeftX, rowY(0));
    s.tap(RenameX0 + 5, 225);
    ASSERT_EQ(mix.editorView, NewPlaylistView);
    EXPECT_EQ(mix.newName, "first") << "the keyboard starts from the name";
    s.h.type("\b\b\b\b\bNew name\r");
    s.h.frame();
    EXPECT_EQ(mix.editorView, PlaylistsView);
    EXPECT_EQ(s.names(), "New namesecond");
    EXPECT_NE(s.h.readFile("data/playlists.xml").find("<name>New name</name>\n\t\t<track>a.q17</track>"), std::string::npos);

    s.tap(100, 225);
    EXPECT_EQ(mix.editorView, TracksView) << "a click on EDIT edits the marked playlist";
    EXPECT_EQ(mix.editPlaylist, 0);
}

// On the desktop the physical keyboard types the name: capitals, spaces, the keys that otherwise
// stand for console buttons; markup characters are refused; Backspace, Enter and Escape edit, confirm
// and cancel.
TEST(EditorScreen, ThePhysicalKeyboardTypesTheName) {
    EditorSession s(playlistsFile({{"A", {}}}));
    s.enter();
    s.tap(160, BottomY);
    ASSERT_EQ(mix.editorView, NewPlaylistView);
    s.h.type("My <set>x\b 2");
    s.h.frame();
    EXPECT_EQ(mix.newName, "My set 2");
    s.h.type("\r");
    s.h.frame();
    EXPECT_EQ(mix.editorView, PlaylistsView);
    EXPECT_NE(s.h.readFile("data/playlists.xml").find("<name>My set 2</name>"), std::string::npos);

    s.tap(160, BottomY);
    s.h.type("wasd\x1b");
    s.h.frame();
    EXPECT_EQ(mix.editorView, PlaylistsView) << "Escape cancels";
    EXPECT_EQ(mix.playlistCount, 2);
    s.h.type("\x1b");
    s.h.frame(2);
    EXPECT_EQ(appState.screen, Screen::Editor) << "keys are console buttons again once the name is given up";
}

// The mark follows the playlist moved or made, so that EDIT, RENAME and DEL act on it.
TEST(EditorScreen, TheMarkFollowsAMovedOrNewPlaylist) {
    EditorSession s(playlistsFile({{"a", {}}, {"b", {}}, {"c", {}}}));
    s.enter();
    s.drag(LeftX, rowY(0), LeftX, rowY(3));  // a to the end
    ASSERT_EQ(s.names(), "bca");
    EXPECT_EQ(mix.playlists[mix.editPlaylist].name, "a");
    s.tap(160, BottomY);  // NEW
    s.h.type("d\r");
    s.h.frame();
    ASSERT_EQ(s.names(), "bcad");
    EXPECT_EQ(mix.playlists[mix.editPlaylist].name, "d");
}

// DEL can be taken back: a touch on its notice within four seconds puts the playlist back in its
// place, saved; later it stays deleted.
TEST(EditorScreen, ADeletedPlaylistComesBackFromItsNotice) {
    EditorSession s(playlistsFile({{"a", {"x.q17"}}, {"b", {}}, {"c", {}}}));
    s.enter();
    const std::string before = s.h.readFile("data/playlists.xml");
    s.drag(LeftX, rowY(0), 30, BottomY);  // a onto DEL
    ASSERT_EQ(s.names(), "bc");
    EXPECT_STREQ(notice.text, "deleted a: touch to undo");
    s.tap(160, 5);
    EXPECT_EQ(s.names(), "abc");
    EXPECT_EQ(s.h.readFile("data/playlists.xml"), before);
    EXPECT_EQ(mix.playlists[mix.editPlaylist].name, "a");

    s.drag(LeftX, rowY(1), 30, BottomY);  // b onto DEL
    s.h.callAfter(UndoMs);
    s.tap(160, 5);
    EXPECT_EQ(s.names(), "ac") << "too late: it stays deleted";
}
