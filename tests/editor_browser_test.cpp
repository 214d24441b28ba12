// The editor's file browser: which entries become rows, the way up and back, the row limit, links,
// and the folder it shows never becoming the process's current directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "library/Mix.h"
#include "library_support.h"

namespace {

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        mkdir(at("videos").c_str(), 0755);
        mkdir(at("data").c_str(), 0755);
        freshMix();
    }
    std::string at(const std::string& name) const { return dir.path + "/" + name; }
    void file(const std::string& name) { writeWholeFile(at(name), "clip"); }

    // The rows as "name" for clip files and "name/" for folder rows, in listing order, sorted for
    // comparison (the listing order is the file system's).
    std::vector<std::string> rows() const {
        std::vector<std::string> r;
        for (int i = 0; i < mix.browserCount; i++)
            r.push_back(mix.browserNames[i] + (mix.browserIsDir[i] ? "/" : ""));
        std::sort(r.begin(), r.end());
        return r;
    }

    ScratchDir dir;
    LogCapture log;  // keeps the browser's log lines out of the test output
};

std::string currentDirectory() {
    char* cwd = getcwd(nullptr, 0);
    std::string s = cwd ? cwd : "";
    free(cwd);
    return s;
}

}  // namespace

TEST(ClipName, OnlyLowerCaseClipExtensionsOfAtLeastFourCharacters) {
    EXPECT_TRUE(Mix::isClipName("a.q17"));
    EXPECT_TRUE(Mix::isClipName("a.q18"));
    EXPECT_TRUE(Mix::isClipName(".q18"));
    EXPECT_FALSE(Mix::isClipName("q18"));
    EXPECT_FALSE(Mix::isClipName(""));
    EXPECT_FALSE(Mix::isClipName("a.Q17"));
    EXPECT_FALSE(Mix::isClipName("a.q19"));
    EXPECT_FALSE(Mix::isClipName("a.q17.txt"));
}

TEST_F(Browser, TopFolderHasNoWayUpAndASubfolderHasOne) {
    mkdir(at("videos/sub").c_str(), 0755);
    file("videos/top.q17");
    file("videos/sub/inner.q18");

    mix.readDir("videos");
    EXPECT_EQ(mix.browserPath, at("videos"));
    EXPECT_EQ(rows(), (std::vector<std::string>{"sub/", "top.q17"}));

    mix.readDir("sub");
    EXPECT_EQ(mix.browserPath, at("videos/sub"));
    ASSERT_EQ(mix.browserCount, 2);
    EXPECT_EQ(mix.browserNames[0], "..") << "the way up is always the first row";
    EXPECT_EQ(mix.browserIsDir[0], 1);
    EXPECT_EQ(mix.browserNames[1], "inner.q18");
    EXPECT_EQ(mix.browserIsDir[1], 0);
    EXPECT_EQ(mix.browserNames[2], "error") << "rows past the count hold the filler name";

    mix.readDir("..");
    EXPECT_EQ(mix.browserPath, at("videos"));
    EXPECT_EQ(rows(), (std::vector<std::string>{"sub/", "top.q17"})) << "back at the top: no \"..\" row";
}

TEST_F(Browser, HidesDotUnderscoreNamesAndFilesThatAreNotClips) {
    file("videos/._hidden.q17");
    file("videos/UPPER.Q17");
    file("videos/notes.txt");
    file("videos/ab");
    file("videos/keep.q18");
    mkdir(at("videos/._folder").c_str(), 0755);
    mkdir(at("videos/folder.q17").c_str(), 0755);

    mix.readDir("videos");
    EXPECT_EQ(rows(), (std::vector<std::string>{"folder.q17/", "keep.q18"}));
}

TEST_F(Browser, ALinkIsAFolderRowEvenWhenItPointsAtAClipAndADanglingOneIsNotListed) {
    file("videos/real.q17");
    ASSERT_EQ(symlink("real.q17", at("videos/link.q17").c_str()), 0);
    ASSERT_EQ(symlink("gone.q17", at("videos/dangling.q17").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", at("videos/dangling").c_str()), 0);

    mix.readDir("videos");
    EXPECT_EQ(rows(), (std::vector<std::string>{"link.q17/", "real.q17"}));

    // Touching it as a folder cannot enter it: the browser shows the same folder again.
    mix.readDir("link.q17");
    EXPECT_EQ(mix.browserPath, at("videos"));
    EXPECT_EQ(rows(), (std::vector<std::string>{"link.q17/", "real.q17"}));
}

TEST_F(Browser, ListsEveryEntryOfALargeFolderFoldersFirstByName) {
    mkdir(at("videos/many").c_str(), 0755);
    for (int i = 149; i >= 0; i--) {
        file("videos/c" + std::to_string(i) + ".q17");
        file("videos/many/c" + std::to_string(i) + ".q17");
    }
    file("videos/B.q17");

    mix.readDir("videos");
    ASSERT_EQ(mix.browserCount, 152) << "no \"..\" row at the top";
    EXPECT_EQ(mix.browserNames[0], "many");
    EXPECT_EQ(mix.browserNames[1], "B.q17") << "names without regard to case";
    EXPECT_EQ(mix.browserNames[2], "c0.q17");
    EXPECT_EQ(mix.browserNames[3], "c1.q17");
    EXPECT_EQ(mix.browserNames[4], "c10.q17");
    for (int i = 1; i < mix.browserCount; i++) EXPECT_EQ(mix.browserIsDir[i], 0) << "row " << i;

    mix.readDir("many");
    EXPECT_EQ(mix.browserCount, 151);
    EXPECT_EQ(mix.browserNames[0], "..");
}

TEST_F(Browser, AFolderThatCannotBeEnteredShowsTheSameFolderAgain) {
    mkdir(at("videos/sub").c_str(), 0755);
    file("videos/sub/a.q17");
    mix.readDir("videos");
    mix.readDir("sub");
    mix.readDir("gone");
    EXPECT_EQ(mix.browserPath, at("videos/sub"));
    ASSERT_EQ(mix.browserCount, 2);
    EXPECT_EQ(mix.browserNames[1], "a.q17");
}

TEST_F(Browser, LogsEachFolderAsked) {
    mix.readDir("videos");
    EXPECT_NE(log.text().find(">videos<\n"), std::string::npos) << log.text();
}

TEST_F(Browser, NeverChangesTheCurrentDirectory) {
    mkdir(at("videos/sub").c_str(), 0755);
    mkdir(at("videos/sub/deeper").c_str(), 0755);
    const std::string before = currentDirectory();

    mix.readDir("videos");
    mix.readDir("sub");
    mix.readDir("deeper");
    EXPECT_EQ(currentDirectory(), before);
    EXPECT_EQ(mix.browserPath, at("videos/sub/deeper"));

    // Relative paths of the rest of the program still reach the start folder.
    writeWholeFile("data/probe.txt", "x");
    EXPECT_EQ(readWholeFile(at("data/probe.txt")), "x");

    // Opening the browser again from its absolute top folder works from wherever it was left.
    mix.readDir(videosRoot(mix));
    EXPECT_EQ(mix.browserPath, at("videos"));
}

TEST_F(Browser, PrefixIsTheFolderRelativeToVideosAndNoneOutsideIt) {
    mkdir(at("videos/a").c_str(), 0755);
    mkdir(at("videos/a/b").c_str(), 0755);
    mkdir(at("outside").c_str(), 0755);
    std::string prefix = "unset";

    mix.readDir("videos");
    ASSERT_TRUE(browserPrefix(mix, prefix));
    EXPECT_EQ(prefix, "");
    mix.readDir("a");
    mix.readDir("b");
    ASSERT_TRUE(browserPrefix(mix, prefix));
    EXPECT_EQ(prefix, "a/b/");

    mix.readDir(at("outside"));
    EXPECT_FALSE(browserPrefix(mix, prefix));
    mix.readDir(at("videosX"));  // does not exist: stays outside
    EXPECT_FALSE(browserPrefix(mix, prefix));
}

TEST_F(Browser, AFolderReachedThroughALinkKeepsANameUnderVideos) {
    mkdir(at("elsewhere").c_str(), 0755);
    file("elsewhere/far.q18");
    ASSERT_EQ(symlink(at("elsewhere").c_str(), at("videos/linked").c_str()), 0);
    setPlaylist(0, "p", {});
    mix.playlistCount = 1;

    mix.readDir("videos");
    mix.readDir("linked");
    ASSERT_EQ(mix.browserCount, 2);
    EXPECT_EQ(mix.browserNames[1], "far.q18");
    mix.insertTrack("far.q18", 0, 0);
    ASSERT_EQ(mix.playlists[0].trackCount, 1);
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "linked/far.q18");
    EXPECT_EQ(readWholeFile(at("videos/") + mix.playlists[0].tracks[0].file), "clip") << "the stored name loads";

    mix.readDir("..");
    EXPECT_EQ(mix.browserPath, at("videos")) << "the way up leads back through the link's name";
}

TEST_F(Browser, NothingIsInsertedFromAFolderOutsideVideos) {
    mkdir(at("outside").c_str(), 0755);
    file("outside/x.q17");
    setPlaylist(0, "p", {"a.q17"});
    mix.playlistCount = 1;

    mix.readDir(at("outside"));
    ASSERT_EQ(mix.browserNames[1], "x.q17");
    mix.insertTrack("x.q17", 0, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 1);
    EXPECT_EQ(mix.playlists[0].tracks[0].file, "a.q17");

    mix.dragSource = 1;
    mix.selectedEntry = 1;
    mix.startPreview();
    EXPECT_EQ(mix.previewing, 0);
}
