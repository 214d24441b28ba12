// The tag scanner and the playlists file: byte semantics of the scanner, the file's exact bytes,
// round trips, and the reader's limits on malformed files.
#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

#include "library/Mix.h"
#include "library/XmlReader.h"
#include "library_support.h"

namespace {

// A read-only stream over a copy of text; it ends where the text ends.
class Stream {
public:
    explicit Stream(const std::string& text) : bytes(text) {
        file = fmemopen(bytes.empty() ? nullptr : &bytes[0], bytes.size(), "r");
    }
    ~Stream() { fclose(file); }
    operator FILE*() const { return file; }
    long position() const { return ftell(file); }

private:
    std::string bytes;
    FILE* file;
};

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";

}  // namespace

TEST(XmlReader, ReadElementReturnsExactTextOrTheSentinelThatComesFirst) {
    Stream s("\n\t\t<name>  two words\nand a line &amp; </name>\n\t\t<track></track>\n\t</playlist>\n</all>");
    EXPECT_EQ(XmlReader::readElement(s, "name"), "  two words\nand a line &amp; ");
    EXPECT_EQ(XmlReader::readElement(s, "track"), "");
    EXPECT_EQ(XmlReader::readElement(s, "track"), "</playlist>");
    EXPECT_EQ(XmlReader::readElement(s, "track"), "</all>");
}

TEST(XmlReader, ReadElementLimits) {
    // 100 characters and no closing tag: 99 are collected and the last 8 dropped all the same.
    std::string text(100, 'a');
    for (int i = 0; i < 100; i++) text[i] = char('A' + i % 26);
    Stream unclosed("<track>" + text);
    EXPECT_EQ(XmlReader::readElement(unclosed, "track"), text.substr(0, 91));

    // No opening tag within 99 bytes: the scan goes on collecting text from where it gave up.
    Stream late(std::string(99, ' ') + "abc</name>");
    EXPECT_EQ(XmlReader::readElement(late, "name"), "abc");

    // Past the end of the stream every byte reads as 0xFF.
    Stream empty("");
    EXPECT_EQ(XmlReader::readElement(empty, "track"), std::string(91, '\xFF'));

    // Tags are exact and case-sensitive: an attribute or a capital hides the tag.
    Stream attribute("<name id=\"1\">x</name>");
    EXPECT_NE(XmlReader::readElement(attribute, "name"), "x");
}

TEST(XmlReader, ReadUntilStopsAfterTheTagOrGivesUpAfter43Bytes) {
    Stream found("  \n<playlist>rest");
    EXPECT_EQ(XmlReader::readUntil(found, "<playlist>"), "");
    EXPECT_EQ(found.position(), 13);

    Stream far(std::string(60, 'x') + "<playlist>");
    EXPECT_EQ(XmlReader::readUntil(far, "<playlist>"), "");
    EXPECT_EQ(far.position(), 43);

    Stream end("\n</all>\n<playlist>");
    EXPECT_EQ(XmlReader::readUntil(end, "<playlist>"), "</all>");

    Stream atEnd("");
    EXPECT_EQ(XmlReader::readUntil(atEnd, "<playlist>"), "");
}

TEST(XmlReader, PrologueDiscards44BytesWhateverTheyHold) {
    Stream normal(Declaration + "\n<all>\n\t<playlist>");
    XmlReader::readPrologue(normal);
    EXPECT_EQ(normal.position(), 44 + 6);

    // Without the declaration the root tag is swallowed with the first 44 bytes, and the search
    // for "<all>" then gives up after 43 more.
    Stream bare("<all>\n" + std::string(200, ' ') + "\t<playlist>");
    XmlReader::readPrologue(bare);
    EXPECT_EQ(bare.position(), 44 + 43);
}

namespace {

class PlaylistsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        mkdir("data", 0777);
        freshMix();
    }
    std::string file() const { return readWholeFile(dir.path + "/data/playlists.xml"); }
    void writeFile(const std::string& content) const {
        writeWholeFile(dir.path + "/data/playlists.xml", content);
    }
    // Loads content as data/playlists.xml into a fresh mix.
    void load(const std::string& content) {
        writeFile(content);
        freshMix();
        LogCapture quiet;
        mix.loadXML();
    }

    ScratchDir dir;
};

std::string playlistText(const std::string& name, int tracks, const std::string& prefix = "c") {
    std::string text = "\t<playlist>\n\t\t<name>" + name + "</name>\n";
    for (int t = 0; t < tracks; t++)
        text += "\t\t<track>" + prefix + std::to_string(t) + ".q17</track>\n";
    return text + "\t</playlist>\n";
}

void expectLimitsHold() {
    ASSERT_GE(mix.playlistCount, 0);
    ASSERT_LE(mix.playlistCount, MaxPlaylists);
    for (int p = 0; p < mix.playlistCount; p++) {
        EXPECT_GE(mix.playlists[p].trackCount, 0);
        EXPECT_LE(mix.playlists[p].trackCount, MaxPlaylistTracks);
    }
    if (mix.playlistCount < MaxPlaylists) {
        EXPECT_EQ(mix.playlists[mix.playlistCount].trackCount, 0);
    }
}

}  // namespace

TEST_F(PlaylistsFile, SavedBytesOfAKnownMix) {
    mix.playlistCount = 2;
    setPlaylist(0, "dance", {"a.q17", "sub/b.q18"});
    setPlaylist(1, "100% noise", {});
    {
        LogCapture log;
        mix.saveXML();
        EXPECT_EQ(log.text(), "saveXML()\n");
    }
    EXPECT_EQ(file(), Declaration +
                          "\n<all>\n"
                          "\t<playlist>\n\t\t<name>dance</name>\n"
                          "\t\t<track>a.q17</track>\n\t\t<track>sub/b.q18</track>\n\t</playlist>\n"
                          "\t<playlist>\n\t\t<name>100% noise</name>\n\t</playlist>\n"
                          "</all>\n");
}

TEST_F(PlaylistsFile, NoPlaylistsWritesOnlyTheFrame) {
    mix.saveXML();
    EXPECT_EQ(file(), Declaration + "\n<all>\n</all>\n");

    LogCapture log;
    freshMix();
    mix.loadXML();
    EXPECT_EQ(mix.playlistCount, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
    EXPECT_EQ(log.text(), "start XML loading\nend XML loading\ndecks: 0\n \n");
}

TEST_F(PlaylistsFile, RoundTripKeepsNamesFilesAndOrder) {
    mix.playlistCount = 4;
    setPlaylist(0, "first", {"one.q17", "two.q18", "folder/three.q17"});
    setPlaylist(1, "empty", {});
    setPlaylist(2, "50% off \xE9t\xE9", {"%s%n.q17", "caf\xE9.q18"});
    Playlist& full = mix.playlists[3];
    full.name = "full";
    full.trackCount = MaxPlaylistTracks;
    for (int t = 0; t < MaxPlaylistTracks; t++) full.tracks[t].file = "f" + std::to_string(t) + ".q18";
    mix.saveXML();

    Mix saved = mix;  // copies the strings; the preview pointer is shared but not touched
    freshMix();
    {
        LogCapture log;
        mix.loadXML();
        EXPECT_EQ(log.text(), "start XML loading\nend XML loading\ndecks: 4\n \n");
    }
    ASSERT_EQ(mix.playlistCount, 4);
    for (int p = 0; p < 4; p++) {
        EXPECT_EQ(mix.playlists[p].name, saved.playlists[p].name);
        ASSERT_EQ(mix.playlists[p].trackCount, saved.playlists[p].trackCount);
        for (int t = 0; t < saved.playlists[p].trackCount; t++)
            EXPECT_EQ(mix.playlists[p].tracks[t].file, saved.playlists[p].tracks[t].file);
    }
    EXPECT_EQ(mix.playlists[4].trackCount, 0);

    // Saving what was read gives the same bytes again.
    std::string first = file();
    mix.saveXML();
    EXPECT_EQ(file(), first);
}

TEST_F(PlaylistsFile, SavingAfterTheCurrentDirectoryChangedWritesTheStartFolder) {
    mkdir("videos", 0777);
    mkdir("videos/data", 0777);
    ASSERT_EQ(chdir("videos"), 0);
    mix.playlistCount = 1;
    setPlaylist(0, "moved", {"x.q17"});
    mix.saveXML();
    EXPECT_NE(file().find("<name>moved</name>"), std::string::npos);
    EXPECT_EQ(readWholeFile(dir.path + "/videos/data/playlists.xml"), "");
}

TEST_F(PlaylistsFile, MissingFileStartsWithNoPlaylists) {
    LogCapture log;
    mix.loadXML();
    EXPECT_EQ(mix.playlistCount, 0);
    EXPECT_EQ(mix.playlists[0].trackCount, 0);
    EXPECT_EQ(mix.xmlFile, nullptr);
    EXPECT_EQ(log.text(), "start XML loading\ncan't find playlists XML file\nend XML loading\ndecks: 0\n \n");
}

TEST_F(PlaylistsFile, MoreThan50PlaylistsKeepsTheFirst50) {
    std::string content = Declaration + "\n<all>\n";
    for (int p = 0; p < 53; p++) content += playlistText("list" + std::to_string(p), p % 3);
    content += "</all>\n";
    load(content);
    ASSERT_EQ(mix.playlistCount, 50);
    EXPECT_EQ(mix.playlists[0].name, "list0");
    EXPECT_EQ(mix.playlists[49].name, "list49");
    EXPECT_EQ(mix.playlists[49].trackCount, 1);
    EXPECT_EQ(mix.playlists[2].tracks[1].file, "c1.q17");
}

TEST_F(PlaylistsFile, PlaylistWithMoreThan51TracksKeeps51AndTheNextPlaylistStaysIntact) {
    std::string content = Declaration + "\n<all>\n" + playlistText("long", 60) +
                          playlistText("next", 2, "n") + "</all>\n";
    load(content);
    ASSERT_EQ(mix.playlistCount, 2);
    EXPECT_EQ(mix.playlists[0].trackCount, 51);
    EXPECT_EQ(mix.playlists[0].tracks[50].file, "c50.q17");
    EXPECT_EQ(mix.playlists[1].name, "next");
    ASSERT_EQ(mix.playlists[1].trackCount, 2);
    EXPECT_EQ(mix.playlists[1].tracks[0].file, "n0.q17");
    EXPECT_EQ(mix.playlists[1].tracks[1].file, "n1.q17");
}

TEST_F(PlaylistsFile, PlaylistsCutShortAreNotCounted) {
    // Cut by "</all>": the unfinished playlist is dropped and its record left empty.
    load(Declaration + "\n<all>\n" + playlistText("whole", 1) +
         "\t<playlist>\n\t\t<name>cut</name>\n\t\t<track>z.q17</track>\n</all>\n");
    EXPECT_EQ(mix.playlistCount, 1);
    EXPECT_EQ(mix.playlists[1].trackCount, 0);

    // Cut by the end of the file (a truncated file): complete playlists are kept, nothing is made
    // up from the bytes read past the end.
    std::string whole = Declaration + "\n<all>\n" + playlistText("a", 2) + playlistText("b", 3);
    load(whole + "\t<playlist>\n\t\t<name>trunc");
    ASSERT_EQ(mix.playlistCount, 2);
    EXPECT_EQ(mix.playlists[1].name, "b");
    EXPECT_EQ(mix.playlists[1].trackCount, 3);
    EXPECT_EQ(mix.playlists[2].trackCount, 0);

    load(whole + "\t<playlist>\n\t\t<name>t</name>\n\t\t<track>half.q1");
    EXPECT_EQ(mix.playlistCount, 2);
    load(whole);  // the root is never closed, the last playlist is
    EXPECT_EQ(mix.playlistCount, 2);
    load(whole.substr(0, whole.size() - 5));
    EXPECT_EQ(mix.playlistCount, 1);
}

TEST_F(PlaylistsFile, CrashInputsOfTheFuzzerStayWithinTheLimitsAndSaveAsRead) {
    const std::string corpus = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/xml_fuzz";
    DIR* folder = opendir(corpus.c_str());
    ASSERT_NE(folder, nullptr) << corpus;
    int replayed = 0;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        SCOPED_TRACE(entry->d_name);
        load(readWholeFile(corpus + "/" + entry->d_name));
        expectLimitsHold();
        // A save writes back what it read: once saved, the file reads back and saves the same (the
        // first save may only tidy what the scanner read past).
        load(mix.playlistsText());
        const std::string saved = mix.playlistsText();
        load(saved);
        EXPECT_EQ(mix.playlistsText(), saved);
        replayed++;
    }
    closedir(folder);
    EXPECT_GT(replayed, 0);
}
