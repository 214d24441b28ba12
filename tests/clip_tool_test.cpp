// loopmixer-clip as a user runs it: info lines, decode output, pictures, and a clean refusal.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "track_clips.h"

namespace {

const std::string tool = std::string(LOOPMIXER_BINARY_DIR) + "/tools/clip/loopmixer-clip";
const std::string videos = std::string(LOOPMIXER_RUN_DIR) + "/videos/";

// Runs the tool; its exit status, with stdout and stderr in out and err.
int run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    std::string o = scratchDir() + "/tool.out", e = scratchDir() + "/tool.err";
    int status = std::system((tool + " " + args + " >" + o + " 2>" + e).c_str());
    auto slurp = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    if (out) *out = slurp(o);
    if (err) *err = slurp(e);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long fileSize(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

TEST(ClipTool, InfoStartsWithTheHeaderLinesAndTheEstimate) {
    std::string out;
    ASSERT_EQ(run("info " + videos + "orb.q18", &out), 0);
    int32_t estimate = Track::probe(videos + "orb.q18");
    std::string head = "format: 18\nhasAlpha: 1\nwidth: 320\nheight: 240\nframes: 96\nentries: ";
    EXPECT_EQ(out.compare(0, head.size(), head), 0) << out;
    EXPECT_NE(out.find("\nestimate: " + std::to_string(estimate) + "\n"), std::string::npos) << out;
}

TEST(ClipTool, DecodeWritesEveryFrameAsTheLoaderDecodesIt) {
    std::string frames = scratchDir() + "/checker.rgb", alpha = scratchDir() + "/checker.alpha";
    ASSERT_EQ(run("decode " + videos + "checker.q17 " + frames + " --alpha " + alpha), 0);
    EXPECT_EQ(fileSize(frames), 48L * 153600);
    EXPECT_EQ(fileSize(alpha), 48L * 76800);

    // Frame 47's first row, decoded here the same way.
    auto t = newTrack();
    t->assign(LOOPMIXER_RUN_DIR, "checker.q17");
    int r = 1;
    while (r == 1) r = t->loadStep(800);
    ASSERT_EQ(r, 2);
    std::memset(deckFrames, 0, 2 * FrameBytes);
    for (int p = 0; p < 48; p++) t->decodeFrame(1, p, 3);
    std::ifstream in(frames, std::ios::binary);
    in.seekg(47L * 153600);
    uint8_t row[640];
    in.read(reinterpret_cast<char*>(row), sizeof row);
    for (int x = 0; x < 320; x++) ASSERT_EQ(row[2 * x] | row[2 * x + 1] << 8, deckPixel(1, x, 0)) << x;
    t->releaseBuffers();
}

TEST(ClipTool, PicturesAreWritten) {
    std::string png = scratchDir() + "/frame.png", sheet = scratchDir() + "/sheet.png";
    ASSERT_EQ(run("png " + videos + "bars.q17 10 " + png), 0);
    ASSERT_EQ(run("sheet " + videos + "fields.q18 " + sheet), 0);
    std::ifstream in(png, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    EXPECT_GT(fileSize(sheet), 0);
    EXPECT_EQ(run("png " + videos + "bars.q17 64 " + png), 1);  // frames 0..63
}

TEST(ClipTool, ABadClipGivesOneLineOnStderrAndStatusOne) {
    std::vector<uint8_t> bytes(700, 0);
    bytes[0] = 17;
    putClip("broken.q17", bytes);
    std::string err;
    EXPECT_EQ(run("decode " + scratchDir() + "/videos/broken.q17 " + scratchDir() + "/x.rgb", nullptr, &err), 1);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("320x240"), std::string::npos) << err;
    EXPECT_EQ(run("info " + scratchDir() + "/videos/missing.q18", nullptr, &err), 1);
    EXPECT_NE(err.find("missing.q18"), std::string::npos);
}

}  // namespace
