// Loading clips into a slot: the step sequence, the lines it prints, the buffers it owns, and the
// refusal of every kind of malformed file without a crash, a leak or a half-loaded slot.
#include <dirent.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "track_clips.h"

using namespace clipwriter;

namespace {

std::string captured() {
    std::cout.flush();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A clip of frameCount frames with `entries` distinct entries, entry e shown by block e % 1200.
std::vector<uint8_t> clipWithEntries(uint8_t format, int entries, uint16_t frameCount = 4) {
    ClipFile c(format, 0, frameCount);
    for (int e = 0; e < entries; e++) {
        if (format == 17)
            c.addEntry(encode17Colour(uint16_t(e), noAlpha()));
        else
            c.addEntry(encode18FourRuns(0, {{32, uint16_t(e), false}, {32, uint16_t(e + 1), false}}, noAlpha()));
    }
    for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{frameCount, uint16_t(b % entries)}});
    for (int f = 0; f < frameCount; f++) c.setModeAll(f, 1);
    return c.serialise();
}

class LoadSteps : public testing::TestWithParam<int> {};

TEST_P(LoadSteps, ThousandEntriesTakeFiveStepsOf800AndFourOf65000) {
    int format = GetParam();
    auto t = newTrack();
    putClip("steps.q1x", clipWithEntries(uint8_t(format), 1000));
    std::string loaded = format == 17 ? "QUIBO 17 LOADED" : "QUIBO 18 LOADED";

    testing::internal::CaptureStdout();
    std::vector<int> answers = loadClip(*t, "steps.q1x", 800);
    std::string out = captured();
    EXPECT_EQ(answers, (std::vector<int>{1, 1, 1, 1, 2}));
    EXPECT_NE(out.find(loaded), std::string::npos);
    EXPECT_NE(out.find("init quibo\n"), std::string::npos);
    EXPECT_NE(out.find("video ok\n"), std::string::npos);
    EXPECT_EQ(t->ready, Ready);
    EXPECT_EQ(t->entriesRead, 1000);

    t->releaseBuffers();
    EXPECT_EQ(loadClip(*t, "steps.q1x", 65000), (std::vector<int>{1, 1, 1, 2}));
    // Loading the same file again gives the same slot contents.
    EXPECT_EQ(t->frameCount, 4);
    EXPECT_EQ(t->entryCount, 1000);
    t->releaseBuffers();
}

INSTANTIATE_TEST_SUITE_P(BothFormats, LoadSteps, testing::Values(17, 18));

TEST(TrackLoad, MissingFileFailsAtOnceAndAllocatesNothing) {
    auto t = newTrack();
    testing::internal::CaptureStdout();
    t->assign(scratchDir(), "no-such-clip.q17");
    int r = t->loadStep(800);
    std::string out = captured();
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("pas de video \n"), std::string::npos);
    EXPECT_EQ(t->allocated, 0);
    EXPECT_EQ(t->timeline, nullptr);
    EXPECT_EQ(t->loadState, 0u);
    EXPECT_EQ(Track::probe(scratchDir() + "/videos/no-such-clip.q17"), 0);
}

// A Format18 four-run entry whose third run passes the 64th pixel is whole: run 2 is cut there and
// run 3 has no colour. It loads and draws as the same entry with run 2 ending at the 64th pixel.
TEST(TrackLoad, AFourRunEntryWhoseThirdRunPassesTheBlockIsCutThere) {
    auto clip = [](bool pastTheEnd) {
        ClipFile c(18, 0, 1);
        ClipEntry e = encode18FourRuns(0, {{20, 0xF800, false}, {20, 0x07E0, false}, {24, 0x001F, false}}, noAlpha());
        if (pastTheEnd) e.bytes[1] |= 0x7C;  // L2 = 32: 20 + 20 + 32 = 72 pixels
        c.addEntry(e);
        for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{1, 0}});
        c.setModeAll(0, 1);
        return c.serialise();
    };
    std::vector<uint16_t> frames[2];
    for (int past = 0; past < 2; past++) {
        auto t = newTrack();
        ASSERT_EQ(loadBytes(*t, "cut.q18", clip(past)).back(), 2) << t->loadError;
        t->decodeFrame(1, 0, 0);
        frames[past].assign(deckFrames + FramePixels, deckFrames + 2 * FramePixels);
        t->releaseBuffers();
    }
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(frames[1][FrameWidth * 5 + 7], 0x001F) << "the block's last pixel shows run 2";
}

TEST(TrackLoad, StepAfterLoadedAnswersTwoAgainAndForcesTwoRedraws) {
    auto t = newTrack();
    ASSERT_EQ(loadBytes(*t, "again.q17", clipWithEntries(17, 3)).back(), 2);
    t->decodeFrame(1, 0, 0);
    t->decodeFrame(1, 1, 0);
    EXPECT_EQ(t->redrawFrames, 0);
    t->prevIds[5] = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(t->loadStep(800), 2);
    std::string out = captured();
    EXPECT_NE(out.find("QUIBO 17 LOADED"), std::string::npos);
    EXPECT_EQ(t->redrawFrames, 2);
    EXPECT_EQ(t->prevIds[5], 60000);
    t->releaseBuffers();
}

TEST(TrackLoad, InvalidateActsOnlyOnReadyTracks) {
    auto t = newTrack();
    putClip("inval.q18", clipWithEntries(18, 3));
    t->assign(scratchDir(), "inval.q18");
    ASSERT_EQ(t->loadStep(800), 1);  // header read: buffers exist, not ready
    EXPECT_EQ(t->allocated, 1);
    for (int b = 0; b < 1200; b++) ASSERT_EQ(t->prevIds[b], 60000);
    EXPECT_EQ(t->redrawFrames, 2);
    t->prevIds[0] = 7;
    t->redrawFrames = 0;
    t->invalidate();
    EXPECT_EQ(t->prevIds[0], 7);
    EXPECT_EQ(t->redrawFrames, 0);

    while (t->loadStep(800) == 1) {}
    ASSERT_EQ(t->ready, Ready);
    t->decodeFrame(1, 0, 0);
    t->decodeFrame(1, 0, 0);
    t->prevModes[3] = 0x1234;
    t->invalidate();
    EXPECT_EQ(t->prevIds[1199], 60000);
    EXPECT_EQ(t->prevModes[3], 0);
    EXPECT_EQ(t->redrawFrames, 2);
    t->clear();
    EXPECT_EQ(t->allocated, 0);
    EXPECT_EQ(t->ready, 0);
    EXPECT_TRUE(t->name.empty());
}

TEST(TrackLoad, ProbeGivesTheSizeEstimateAndRefusesOtherFiles) {
    ClipFile c(18, 1, 10);
    c.addEntry(encode18Pixels(std::vector<uint16_t>(64, 0x1234).data(), alphaValues(std::vector<uint8_t>(64, 3).data())));
    std::vector<uint8_t> bytes = c.serialise();
    putClip("probe.q18", bytes);
    uint32_t tu = c.timelineUnits(), du = (c.dictionaryBytes() + 1) / 2;
    EXPECT_EQ(Track::probe(scratchDir() + "/videos/probe.q18"), int32_t(240 * 10 + tu + 1 + du / 2 + 2 * 1 + 1757));

    bytes[0] = 16;
    putClip("notaclip.q18", bytes);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Track::probe(scratchDir() + "/videos/notaclip.q18"), 0);
    EXPECT_EQ(captured(), "video ok\n");
}

TEST(TrackLoad, Format18ClassTableHasEightOrSixteenCounts) {
    for (uint8_t alpha = 0; alpha <= 1; alpha++) {
        ClipFile c(18, alpha, 2);
        std::vector<uint8_t> idx(64, 1);
        c.addEntry(encode18Indices(idx.data(), alpha ? uniformAlpha(15) : noAlpha()));  // class 1
        c.addEntry(encode18Wide(1, {{16, 1, true}, {16, 2, true}, {16, 3, true}, {16, 4, true}}, noAlpha()));  // class 7
        c.addEntry(encode18Wide(1, {{16, 1, true}, {16, 2, true}, {16, 3, true}, {16, 4, true}}, noAlpha()));
        std::vector<uint8_t> bytes = c.serialise();
        // The palette follows the table: palette[0] is at 20 + 16 x (hasAlpha + 1).
        size_t paletteAt = 20 + 16 * (alpha + 1);
        c.palette[0] = 0xBEEF;
        bytes = c.serialise();
        ASSERT_GT(bytes.size(), paletteAt + 2);
        EXPECT_EQ(bytes[paletteAt], 0xEF);
        EXPECT_EQ(bytes[paletteAt + 1], 0xBE);
        auto t = newTrack();
        ASSERT_EQ(loadBytes(*t, "classes.q18", bytes).back(), 2) << t->loadError;
        EXPECT_EQ(t->palette[0], 0xBEEF);
        EXPECT_EQ(t->classCounts[1], 1);
        EXPECT_EQ(t->classCounts[7], 2);
        EXPECT_EQ(t->classStart[0], 0);
        EXPECT_EQ(t->classStart[2], 1);
        EXPECT_EQ(t->classStart[7], 1);
        t->releaseBuffers();
    }
}

TEST(TrackLoad, BlockRecordsInFileAndInMemory) {
    // The three records of the format's example, frameCount 100.
    ClipFile c(17, 0, 100);
    for (int e = 0; e < 200; e++) c.addEntry(encode17Index(uint8_t(e), noAlpha()));
    c.setSegments(0, {{100, 7}});
    c.setSegments(1, {{50, 12}, {50, 13}});
    std::vector<uint16_t> perFrame(100);
    for (int f = 0; f < 100; f++) perFrame[f] = uint16_t(100 + f);
    c.setPerFrame(2, perFrame);
    c.setSegments(3, {{10, 1}, {20, 2}, {70, 3}});
    std::vector<uint8_t> bytes = c.serialise();
    const uint8_t expect[] = {0x01, 0x00, 0x63, 0x07, 0x00, 0x02, 0x00, 0x31, 0x31, 0x0C, 0x00, 0x0D, 0x00, 0x00, 0x00, 0x64, 0x00};
    ASSERT_EQ(std::memcmp(bytes.data() + 532, expect, sizeof expect), 0);

    auto t = newTrack();
    ASSERT_EQ(loadBytes(*t, "records.q17", bytes).back(), 2) << t->loadError;
    const uint16_t* u = t->timeline;
    EXPECT_EQ((std::vector<uint16_t>(u, u + 7)), (std::vector<uint16_t>{1, 0x63, 7, 2, 0x3131, 12, 13}));
    EXPECT_EQ(u[7], 0);
    EXPECT_EQ(u[8], 100);
    EXPECT_EQ(u[107], 199);
    // n = 3 occupies 1 + 2 + 3 units: the odd length byte sits alone in the low half.
    EXPECT_EQ((std::vector<uint16_t>(u + 108, u + 114)), (std::vector<uint16_t>{3, 0x1309, 0x45, 1, 2, 3}));
    EXPECT_EQ(t->timelineFill, int32_t(c.timelineUnits()));

    // Playback picks the segment in force, or ids[position] for a per-frame record.
    for (int p : {0, 9, 10, 29, 30, 49, 50, 99}) {
        t->selectIds(p);
        EXPECT_EQ(t->currentIds[0], 7);
        EXPECT_EQ(t->currentIds[1], p < 50 ? 12 : 13);
        EXPECT_EQ(t->currentIds[2], 100 + p);
        EXPECT_EQ(t->currentIds[3], p < 10 ? 1 : p < 30 ? 2 : 3);
    }
    t->releaseBuffers();
}

// --- Malformed files ----------------------------------------------------------------------------

// Format17 with alpha: entry 0 is run-coded (runs 8 x 7, 4, 4; alpha runs), entry 1 a flat colour.
std::vector<uint8_t> base17(size_t* dictionaryAt) {
    ClipFile c(17, 1, 4);
    std::vector<Run> runs;
    for (int i = 0; i < 7; i++) runs.push_back({8, uint16_t(i), true});
    runs.push_back({4, 7, true});
    runs.push_back({4, 8, true});
    uint8_t alpha[64];
    for (int i = 0; i < 64; i++) alpha[i] = i < 32 ? 15 : 4;
    c.addEntry(encode17Runs(0, runs, alphaValues(alpha)));
    c.addEntry(encode17Index(3, uniformAlpha(15)));
    for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{4, uint16_t(b == 0 ? 0 : 1)}});
    std::vector<uint8_t> bytes = c.serialise();
    *dictionaryAt = bytes.size() - c.dictionaryBytes();
    return bytes;
}

// Format18 with alpha: entry 0 class 3 (four runs, two colours), entry 1 class 10 (alpha runs).
std::vector<uint8_t> base18(size_t* dictionaryAt) {
    ClipFile c(18, 1, 4);
    c.addEntry(encode18FourRuns(1, {{32, 10, true}, {32, 11, true}}, noAlpha()));
    uint8_t alpha[64];
    for (int i = 0; i < 64; i++) alpha[i] = uint8_t(i / 4);
    c.addEntry(encode18FourRuns(0, {{16, 1, true}, {16, 2, true}, {16, 3, true}, {16, 4, true}}, alphaValues(alpha)));
    for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{4, uint16_t(b < 2 ? b : 0x1234)}});
    for (int f = 0; f < 4; f++) c.setModeAll(f, 1);
    std::vector<uint8_t> bytes = c.serialise();
    *dictionaryAt = bytes.size() - c.dictionaryBytes();
    return bytes;
}

void halveTimelineUnits(std::vector<uint8_t>& b) {
    const uint32_t units = uint32_t(b[16]) | uint32_t(b[17]) << 8 | uint32_t(b[18]) << 16 | uint32_t(b[19]) << 24;
    putU32(b, 16, (units + 1) / 2);
}

struct Malformed {
    const char* what;
    int format;
    void (*spoil)(std::vector<uint8_t>& bytes, size_t dictionaryAt);
    const char* reason;  // part of the log line
};

const Malformed malformed[] = {
    {"format byte", 17, [](auto& b, size_t) { b[0] = 19; }, "not a clip"},
    {"width", 17, [](auto& b, size_t) { putU16(b, 2, 321); }, "320x240"},
    {"height", 18, [](auto& b, size_t) { putU16(b, 4, 0); }, "320x240"},
    {"hasAlpha 2", 18, [](auto& b, size_t) { b[6] = 2; }, "hasAlpha"},
    {"no frames", 17, [](auto& b, size_t) { putU16(b, 8, 0); }, "frameCount"},
    {"256 frames", 17, [](auto& b, size_t) { putU16(b, 8, 256); }, "frameCount"},
    {"entryCount beyond the file", 17, [](auto& b, size_t) { putU16(b, 10, 65535); }, "too short"},
    {"dictionaryUnits too small", 17, [](auto& b, size_t) { putU32(b, 12, 3); }, "dictionaryUnits"},
    {"dictionaryUnits absurd", 18, [](auto& b, size_t) { putU32(b, 12, 0x7FFFFFFF); }, "dictionaryUnits"},
    {"timelineUnits too small", 17, [](auto& b, size_t) { putU32(b, 16, 100); }, "timelineUnits"},
    {"timelineUnits absurd", 18, [](auto& b, size_t) { putU32(b, 16, 0xFFFFFFFF); }, "timelineUnits"},
    {"segments short of frameCount", 17, [](auto& b, size_t) { b[532 + 2] = 2; }, "segments of block 0"},
    {"256 segments", 17, [](auto& b, size_t) { putU16(b, 532, 256); }, "segments"},
    {"Format17 id beyond the dictionary", 17, [](auto& b, size_t) { putU16(b, 532 + 3, 2); }, "entry 2 of 2"},
    {"runs past 64 pixels", 17, [](auto& b, size_t d) { b[d + 13] = 0xE3; }, "runs of entry 0"},
    {"alpha runs short of 64", 17, [](auto& b, size_t d) { b[d + 18] = 0xE4; }, "alpha runs of entry 0"},
    {"class counts off", 18, [](auto& b, size_t) { putU16(b, 24, 2); }, "class counts"},
    {"unused alpha header", 18, [](auto& b, size_t d) { b[d + 4 + 6] = 0x40; }, "alpha header"},
    {"four runs short of 64", 18, [](auto& b, size_t d) { putU16(b, d, 0x8000); }, "runs of entry 0"},
    {"file shorter than its header claims", 18, [](auto& b, size_t) { b.resize(b.size() - 3); }, "too short"},
    // A header may claim half the timeline it holds (the slot reserves 4 bytes per unit): then
    // only the step that reaches the end sees it.
    {"file ends in the dictionary", 18, [](auto& b, size_t) { b.resize(b.size() - 3); halveTimelineUnits(b); },
     "file ends inside entry 1"},
    {"file ends in the mode words", 17, [](auto& b, size_t d) { b.resize(d - 100); halveTimelineUnits(b); },
     "mode words"},
};

class MalformedClip : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedClip, IsRefusedWithOneLogLineAndLeavesTheSlotEmpty) {
    const Malformed& m = GetParam();
    size_t dictionaryAt;
    std::vector<uint8_t> bytes = m.format == 17 ? base17(&dictionaryAt) : base18(&dictionaryAt);
    auto t = newTrack();
    ASSERT_EQ(loadBytes(*t, "good.q1x", bytes, 1).back(), 2) << t->loadError;  // the base is sound
    t->releaseBuffers();

    m.spoil(bytes, dictionaryAt);
    testing::internal::CaptureStdout();
    std::vector<int> answers = loadBytes(*t, "bad.q1x", bytes, 1);
    std::string out = captured();
    EXPECT_EQ(answers.back(), 0) << m.what;
    EXPECT_EQ(t->allocated, 0);
    EXPECT_EQ(t->ready, 0);
    EXPECT_EQ(t->loadState, 0u);
    EXPECT_EQ(t->timeline, nullptr);
    EXPECT_EQ(t->file, nullptr);
    std::string line = "clip refused: " + scratchDir() + "/videos/bad.q1x: ";
    size_t at = out.find(line);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out.find(m.reason, at), std::string::npos) << out;
    EXPECT_EQ(out.find("clip refused", at + 1), std::string::npos) << "more than one line: " << out;

    // The slot takes the next clip as if nothing had happened.
    std::vector<uint8_t> good = m.format == 17 ? base17(&dictionaryAt) : base18(&dictionaryAt);
    EXPECT_EQ(loadBytes(*t, "good.q1x", good).back(), 2);
    t->releaseBuffers();
}

INSTANTIATE_TEST_SUITE_P(EveryRule, MalformedClip, testing::ValuesIn(malformed));

TEST(TrackLoad, EveryTruncationIsRefused) {
    for (int format : {17, 18}) {
        size_t dictionaryAt;
        std::vector<uint8_t> bytes = format == 17 ? base17(&dictionaryAt) : base18(&dictionaryAt);
        auto t = newTrack();
        for (size_t cut = 0; cut < bytes.size(); cut += cut < 600 ? 7 : 331) {
            std::vector<uint8_t> part(bytes.begin(), bytes.begin() + cut);
            testing::internal::CaptureStdout();
            std::vector<int> answers = loadBytes(*t, "cut.q1x", part, 1);
            captured();
            ASSERT_EQ(answers.back(), 0) << "format " << format << " cut at " << cut;
            ASSERT_EQ(t->allocated, 0);
        }
        std::vector<uint8_t> last(bytes.begin(), bytes.end() - 1);
        EXPECT_EQ(loadBytes(*t, "cut.q1x", last, 1).back(), 0);
    }
}

TEST(TrackLoad, AssigningALoadedSlotReleasesItsClip) {
    auto t = newTrack();
    ASSERT_EQ(loadBytes(*t, "first.q17", clipWithEntries(17, 5)).back(), 2);
    // A clip half loaded, then the slot reassigned: nothing of the first load survives.
    putClip("second.q18", clipWithEntries(18, 5));
    t->assign(scratchDir(), "second.q18");
    EXPECT_EQ(t->allocated, 0);
    EXPECT_EQ(t->loadStep(800), 1);
    EXPECT_EQ(t->loadStep(800), 1);
    t->assign(scratchDir(), "first.q17");
    EXPECT_EQ(t->file, nullptr);
    EXPECT_EQ(loadClip(*t, "first.q17").back(), 2);
    EXPECT_EQ(t->format, 17);
    t->releaseBuffers();
}

TEST(TrackLoad, FuzzCorpusLoadsOrIsRefusedAndDecodes) {
    const std::string corpus = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/clip_fuzz";
    DIR* folder = opendir(corpus.c_str());
    ASSERT_NE(folder, nullptr) << corpus;
    int files = 0;
    auto t = newTrack();
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(corpus + "/" + entry->d_name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string data = s.str();
        testing::internal::CaptureStdout();
        std::vector<int> answers = loadBytes(*t, "corpus.clip", std::vector<uint8_t>(data.begin(), data.end()), 800);
        if (answers.back() == 2)
            for (int p = 0; p < t->frameCount; p++) t->decodeFrame(1, p, 3);
        captured();
        EXPECT_TRUE(answers.back() == 0 || answers.back() == 2) << entry->d_name;
        t->releaseBuffers();
        files++;
    }
    closedir(folder);
    EXPECT_GE(files, 4);
}

}  // namespace
