// The library at its limits, through whole-program sessions: the chooser and the editor with no
// playlists, fifty of them, long and odd names, damaged clips, large folders and long playlists.
// What counts is what the screen shows and what reaches data/playlists.xml.
#include <gtest/gtest.h>

#include "draw/NoticeLine.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Notice.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "tools/clip/ClipWriter.h"

namespace {

using Lists = std::vector<std::pair<std::string, std::vector<std::string>>>;

int rowY(int row) { return 20 + 13 * row + 5; }
const int LeftX = 50, BrowserX = 200, BottomY = 226;
const uint16_t Blue = toRgb565(0x59B1FF), BarTrack = toRgb565(0x444444);
const uint16_t MissingRed = toRgb565(0xDD0000), PresentGrey = toRgb565(0xCCCCCC);

class Limits : public ::testing::Test {
protected:
    // Starts the program on a playlists file; prepare writes clips and folders before start-up.
    void open(const std::string& xml, const std::function<void(Harness&)>& prepare = nullptr) {
        HarnessOptions o;
        o.playlistsXml = xml;
        o.start = false;
        h.reset();  // the last run ends before the next one starts
        h.reset(new Harness(o));
        if (prepare) prepare(*h);
        ASSERT_TRUE(h->startUp());
        h->frame(41);
        ASSERT_EQ(appState.screen, Screen::Home);
    }
    void tap(int x, int y) { drag(x, y, x, y); }
    void drag(int x0, int y0, int x1, int y1) {
        h->touchDown(x0, y0);
        h->frame();
        h->touchMove(x1, y1);
        h->frame();
        h->touchUp();
        h->frame();
    }
    void press(Input in) {
        h->tap(in);
        h->frame(2);
    }
    void openChooser() {
        tap(150, 60);
        ASSERT_EQ(appState.mixView, ChoosingPlaylist);
    }
    void openEditor() {
        tap(250, 50);
        ASSERT_EQ(appState.screen, Screen::Editor);
    }
    void editPlaylistOnRow(int row) {
        drag(LeftX, rowY(row), 100, BottomY);
        ASSERT_EQ(mix.editorView, TracksView);
    }
    // Pixels in the rectangle (inclusive) that are not black, or that equal a colour.
    int lit(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) n += h->pixel(x, y) != 0;
        return n;
    }
    uint32_t region(int x0, int y0, int x1, int y1) const {
        uint32_t sum = 2166136261u;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) sum = (sum ^ h->pixel(x, y)) * 16777619u;
        return sum;
    }
    int count(uint16_t colour, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) n += h->pixel(x, y) == colour;
        return n;
    }
    std::string saved() const { return h->readFile("data/playlists.xml"); }

    std::unique_ptr<Harness> h;
};

void writeClip(Harness& h, const std::string& name) {
    clipwriter::ClipFile clip(17, 0, 4);
    clip.addEntry(clipwriter::encode17Colour(0xF800, clipwriter::noAlpha()));
    ASSERT_TRUE(clip.writeFile(h.dir + "/videos/" + name));
}

}  // namespace

TEST_F(Limits, TheChooserWithNoPlaylistsNamesNone) {
    open(playlistsXml({}));
    openChooser();
    const uint32_t none = h->screenChecksum();

    open(playlistsXml({{"gone", {}}}));
    openEditor();
    drag(LeftX, rowY(0), 30, BottomY);  // onto the delete button
    ASSERT_EQ(mix.playlistCount, 0);
    notice = Notice();  // the delete's undo offer is not what is compared
    tap(290, BottomY);  // home
    openChooser();
    EXPECT_EQ(h->screenChecksum(), none) << "no deleted playlist's name over the empty list";
}

TEST_F(Limits, FiftyPlaylistsScrollWithTheMarkerInsideThePanel) {
    Lists lists;
    for (int i = 0; i < 50; i++) lists.push_back({"list" + std::to_string(i), {"t.q17"}});
    open(playlistsXml(lists));
    openChooser();
    for (int i = 0; i < 60; i++) press(StickDown);
    ASSERT_EQ(chooserSelection, 49);

    // The marker ">" stands on the last of the eight rows that fit, and nothing runs below the
    // panel (the picture is black: nothing is loaded) or right of it.
    for (int r = 0; r < 8; r++) EXPECT_EQ(lit(73, 87 + 10 * r, 79, 95 + 10 * r) > 0, r == 7) << "row " << r;
    EXPECT_EQ(lit(0, 171, 319, 209), 0);
    EXPECT_EQ(lit(251, 84, 319, 209), 0);
    EXPECT_EQ(h->pixel(245, 166), toRgb565(0xAAAAAA)) << "the scroll mark at the end of the list";
    EXPECT_EQ(h->pixel(245, 87), toRgb565(0x444444));

    for (int i = 0; i < 10; i++) press(StickUp);
    EXPECT_EQ(chooserSelection, 39);
    for (int r = 0; r < 8; r++) EXPECT_EQ(lit(73, 87 + 10 * r, 79, 95 + 10 * r) > 0, r == 0) << "row " << r;
    press(ButtonB);
    EXPECT_EQ(mix.loadingPlaylist, 39);
}

TEST_F(Limits, LongNamesAreCutToTheirRoomAndStoredWhole) {
    const std::string name20(20, 'W');
    const std::string track91 = std::string(87, 'm') + ".q17";
    open(playlistsXml({{name20, {track91}}, {"b", {}}}));

    openChooser();
    EXPECT_EQ(lit(219, 87, 221, 97), 0) << "the name ends before the count column";
    EXPECT_GT(lit(222, 87, 232, 97), 0) << "the count";
    EXPECT_GT(lit(250, 60, 318, 84), 0) << "the title uses the width there is";
    EXPECT_EQ(lit(319, 56, 319, 86), 0) << "and stops at the edge";
    press(ButtonX);

    openEditor();
    // Row 0 is highlighted: black text on blue; the gap before the percentage stays blue.
    EXPECT_EQ(count(Blue, 91, 20, 92, 29), 2 * 10);
    // The 91-character clip on the right stops before the scroll bar.
    for (int y = 20; y < 33; y++) {
        EXPECT_EQ(h->pixel(308, y), 0) << y;
        EXPECT_EQ(h->pixel(309, y), BarTrack) << y;
    }
    EXPECT_GT(count(PresentGrey, 163, 20, 307, 32) + count(MissingRed, 163, 20, 307, 32), 0);

    drag(LeftX, rowY(1), LeftX, rowY(0));  // b before the long one: saves
    const std::string file = saved();
    EXPECT_NE(file.find("<name>" + name20 + "</name>"), std::string::npos) << file;
    EXPECT_NE(file.find("<track>" + track91 + "</track>"), std::string::npos) << file;
}

TEST_F(Limits, AfterADeleteTheFiguresStayWithTheirPlaylists) {
    const auto clips = [](Harness& hh) {
        writeClip(hh, "red.q17");
        writeClip(hh, "blue.q17");
    };
    open(playlistsXml({{"B", {"red.q17", "blue.q17"}}, {"C", {}}}), clips);
    openEditor();
    const uint32_t expected = h->screenChecksum();

    open(playlistsXml({{"A", {"gone.q17"}}, {"B", {"red.q17", "blue.q17"}}, {"C", {}}}), clips);
    openEditor();
    EXPECT_EQ(mix.playlists[0].missingCount, 1);
    drag(LeftX, rowY(0), 30, BottomY);  // delete A; B is highlighted in its place
    EXPECT_EQ(mix.playlists[0].missingCount, 0);
    notice = Notice();  // the delete's undo offer is not what is compared
    h->frame();
    EXPECT_EQ(h->screenChecksum(), expected) << "B and C as a start with only them shows them";
}

TEST_F(Limits, ClipsCutShortOrRefusedByLoadingAreMissing) {
    open(playlistsXml({{"P", {"good.q17", "cut.q17", "damaged.q17"}}}), [](Harness& hh) {
        writeClip(hh, "good.q17");
        const std::string bytes = hh.readFile("videos/good.q17");
        hh.writeFile("videos/cut.q17", bytes.substr(0, bytes.size() - 1));
        // Block 0 claims 300 segments: the header is right, loading refuses the timeline.
        std::string damaged = bytes;
        damaged[20 + 512] = char(300 & 0xFF);
        damaged[20 + 512 + 1] = char(300 >> 8);
        hh.writeFile("videos/damaged.q17", damaged);
    });
    const auto rowColour = [&](int row, uint16_t colour) { return count(colour, 163, rowY(row) - 5, 307, rowY(row) + 6) > 0; };
    openEditor();
    EXPECT_TRUE(rowColour(0, PresentGrey));
    EXPECT_TRUE(rowColour(1, MissingRed)) << "shorter than its header claims: missing from the scan";
    EXPECT_TRUE(rowColour(2, PresentGrey)) << "the header alone looks right";
    tap(290, BottomY);  // home

    openChooser();
    press(ButtonB);
    for (int i = 0; i < 100 && mix.loading; i++) h->frame();
    EXPECT_EQ(mix._totalTracks, 1);
    press(ButtonHome);
    press(ButtonX);
    openEditor();
    EXPECT_TRUE(rowColour(2, MissingRed)) << "refused by loading";
    EXPECT_EQ(mix.playlists[0].missingCount, 2);

    // A rescan (an edit saves and scans) keeps it missing while the file is the same.
    editPlaylistOnRow(0);
    drag(LeftX, rowY(0), LeftX, rowY(3));
    tap(290, BottomY);
    ASSERT_EQ(mix.editorView, PlaylistsView);
    EXPECT_EQ(mix.playlists[0].tracks[1].file, "damaged.q17");
    EXPECT_TRUE(rowColour(1, MissingRed));
    EXPECT_EQ(mix.playlists[0].missingCount, 2);
}

TEST_F(Limits, NamesTheFileCannotHoldAreRefusedOthersSurviveAndDrawAsWritten) {
    const std::string cafe = "caf\xC3\xA9.q17";
    open(playlistsXml({{"P", {}}}), [&](Harness& hh) {
        hh.writeFile("videos/a&b.q17", "");
        hh.writeFile("videos/" + cafe, "");
    });
    openEditor();
    editPlaylistOnRow(0);
    ASSERT_EQ(mix.browserNames[0], "a&b.q17");
    ASSERT_EQ(mix.browserNames[1], cafe);

    const uint32_t band = region(0, noticeLineY(), 319, noticeLineY() + 13);
    drag(BrowserX, rowY(0), LeftX, rowY(0));
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
    EXPECT_NE(region(0, noticeLineY(), 319, noticeLineY() + 13), band) << "a notice says why";

    drag(BrowserX, rowY(1), LeftX, rowY(0));
    tap(290, BottomY);  // back: saves
    const std::string file = saved();
    EXPECT_EQ(file.substr(0, 44), "<?xml version=\"1.0\" encoding=\"UTF-8\"     ?>\n") << "44 bytes, as the reader skips";
    EXPECT_NE(file.find("<track>" + cafe + "</track>"), std::string::npos) << file;

    // Drawn as UTF-8: the row is as wide as "café.q17", not as its bytes read one by one.
    int utf8 = 0, bytes = 0, height = 0;
    TTF_SizeUTF8(uiFonts[0], cafe.c_str(), &utf8, &height);
    TTF_SizeText(uiFonts[0], cafe.c_str(), &bytes, &height);
    ASSERT_GT(bytes, utf8 + 3);
    h->frame();
    int right = 0;
    for (int x = 163; x < 307; x++)
        if (lit(x, 20, x, 32) > 0) right = x;
    EXPECT_NEAR(right, 163 + utf8, 3);
}

TEST_F(Limits, AFolderOf120ClipsListsEveryOneSortedFoldersFirst) {
    open(playlistsXml({{"P", {}}}), [](Harness& hh) {
        for (int i = 119; i >= 0; i--) {
            char name[16];
            snprintf(name, sizeof name, "c%03d.q17", i);
            hh.writeFile(std::string("videos/") + name, "");
        }
        mkdir((hh.dir + "/videos/zz").c_str(), 0755);
    });
    openEditor();
    editPlaylistOnRow(0);
    ASSERT_EQ(mix.browserCount, 122);  // and, last, the row that types a live source
    EXPECT_EQ(mix.browserNames[0], "zz");
    EXPECT_EQ(mix.browserNames[1], "c000.q17");

    drag(312, 30, 312, 214);  // the browser's bar to the end
    drag(BrowserX, rowY(13), LeftX, rowY(0));
    tap(290, BottomY);
    EXPECT_NE(saved().find("<track>c119.q17</track>"), std::string::npos) << saved();
}

TEST_F(Limits, APlaylistLongerThanAPlaylistHoldsShowsItsFirstEntriesAndKeepsTheRest) {
    std::vector<std::string> tracks;
    for (int i = 0; i < 60; i++) tracks.push_back("t" + std::to_string(i) + ".q17");
    const std::string xml = playlistsXml({{"long", tracks}, {"b", {}}});
    open(xml);
    EXPECT_EQ(mix.playlists[0].trackCount, 51);
    EXPECT_STREQ(notice.text, "only 51 of 60 tracks shown in long");
    EXPECT_EQ(saved(), xml);
    const uint32_t band = region(0, noticeLineY(), 319, noticeLineY() + 13);
    h->callAfter(NoticeMs);
    h->frame();
    EXPECT_NE(region(0, noticeLineY(), 319, noticeLineY() + 13), band) << "the notice was on screen";

    openEditor();
    drag(LeftX, rowY(1), LeftX, rowY(0));  // b before long: every entry is written back
    EXPECT_EQ(saved(), playlistsXml({{"b", {}}, {"long", tracks}}));
}

TEST_F(Limits, AnEditThatChangesNothingSavesNothing) {
    // Written by hand: any save would rewrite it in the program's own layout.
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<all>\n<playlist><name>A</name><track>a.q17</track></playlist>\n"
        "<playlist><name>B</name></playlist>\n</all>\n";
    open(xml);
    ASSERT_EQ(mix.playlistCount, 2);
    openEditor();
    tap(LeftX, rowY(5));  // below the last playlist: picks B, drops it where it is
    EXPECT_EQ(mix.editPlaylist, 1);
    editPlaylistOnRow(0);
    drag(LeftX, rowY(0), LeftX, rowY(0));  // a track dropped on itself
    tap(290, BottomY);                     // back
    EXPECT_EQ(mix.editorView, PlaylistsView);
    EXPECT_EQ(saved(), xml);
    EXPECT_EQ(h->log().find("saveXML()"), std::string::npos);
}
