// Whole-program editor sessions for the tests: a playlists file built from names and entries, the
// editor entered through the home menu, and the stylus gestures on its lists and buttons.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "core/AppState.h"
#include "harness/Harness.h"
#include "library/Mix.h"

namespace {

std::string playlistsFile(std::initializer_list<std::pair<std::string, std::vector<std::string>>> lists) {
    return playlistsXml({lists.begin(), lists.end()});
}

HarnessOptions withPlaylists(const std::string& xml) {
    HarnessOptions o;
    o.playlistsXml = xml;
    return o;
}

// The y of a list row's middle.
int rowY(int row) { return 20 + 13 * row + 5; }

const int LeftX = 50, BrowserX = 200;
const int BottomY = 226;

class EditorSession {
public:
    explicit EditorSession(const std::string& xml) : h(withPlaylists(xml)) {}
    explicit EditorSession(const HarnessOptions& o) : h(o) {}

    // From the splash to the editor through the home menu's EDIT item.
    void enter() {
        h.frame(41);
        tap(250, 50);
        ASSERT_EQ(appState.screen, Screen::Editor);
        ASSERT_EQ(mix.editorView, PlaylistsView);
    }
    void tap(int x, int y) {
        h.touchDown(x, y);
        h.frame();
        h.touchUp();
        h.frame();
    }
    // Down at one point, one held frame at the other, released there.
    void drag(int x0, int y0, int x1, int y1) {
        h.touchDown(x0, y0);
        h.frame();
        h.touchMove(x1, y1);
        h.frame();
        h.touchUp();
        h.frame();
    }
    // Picks the playlist on a row and drops it on the edit button: the tracks view with the browser.
    void editPlaylistOnRow(int row) {
        drag(LeftX, rowY(row), 100, BottomY);
        ASSERT_EQ(mix.editorView, TracksView);
    }
    std::string names() const {
        std::string s;
        for (int i = 0; i < mix.playlistCount; i++) s += mix.playlists[i].name;
        return s;
    }
    std::string entries(int p) const {
        std::string s;
        for (int j = 0; j < mix.playlists[p].trackCount; j++) s += (j ? "," : "") + mix.playlists[p].tracks[j].file;
        return s;
    }
    void folder(const std::string& rel) { mkdir((h.dir + "/" + rel).c_str(), 0755); }

    Harness h;
};

}  // namespace
