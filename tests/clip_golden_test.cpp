// The demo clips the build writes into the run folder, loaded and decoded as the program does:
// every frame must equal the picture they were drawn from, and the per-frame checksums must
// match the references in tests/data/clips (LOOPMIXER_REGENERATE_REFS=1 rewrites them).
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/clip/DemoClips.h"
#include "track_clips.h"

using namespace clipwriter;

namespace {

uint32_t fnv1a(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 16777619u;
    return h;
}

class DemoClipGolden : public testing::TestWithParam<DemoClip> {};

TEST_P(DemoClipGolden, DecodesToItsPicturesAndItsReference) {
    const DemoClip& d = GetParam();
    SourceClip source = d.draw();
    auto t = newTrack();
    t->assign(LOOPMIXER_RUN_DIR, d.name);
    int r = 1;
    while (r == 1) r = t->loadStep(800);
    ASSERT_EQ(r, 2) << d.name << ": " << t->loadError;
    EXPECT_EQ(t->format, source.format);
    EXPECT_EQ(t->hasAlpha, source.hasAlpha);
    ASSERT_EQ(t->frameCount, source.frameCount);

    std::memset(deckFrames, 0, 2 * FrameBytes);
    std::memset(alphaPlane, 0, FrameBytes);
    std::ostringstream lines;
    for (int p = 0; p < t->frameCount; p++) {
        t->decodeFrame(1, p, 3);
        const uint16_t* px = deckFrames + FramePixels;
        const uint16_t* want = source.frame(p);
        for (int i = 0; i < FramePixels; i++)
            ASSERT_EQ(px[i], want[i]) << d.name << " frame " << p << " first differs at x " << i % 320 << " y " << i / 320;
        if (source.hasAlpha) {
            for (int i = 0; i < FramePixels; i++)
                ASSERT_EQ(alphaPlane[i], source.alphaFrame(p)[i]) << d.name << " frame " << p << " alpha at " << i;
        }
        char line[80];
        std::snprintf(line, sizeof line, "%d, %d, %08x, %08x\n", p, FrameBytes, fnv1a(px, FrameBytes),
                      source.hasAlpha ? fnv1a(alphaPlane, FramePixels) : 0u);
        lines << line;
    }
    t->releaseBuffers();

    std::string refPath = std::string(LOOPMIXER_SOURCE_DIR) + "/tests/data/clips/" + d.name + ".ref";
    if (std::getenv("LOOPMIXER_REGENERATE_REFS")) {
        std::ofstream(refPath) << lines.str();
        GTEST_SKIP() << "rewrote " << refPath;
    }
    std::ifstream in(refPath);
    ASSERT_TRUE(in.good()) << "no reference " << refPath;
    std::stringstream ref;
    ref << in.rdbuf();
    EXPECT_EQ(lines.str(), ref.str());
}

INSTANTIATE_TEST_SUITE_P(Bundled, DemoClipGolden, testing::ValuesIn(demoClips()),
                         [](const testing::TestParamInfo<DemoClip>& info) {
                             return info.param.name.substr(0, info.param.name.find('.'));
                         });

TEST(DemoClips, CoverBothFormatsWithAndWithoutAlphaAndTheFormatsStrengths) {
    int kinds = 0;
    for (const DemoClip& d : demoClips()) {
        auto t = newTrack();
        t->assign(LOOPMIXER_RUN_DIR, d.name);
        int r = 1;
        while (r == 1) r = t->loadStep(65000);
        ASSERT_EQ(r, 2) << d.name;
        EXPECT_GE(t->frameCount, 40);
        EXPECT_LE(t->frameCount, 120);
        kinds |= 1 << ((t->format - 17) * 2 + t->hasAlpha);
        // Blocks that do not change keep one entry: no clip needs an entry per block per frame.
        EXPECT_LT(t->entryCount, 1200 * t->frameCount / 4) << d.name;
        t->releaseBuffers();
    }
    EXPECT_EQ(kinds, 15);
}

TEST(DemoClips, DefaultPlaylistsFileListsThem) {
    std::ifstream in(std::string(LOOPMIXER_RUN_DIR) + "/data/playlists.xml", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    // Where FFmpeg is installed the build adds a playlist of encoded footage after the demo ones.
    std::string file = s.str();
    const std::string footage =
        "\t<playlist>\n\t\t<name>Footage</name>\n"
        "\t\t<track>mandelbrot.q18</track>\n\t\t<track>sierpinski.q18</track>\n\t</playlist>\n";
    const size_t at = file.find(footage);
    if (at != std::string::npos) file.erase(at, footage.size());
    EXPECT_EQ(file,
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n"
              "\t<playlist>\n\t\t<name>Demo</name>\n"
              "\t\t<track>plasma.q18</track>\n\t\t<track>bars.q17</track>\n\t\t<track>orb.q18</track>\n"
              "\t\t<track>checker.q17</track>\n\t\t<track>fields.q18</track>\n\t</playlist>\n"
              "\t<playlist>\n\t\t<name>Overlays</name>\n"
              "\t\t<track>orb.q18</track>\n\t\t<track>checker.q17</track>\n\t</playlist>\n"
              "</all>\n");
}

}  // namespace
