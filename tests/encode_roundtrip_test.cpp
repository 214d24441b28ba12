// The clip encoder end to end: pictures in, a clip out that the instrument's own loader accepts
// and decodes to what the encoder reported; plus the picture steps a user sees (fit, frame
// timing, RGB565 quantisation, alpha).
#include <gtest/gtest.h>

#ifdef LOOPMIXER_ENCODER
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "core/FrameBuffers.h"
#include "tools/encode/ClipEncoder.h"
#include "tools/encode/Input.h"
#include "tools/encode/Picture.h"
#include "tracks/Track.h"
#include "encode_support.h"

namespace {

using namespace encodetest;

using namespace encode;

struct Rgba {
    int w, h;
    std::vector<uint8_t> px;
    Rgba(int w_, int h_) : w(w_), h(h_), px(size_t(w_) * h_ * 4, 255) {}
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
        uint8_t* p = &px[(size_t(y) * w + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
    const uint8_t* at(int x, int y) const { return &px[(size_t(y) * w + x) * 4]; }
};

void writePng(const std::string& path, const Rgba& pic) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = pic.w;
    image.height = pic.h;
    image.format = PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pic.px.data(), 0, nullptr)) << path;
}

double printedPsnr(const std::string& out) {
    size_t at = out.find("PSNR ");
    return at == std::string::npos ? -1 : atof(out.c_str() + at + 5);
}

uint16_t quantised(const uint8_t* p) { return nearest565(p[0], p[1], p[2]); }

// Loads a clip with the program's loader and decodes every frame (deck 1, with the alpha plane
// when the clip has alpha). Empty when the loader refuses it.
struct Decoded {
    int format = 0, hasAlpha = 0, entryCount = 0;
    std::vector<std::vector<uint16_t>> frames;
    std::vector<std::vector<uint8_t>> alpha;
};

Decoded decode(const std::string& path) {
    allocateFrameBuffers();
    std::unique_ptr<Track> t(new Track);
    t->assign(".", "x");
    t->path = path;
    Decoded d;
    int r = 1;
    for (int i = 0; i < 100 && r == 1; i++) r = t->loadStep(65000);
    if (r != 2) return d;
    d.format = t->format;
    d.hasAlpha = t->hasAlpha;
    d.entryCount = t->entryCount;
    for (int f = 0; f < t->frameCount; f++) {
        t->decodeFrame(1, f, t->hasAlpha ? 3 : 0);
        d.frames.emplace_back(deckFrames + FramePixels, deckFrames + 2 * FramePixels);
        d.alpha.emplace_back(alphaPlane, alphaPlane + FramePixels);
    }
    t->releaseBuffers();
    return d;
}

// A moving scene with flat areas, a gradient, a bouncing square and some noise, so that every
// kind of block coding gets used.
Rgba scene(int f) {
    Rgba p(320, 240);
    unsigned seed = 7;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            seed = seed * 1103515245 + 12345;
            if (y < 80) p.set(x, y, uint8_t(x * 255 / 319), uint8_t(y * 3), uint8_t(200 - f * 3));
            else if (y < 160) p.set(x, y, 30, 60, 90);
            else p.set(x, y, uint8_t((seed >> 16) & 0xFF), uint8_t(x ^ y), uint8_t(f * 9));
        }
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 30; x++) p.set(20 + f * 7 + x, 100 + y, 250, 240, 10);
    return p;
}

double psnrAgainst(const Decoded& d, const std::vector<Rgba>& source) {
    uint64_t err = 0;
    std::vector<uint16_t> ref(Pixels);
    for (size_t f = 0; f < d.frames.size(); f++) {
        for (int i = 0; i < Pixels; i++) ref[i] = quantised(&source[f].px[size_t(i) * 4]);
        err += squaredError565(d.frames[f].data(), ref.data(), Pixels);
    }
    return psnrFromError(err, d.frames.size() * Pixels);
}

class EncodeRoundTrip : public ::testing::Test {
protected:
    std::string dir = makeFolder();
    std::vector<Rgba> frames;
    void writeScene(int n) {
        mkdir((dir + "/in").c_str(), 0777);
        for (int f = 0; f < n; f++) {
            frames.push_back(scene(f));
            char name[64];
            snprintf(name, sizeof name, "/in/frame%03d.png", f);
            writePng(dir + name, frames.back());
        }
    }
    void TearDown() override { system(("rm -rf " + dir).c_str()); }
};

TEST_F(EncodeRoundTrip, BothFormatsDecodeWithinThePrintedPsnr) {
    writeScene(12);
    for (const char* ext : {"q18", "q17"}) {
        std::string clip = dir + "/scene." + ext;
        Outcome r = encoder(dir, dir + "/in -o " + clip);
        ASSERT_EQ(r.status, 0) << r.err;
        double printed = printedPsnr(r.out);
        ASSERT_GT(printed, 30.0) << r.out;
        Decoded d = decode(clip);
        ASSERT_EQ(d.frames.size(), 12u) << ext;
        EXPECT_EQ(d.format, ext[2] == '8' ? 18 : 17);
        EXPECT_EQ(d.hasAlpha, 0) << "an opaque input makes a clip without alpha";
        EXPECT_NEAR(psnrAgainst(d, frames), printed, 0.01) << r.out;
        struct stat st;
        EXPECT_NE(stat((dir + "/.scene." + ext + ".part").c_str(), &st), 0) << "temporary left behind";
    }
}

TEST_F(EncodeRoundTrip, QualityHundredKeepsEveryRgb565PixelAndLowerQualityIsSmaller) {
    writeScene(6);
    Outcome exact = encoder(dir, dir + "/in --quality 100 -o " + dir + "/exact.q18");
    ASSERT_EQ(exact.status, 0) << exact.err;
    Decoded d = decode(dir + "/exact.q18");
    ASSERT_EQ(d.frames.size(), 6u);
    for (int f = 0; f < 6; f++)
        for (int i = 0; i < Pixels; i += 97)
            ASSERT_EQ(d.frames[f][i], quantised(&frames[f].px[size_t(i) * 4])) << "frame " << f << " pixel " << i;
    EXPECT_NE(exact.out.find("(exact)"), std::string::npos) << exact.out;

    Outcome low = encoder(dir, dir + "/in --quality 40 -o " + dir + "/low.q18");
    ASSERT_EQ(low.status, 0) << low.err;
    struct stat a, b;
    ASSERT_EQ(stat((dir + "/exact.q18").c_str(), &a), 0);
    ASSERT_EQ(stat((dir + "/low.q18").c_str(), &b), 0);
    EXPECT_LT(b.st_size, a.st_size);
    // Quality 40 promises at least 26 dB on every block.
    EXPECT_GE(psnrAgainst(decode(dir + "/low.q18"), frames), 26.0);
}

TEST_F(EncodeRoundTrip, AlphaFromPngIsKeptExactlyAndTransparentBlocksAreBlack) {
    mkdir((dir + "/in").c_str(), 0777);
    std::vector<Rgba> src;
    for (int f = 0; f < 4; f++) {
        Rgba p(320, 240);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                // Left third transparent, a soft alpha ramp in the middle, opaque on the right.
                uint8_t a = x < 104 ? 0 : x < 216 ? uint8_t((x - 104) * 255 / 111) : 255;
                p.set(x, y, uint8_t(x + f * 10), uint8_t(y), 128, a);
            }
        src.push_back(p);
        writePng(dir + "/in/a" + std::to_string(f) + ".png", p);
    }
    for (const char* ext : {"q18", "q17"}) {
        std::string clip = dir + "/alpha." + ext;
        Outcome r = encoder(dir, dir + "/in -o " + clip);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("with alpha"), std::string::npos) << r.out;
        Decoded d = decode(clip);
        ASSERT_EQ(d.frames.size(), 4u) << ext;
        EXPECT_EQ(d.hasAlpha, 1);
        for (int f = 0; f < 4; f++)
            for (int y = 0; y < 240; y += 7)
                for (int x = 0; x < 320; x += 3) {
                    int i = y * 320 + x;
                    ASSERT_EQ(d.alpha[f][i], (src[f].at(x, y)[3] * 15 + 127) / 255) << ext << " " << x << "," << y;
                    if (x < 104) {
                        ASSERT_EQ(d.frames[f][i], 0) << "transparent pixels carry no colour";
                    }
                }
    }
}

TEST_F(EncodeRoundTrip, BusyClipStaysWithinEveryLimitOfTheFormat) {
    // 60 frames of noise would need 72,000 entries, one per block and frame.
    mkdir((dir + "/in").c_str(), 0777);
    unsigned seed = 1;
    for (int f = 0; f < 60; f++) {
        Rgba p(320, 240);
        for (auto& v : p.px) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
        for (size_t i = 3; i < p.px.size(); i += 4) p.px[i] = 255;
        char name[64];
        snprintf(name, sizeof name, "/in/n%02d.png", f);
        writePng(dir + name, p);
    }
    for (const char* ext : {"q18", "q17"}) {
        Outcome r = encoder(dir, dir + "/in --quality 100 -o " + dir + "/noise." + ext);
        ASSERT_EQ(r.status, 0) << r.err;
        Decoded d = decode(dir + "/noise." + ext);  // the loader checks segments and entry sizes
        ASSERT_EQ(d.frames.size(), 60u) << ext;
        EXPECT_LE(d.entryCount, 65535);
        EXPECT_GT(d.entryCount, 30000) << "the dictionary is used, not thrown away";
    }
}

// Soft waves slowly zooming in: every block changes in every frame.
InputClip zoomingWaves(int frames) {
    InputClip in;
    for (int f = 0; f < frames; f++) {
        Frame565 frame;
        double zoom = 1.0 + 0.02 * f;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                double u = (x - 160) / zoom, v = (y - 120) / zoom;
                int r = int(128 + 100 * std::sin(u / 9.0)), g = int(128 + 100 * std::cos(v / 7.0)),
                    b = int(128 + 60 * std::sin((u + v) / 13.0));
                frame.colour[y * 320 + x] = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
            }
        in.frames.push_back(frame);
    }
    return in;
}

TEST(EncodeDictionaryShare, AClipOverTheEntryLimitSpreadsItsEntriesOverEveryFrame) {
    // The clip wants 1,200 entries a frame and may have 6,000 in all.
    const int frames = 16, limit = 6000;
    InputClip in = zoomingWaves(frames);
    EncodeParams params;
    params.quality = 100;
    EncodedClip out;
    encodeFrames(in, params, out, nullptr, limit);
    EXPECT_LE(out.clip.entries.size(), size_t(limit));
    EXPECT_GT(out.heldBack, 0) << "the clip is over the limit: some changed blocks wait for a later frame";
    std::vector<double> psnr;
    for (int f = 0; f < frames; f++)
        psnr.push_back(psnrFromError(squaredError565(out.pictures[f].data(), in.frames[f].colour.data(), Pixels), Pixels));
    EXPECT_EQ(psnr[0], 99.0) << "the first frame has nothing to fall back on: all of it gets entries";
    for (int f = 1; f < frames; f++)
        EXPECT_GE(psnr[f], 26.0) << "frame " << f << ": the entries ran out before the end of the clip";
    std::string why;
    EXPECT_FALSE(out.clip.serialise(&why).empty()) << why;
}

TEST(EncodeDictionaryShare, AClipHeldByTheEntryLimitComesOutTheSameEveryTime) {
    // Above quality 60 such a clip is made in passes on several threads (one at 60 beside the
    // first, one taking what the first worked out): none may depend on the threads' timing.
    InputClip in = zoomingWaves(4);
    EncodeParams params;
    params.quality = 75;
    std::vector<uint8_t> first;
    for (int run = 0; run < 2; run++) {
        EncodedClip out;
        encodeFrames(in, params, out, nullptr, 2000);
        ASSERT_GT(out.heldBack, 0) << "the clip is held by the limit";
        std::vector<uint8_t> bytes = out.clip.serialise();
        ASSERT_FALSE(bytes.empty());
        if (run == 0) first = bytes;
        EXPECT_EQ(bytes, first) << "run " << run;
    }
}

// PSNR of an encoding against its input frames.
double encodedPsnr(const InputClip& in, const EncodedClip& out) {
    uint64_t error = 0;
    for (size_t f = 0; f < in.frames.size(); f++)
        error += squaredError565(out.pictures[f].data(), in.frames[f].colour.data(), Pixels);
    return psnrFromError(error, in.frames.size() * Pixels);
}

TEST(EncodeQuality, PsnrNeverFallsAsQualityRisesOnFootageHeldByTheEntryLimit) {
    // A game of life with mould, where nearly every block changes in every frame: 40 frames want
    // about 45,000 entries and may have 30,000.
    if (system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg command";
    std::string dir = makeFolder();
    ASSERT_EQ(system(("ffmpeg -v error -y -f lavfi -i life=size=320x240:rate=25:seed=1:ratio=0.5:mold=10:"
                      "life_color=#00ff00:death_color=#c83232:mold_color=#1c1c1c -frames:v 40 -c:v ffv1 " +
                      dir + "/life.mkv").c_str()), 0);
    InputClip in;
    std::string error;
    ASSERT_TRUE(readInput(dir + "/life.mkv", InputSettings(), in, nullptr, error)) << error;
    system(("rm -rf " + dir).c_str());
    double last = 0;
    for (int quality : {40, 60, 80, 100}) {
        EncodeParams params;
        params.quality = quality;
        EncodedClip out;
        encodeFrames(in, params, out, nullptr, 30000);
        ASSERT_LE(out.clip.entries.size(), 30000u);
        double psnr = encodedPsnr(in, out);
        EXPECT_GE(psnr, last) << "quality " << quality;
        last = psnr;
    }
}

TEST(EncodeQuality, EachQualityStepOnMovingWavesIsAModerateStepInSize) {
    // Colour waves moving everywhere: every block sits near what a quality lets it lose, and all
    // of them once passed from a literal colour to an entry between one step and the next (nine
    // times the bytes).
    InputClip in;
    for (int f = 0; f < 8; f++) {
        Frame565 frame;
        double t = f / 25.0;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                double wave[3] = {std::sin(x / 19.0 + t * 2.1), std::sin(y / 13.0 + t * 1.7), std::sin((x + y) / 23.0 + t * 1.3)};
                int level[3];
                for (int k = 0; k < 3; k++) level[k] = int((128 + 127 * wave[k]) * (k == 1 ? 63 : 31) / 255 + 0.5);
                frame.colour[y * 320 + x] = uint16_t(level[0] << 11 | level[1] << 5 | level[2]);
            }
        in.frames.push_back(frame);
    }
    double lastBytes = 0;
    for (int quality = 20; quality <= 100; quality += 10) {
        EncodeParams params;
        params.quality = quality;
        EncodedClip out;
        encodeFrames(in, params, out, nullptr);
        double bytes = double(out.clip.serialise().size());
        if (lastBytes > 0) {
            EXPECT_LE(bytes, 3.0 * lastBytes) << "quality " << quality;
        }
        lastBytes = bytes;
    }
}

TEST(EncodeQuality, LowQualityKeepsFootageOfAFewFlatColoursExact) {
    // Colour bars with a square moving over them: the exact clip is small already, and losing
    // detail would save next to nothing.
    InputClip in;
    for (int f = 0; f < 8; f++) {
        Frame565 frame;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                bool square = x >= 30 + 13 * f && x < 54 + 13 * f && y >= 100 && y < 124;
                frame.colour[y * 320 + x] = square ? 0xFFE0 : uint16_t(0x1234 * (1 + x / 45) + (y > 160 ? 0x0841 * (x / 7 % 3) : 0));
            }
        in.frames.push_back(frame);
    }
    EncodeParams params;
    params.quality = 20;
    EncodedClip out;
    encodeFrames(in, params, out, nullptr);
    EXPECT_EQ(encodedPsnr(in, out), 99.0);
}

TEST(EncodeQuality, AFlatBlockTakesItsNewColourWhenThatCostsLessThanKeepingItsOldOne) {
    // Noise on the left (the same in both frames, so the clip is too big to be kept exact
    // instead), flat grey on the right that turns one red level redder: within what quality 60
    // lets a block lose, but a literal colour costs a few bytes and showing the old grey costs
    // the error of every pixel.
    InputClip in;
    uint32_t seed = 7;
    Frame565 frame;
    for (int i = 0; i < Pixels; i++) {
        seed = seed * 1103515245u + 12345u;
        frame.colour[i] = i % 320 < 160 ? uint16_t(seed >> 16) : uint16_t(16 << 11 | 32 << 5 | 16);
    }
    in.frames.push_back(frame);
    for (int i = 0; i < Pixels; i++)
        if (i % 320 >= 160) frame.colour[i] += 1 << 11;
    in.frames.push_back(frame);
    EncodeParams params;
    params.quality = 60;
    EncodedClip out;
    encodeFrames(in, params, out, nullptr);
    for (int y = 0; y < 240; y += 8)
        for (int x = 160; x < 320; x += 8)
            ASSERT_EQ(out.pictures[1][y * 320 + x], frame.colour[y * 320 + x]) << "block at " << x << "," << y;
}

TEST(EncodePicture, FitCropsLetterboxesOrStretches) {
    // 640x240: left half red, right half blue, a white top row.
    Rgba src(640, 240);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 640; x++) src.set(x, y, x < 320 ? 255 : 0, 0, x < 320 ? 0 : 255);
    SourcePicture pic{src.px.data(), 640, 240, 640 * 4, 1.0};
    std::vector<uint8_t> out(Pixels * 4);
    auto px = [&](int x, int y) { return &out[(size_t(y) * 320 + x) * 4]; };

    fitPicture(pic, Fit::Crop, out.data());  // keeps the middle 320 columns: half each
    EXPECT_EQ(px(0, 0)[0], 255);
    EXPECT_EQ(px(158, 120)[0], 255);
    EXPECT_EQ(px(161, 120)[2], 255);
    EXPECT_EQ(px(319, 239)[2], 255);

    fitPicture(pic, Fit::Letterbox, out.data());  // 320x120 in the middle, black above and below
    EXPECT_EQ(px(10, 59)[0] | px(10, 59)[1] | px(10, 59)[2], 0);
    EXPECT_EQ(px(10, 59)[3], 255);
    EXPECT_EQ(px(10, 60)[0], 255);
    EXPECT_EQ(px(310, 179)[2], 255);
    EXPECT_EQ(px(310, 180)[2], 0);

    fitPicture(pic, Fit::Stretch, out.data());  // all of it, squeezed
    EXPECT_EQ(px(10, 0)[0], 255);
    EXPECT_EQ(px(310, 239)[2], 255);

    // Anamorphic pixels (twice as wide as high) make a 160x240 source fill 320x240 exactly.
    Rgba narrow(160, 240);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 160; x++) narrow.set(x, y, uint8_t(x), 0, 0);
    SourcePicture wide{narrow.px.data(), 160, 240, 160 * 4, 2.0};
    fitPicture(wide, Fit::Letterbox, out.data());
    EXPECT_NE(px(1, 120)[3], 0);
    EXPECT_NEAR(px(319, 120)[0], 159, 1) << "nothing cut, no bars";
}

TEST(EncodePicture, QuantisationTakesTheLevelNearestOnScreenAndDitherAveragesToTheTrueValue) {
    // The level whose widening (bit replication) is nearest, where truncation would often take
    // another (3: 0 and 0, 250: 31 and 62, 252: 31 and 63): {8-bit value, 5-bit, 6-bit level}.
    const int cases[][3] = {{0, 0, 0}, {3, 0, 1}, {7, 1, 2}, {12, 1, 3}, {137, 17, 34},
                            {245, 30, 60}, {250, 30, 62}, {252, 31, 62}, {255, 31, 63}};
    for (const auto& c : cases) {
        EXPECT_EQ(nearestLevel5(c[0]), c[1]) << c[0];
        EXPECT_EQ(nearestLevel6(c[0]), c[2]) << c[0];
    }
    std::vector<uint8_t> flat(Pixels * 4);
    for (int i = 0; i < Pixels; i++) {
        flat[4 * i] = 136;      // halfway between red levels 16 (132) and 17 (140)
        flat[4 * i + 1] = 132;  // halfway between green levels 32 (130) and 33 (134)
        flat[4 * i + 2] = 255;
        flat[4 * i + 3] = 255;
    }
    Frame565 plain, dithered;
    quantise(flat.data(), false, plain);
    EXPECT_EQ(plain.colour[0], nearest565(136, 132, 255));
    EXPECT_EQ(plain.quantisationError, uint64_t(Pixels) * (4 * 4 + 2 * 2)) << "what the screen shows differs by 4 and 2";
    quantise(flat.data(), true, dithered);
    int reds = 0, greens = 0;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            uint16_t c = dithered.colour[y * 320 + x];
            EXPECT_EQ(c & 31, 31) << "a full channel stays full";
            reds += c >> 11;
            greens += (c >> 5) & 63;
        }
    EXPECT_EQ(reds, 16 * 16 + 8);  // half of the 16 pixels one level up
    EXPECT_EQ(greens, 16 * 32 + 8);
}

}  // namespace

#else

TEST(EncodeRoundTrip, Skipped) { GTEST_SKIP() << "loopmixer-encode was not built (FFmpeg's development libraries missing)"; }

#endif
