// Scanning playlists and loading one into the track slots, a step per frame, with real clip files
// written by the clip writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

#include "core/AppState.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "mixer/Decks.h"
#include "library/Mix.h"
#include "library_support.h"
#include "tools/clip/ClipWriter.h"
#include "tracks/Track.h"

using namespace clipwriter;

namespace {

// A Format17 clip of one colour with entryCount distinct entries (the dictionary is what the
// per-frame budget is spent on).
std::vector<uint8_t> clipBytes(int entries, uint8_t format = 17) {
    ClipFile clip(format, 0, 10);
    for (int e = 0; e < entries; e++) {
        uint16_t colour = uint16_t(e * 7 + 1);
        clip.addEntry(format == 17 ? encode17Colour(colour, noAlpha())
                                   : encode18Pixels(std::vector<uint16_t>(64, colour).data(), noAlpha()));
    }
    return clip.serialise();
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

// A file whose header makes the probe return estimate (frameCount 255, no entries, the timeline
// size chosen to reach it), as long as the sections its header claims: enough for the scan, which
// only probes.
void writeProbeOnly(const std::string& path, uint32_t estimate) {
    const uint32_t timelineUnits = estimate - (240 * 255 + 1757);
    std::vector<uint8_t> bytes(20 + 512 + std::max<size_t>(4 * 1200, 2 * size_t(timelineUnits) - 1200) + 480 * 255, 0);
    bytes[0] = 17;
    putU16(bytes, 2, 320);
    putU16(bytes, 4, 240);
    putU16(bytes, 8, 255);
    putU32(bytes, 16, timelineUnits);
    writeBytes(path, bytes);
}

class Loading : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        mkdir("data", 0777);
        mkdir("videos", 0777);
        appState.workingDir = dir.path;
        freshMix();
        for (Track& t : tracks) t.clear();
    }
    void TearDown() override {
        for (Track& t : tracks) t.clear();
    }
    std::string video(const std::string& name) const { return dir.path + "/videos/" + name; }

    // Runs frames until the run ends; returns how many continueLoading calls it took.
    int runToEnd(int limit = 1000) {
        int frames = 0;
        while (mix.loading && frames < limit) {
            mix.continueLoading();
            frames++;
        }
        return frames;
    }

    int allocatedSlots() const {
        int n = 0;
        for (const Track& t : tracks) n += t.allocated;
        return n;
    }

    ScratchDir dir;
};

}  // namespace

TEST_F(Loading, ThreeReadableClipsFillSlotsInOrder) {
    writeBytes(video("a.q17"), clipBytes(1000));
    mkdir(video("sub").c_str(), 0777);
    writeBytes(video("sub/b.q18"), clipBytes(1000, 18));
    writeBytes(video("c.q17"), clipBytes(3));
    mix.playlistCount = 1;
    setPlaylist(0, "three", {"a.q17", "sub/b.q18", "c.q17"});

    LogCapture log;
    mix.loadPlaylist(0);
    EXPECT_EQ(mix.loading, 1);
    EXPECT_EQ(mix.loadingPlaylist, 0);

    // Slot 0 takes its whole dictionary in one step: header, timeline, dictionary, finish.
    for (int f = 0; f < 3; f++) mix.continueLoading();
    EXPECT_EQ(mix._totalTracks, 0);
    mix.continueLoading();
    EXPECT_EQ(mix._totalTracks, 1);
    EXPECT_EQ(tracks[0].ready, Ready);
    EXPECT_EQ(mix.loadPosition, 1);

    // Slot 1 gets 800 entries a frame: 1000 entries take two dictionary steps.
    for (int f = 0; f < 4; f++) mix.continueLoading();
    EXPECT_EQ(mix._totalTracks, 1);
    mix.continueLoading();
    EXPECT_EQ(mix._totalTracks, 2);

    EXPECT_EQ(runToEnd(), 4);
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 3);
    EXPECT_EQ(mix.loadPosition, 3);
    EXPECT_EQ(tracks[0].name, "a.q17");
    EXPECT_EQ(tracks[1].name, "sub/b.q18");
    EXPECT_EQ(tracks[1].format, 18);
    EXPECT_EQ(tracks[2].name, "c.q17");
    for (int s = 0; s < 3; s++) EXPECT_EQ(tracks[s].ready, Ready) << s;
    EXPECT_EQ(tracks[3].ready, 0);
    EXPECT_EQ(countOf(log.text(), ">> playlist loading complete\n\n"), 1) << log.text();

    // Idle: more frames change nothing.
    mix.continueLoading();
    EXPECT_EQ(mix._totalTracks, 3);
    EXPECT_EQ(countOf(log.text(), ">> playlist loading complete"), 1);
}

TEST_F(Loading, UnreadableFilesAreSkippedWithoutTakingASlot) {
    writeBytes(video("a.q17"), clipBytes(2));
    writeBytes(video("c.q17"), clipBytes(2));
    writeWholeFile(video("text.q17"), std::string(6000, 'x'));  // not a clip
    // A clip cut off inside its dictionary is only found out after its buffers were allocated.
    std::vector<uint8_t> cut = clipBytes(40, 18);
    cut.resize(cut.size() - 100);
    writeBytes(video("cut.q18"), cut);
    mix.playlistCount = 2;
    setPlaylist(0, "holes", {"a.q17", "gone.q17", "text.q17", "cut.q18", "c.q17"});
    setPlaylist(1, "none", {"gone.q17", "gone2.q18"});

    LogCapture log;
    mix.loadPlaylist(0);
    runToEnd();
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 2);
    EXPECT_EQ(mix.loadPosition, 5);
    EXPECT_EQ(tracks[0].name, "a.q17");
    EXPECT_EQ(tracks[1].name, "c.q17");
    EXPECT_EQ(tracks[1].ready, Ready);
    EXPECT_EQ(allocatedSlots(), 2);
    EXPECT_EQ(countOf(log.text(), ">> playlist loading complete"), 1);

    // A new run replaces the loaded one; with every file missing nothing is playable.
    mix.loadPlaylist(1);
    EXPECT_EQ(allocatedSlots(), 0);
    runToEnd();
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 0);
    EXPECT_EQ(mix.loadingPlaylist, 1);
    EXPECT_EQ(allocatedSlots(), 0);
    EXPECT_EQ(countOf(log.text(), ">> playlist loading complete"), 2);
}

TEST_F(Loading, RunsNeverGoPastTheEntriesOrTheSlots) {
    writeBytes(video("a.q17"), clipBytes(1));
    mix.playlistCount = 2;
    setPlaylist(0, "empty", {});
    Playlist& full = mix.playlists[1];
    full.name = "full";
    full.trackCount = MaxPlaylistTracks;
    for (int t = 0; t < MaxPlaylistTracks; t++) full.tracks[t].file = "a.q17";
    // Stale names past the count must never be read.
    mix.playlists[0].tracks[0].file = "a.q17";

    LogCapture log;
    mix.loadPlaylist(0);  // an empty playlist ends at once
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 0);
    EXPECT_EQ(tracks[0].name, "");
    mix.continueLoading();
    EXPECT_EQ(tracks[0].allocated, 0);
    EXPECT_EQ(countOf(log.text(), ">> playlist loading complete"), 1);

    mix.loadPlaylist(7);  // past the last playlist: nothing to load
    EXPECT_EQ(mix.loading, 0);
    mix.loadPlaylist(-1);
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix.loadingPlaylist, 0);

    // 51 readable clips: the run ends when the 50th slot is ready.
    mix.loadPlaylist(1);
    runToEnd(2000);
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, TrackSlots);
    EXPECT_EQ(mix.loadPosition, TrackSlots);
    EXPECT_EQ(tracks[TrackSlots - 1].ready, Ready);
    EXPECT_EQ(allocatedSlots(), TrackSlots);
}

TEST_F(Loading, ClearMixReleasesEverySlotAndLogsTheCount) {
    {
        LogCapture log;
        mix._totalTracks = 2;
        mix.loading = 1;
        mix.clearMix();
        EXPECT_EQ(log.text(), "clear mix | kill RAM x 0\nmix->_totalTracks = 0;\n");
        EXPECT_EQ(mix._totalTracks, 0);
        EXPECT_EQ(mix.loading, 0);
    }
    for (const char* name : {"a.q17", "b.q17", "c.q17"}) writeBytes(video(name), clipBytes(2));
    mix.playlistCount = 1;
    setPlaylist(0, "three", {"a.q17", "b.q17", "c.q17"});
    LogCapture log;
    mix.loadPlaylist(0);
    runToEnd();
    ASSERT_EQ(mix._totalTracks, 3);

    // Cleared in the middle of a second run too: the half-loaded slot is released as well.
    mix.loadPlaylist(0);
    for (int f = 0; f < 6; f++) mix.continueLoading();
    ASSERT_EQ(allocatedSlots(), 2);
    LogCapture cleared;
    mix.clearMix();
    EXPECT_EQ(cleared.text(), "clear mix | kill RAM x 2\nmix->_totalTracks = 0;\n");
    EXPECT_EQ(allocatedSlots(), 0);
    for (const Track& t : tracks) EXPECT_EQ(t.ready, 0);
    EXPECT_EQ(mix.loading, 0);
}

TEST_F(Loading, ScanAddsUpEstimatesAndMarksMissingFiles) {
    writeProbeOnly(video("big1.q17"), 300000);
    writeProbeOnly(video("big2.q17"), 400000);
    writeWholeFile(video("text.q17"), "not a clip at all");
    mix.playlistCount = 2;
    setPlaylist(0, "big", {"big1.q17", "big2.q17"});
    setPlaylist(1, "gaps", {"big2.q17", "gone.q17", "text.q17", "big2.q17"});
    mix.playlists[1].tracks[0].missing = 1;  // from an earlier scan

    mix.scanPlaylists();
    EXPECT_EQ(mix.playlists[0].ramPercent, 2);
    EXPECT_EQ(mix.playlists[0].missingCount, 0);
    EXPECT_EQ(mix.playlists[1].ramPercent, 3);
    EXPECT_EQ(mix.playlists[1].missingCount, 2);
    EXPECT_EQ(mix.playlists[1].tracks[0].missing, 0);
    EXPECT_EQ(mix.playlists[1].tracks[1].missing, 1);
    EXPECT_EQ(mix.playlists[1].tracks[2].missing, 1);
    EXPECT_EQ(mix.playlists[1].tracks[3].missing, 0);

    // The file turns up: saving and scanning again clears its mark, and the file is written.
    writeProbeOnly(video("gone.q17"), 300000);
    LogCapture log;
    mix.unsavedEdits = 1;  // as an edit leaves it
    mix.saveAndScan();
    EXPECT_EQ(mix.playlists[1].missingCount, 1);
    EXPECT_EQ(mix.playlists[1].tracks[1].missing, 0);
    EXPECT_EQ(mix.playlists[1].ramPercent, 4);
    EXPECT_NE(readWholeFile(dir.path + "/data/playlists.xml").find("<track>gone.q17</track>"),
              std::string::npos);
    EXPECT_EQ(allocatedSlots(), 0);
}

// The whole road: start-up reads and scans the file, and the mix screen streams the playlist into
// the slots frame by frame, the decks following the count of playable tracks.
TEST(LoadingInTheProgram, StartUpReadsAndScansThenFramesLoadThePlaylist) {
    HarnessOptions options;
    options.start = false;
    options.playlistsXml =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n\t<playlist>\n"
        "\t\t<name>live</name>\n\t\t<track>one.q17</track>\n\t\t<track>lost.q17</track>\n"
        "\t\t<track>two.q18</track>\n\t</playlist>\n</all>\n";
    Harness h(options);
    writeBytes(h.dir + "/videos/one.q17", clipBytes(5));
    writeBytes(h.dir + "/videos/two.q18", clipBytes(5, 18));
    ASSERT_TRUE(h.startUp());

    ASSERT_EQ(mix.playlistCount, 1);
    EXPECT_EQ(mix.playlists[0].name, "live");
    EXPECT_EQ(mix.playlists[0].missingCount, 1);
    EXPECT_EQ(mix.playlists[0].tracks[1].missing, 1);
    EXPECT_EQ(mix.startDir, h.dir);
    EXPECT_NE(h.log().find("start XML loading\nend XML loading\ndecks: 1\n \n"), std::string::npos)
        << h.log();

    appState.screen = Screen::Mix;
    appState.mixView = Performing;
    mix.loadPlaylist(0);
    for (int f = 0; f < 40 && mix.loading; f++) h.frame();
    EXPECT_EQ(mix.loading, 0);
    EXPECT_EQ(mix._totalTracks, 2);
    h.frame();
    EXPECT_EQ(decks.trackCount, 2);
    EXPECT_EQ(tracks[1].name, "two.q18");
    EXPECT_EQ(countOf(h.log(), ">> playlist loading complete\n\n"), 1);
}

// Each frame loads at least one step; with time to spare before its deadline it goes on loading.
// The fake clock says how long each step takes: 1 ms lets a 40 ms frame take some thirty steps, a whole
// second (no time to spare) holds it to one step per frame.
TEST(LoadingInTheProgram, AFrameGoesOnLoadingWhileItHasTimeToSpare) {
    struct Case { uint32_t usPerReading; int minFrames, maxFrames; };
    const Case cases[] = {{1000000, 12, 40}, {1000, 1, 3}};
    int framesTaken[2] = {};
    for (int c = 0; c < 2; c++) {
        HarnessOptions options;
        options.demoClips = true;
        Harness h(options);
        h.frame(41);
        appState.screen = Screen::Mix;
        appState.mixView = Performing;
        mix.loadPlaylist(0);
        platform::setFakeMicrosPerReading(cases[c].usPerReading);
        int frames = 0;
        while (mix.loading && frames < 100) frames += h.frame() ? 1 : 100;
        framesTaken[c] = frames;
        EXPECT_EQ(mix.loading, 0);
        EXPECT_GE(frames, cases[c].minFrames);
        EXPECT_LE(frames, cases[c].maxFrames);
        EXPECT_EQ(mix._totalTracks, mix.playlists[0].trackCount - mix.playlists[0].missingCount);
    }
    EXPECT_LT(framesTaken[1], framesTaken[0]);
}
