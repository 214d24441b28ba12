// The pictures and font the build puts in data/: sizes, a real picture at every atlas piece the
// screens cut out, and the contrasts the screens rely on when they draw text over them.
#include <SDL/SDL.h>
#include <SDL/SDL_image.h>
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "harness/Harness.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"

namespace {

struct Rgba {
    int r, g, b, a;
};

class Picture {
public:
    explicit Picture(const std::string& name) : surface(IMG_Load((std::string(LOOPMIXER_RUN_DIR) + "/data/" + name).c_str())) {}
    ~Picture() {
        if (surface) SDL_FreeSurface(surface);
    }
    bool loaded() const { return surface != nullptr; }
    int width() const { return surface->w; }
    int height() const { return surface->h; }

    Rgba at(int x, int y) const {
        const Uint8* p = static_cast<const Uint8*>(surface->pixels) + y * surface->pitch + x * surface->format->BytesPerPixel;
        Uint32 value = 0;
        switch (surface->format->BytesPerPixel) {
        case 1: value = *p; break;
        case 2: value = *reinterpret_cast<const Uint16*>(p); break;
        case 3: value = SDL_BYTEORDER == SDL_LIL_ENDIAN ? p[0] | p[1] << 8 | p[2] << 16 : p[2] | p[1] << 8 | p[0] << 16; break;
        default: value = *reinterpret_cast<const Uint32*>(p); break;
        }
        Uint8 r, g, b, a;
        SDL_GetRGBA(value, surface->format, &r, &g, &b, &a);
        return Rgba{r, g, b, a};
    }

private:
    SDL_Surface* surface;
};

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double luminance(double r, double g, double b) {
    auto lin = [](double c) {
        c /= 255;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
}

double contrast(double l1, double l2) {
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

// Mean luminance of a box, from the mean colour.
double meanLuminance(const Picture& p, int x, int y, int w, int h) {
    double r = 0, g = 0, b = 0;
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++) {
            Rgba c = p.at(i, j);
            r += c.r;
            g += c.g;
            b += c.b;
        }
    double n = double(w) * h;
    return luminance(r / n, g / n, b / n);
}

struct Piece {
    const char* role;
    int x, y, w, h;
};

// Every rectangle of the atlas that a screen blits.
const Piece atlasPieces[] = {
    {"new playlist", 0, 0, 48, 16},   {"home", 0, 32, 48, 16},          {"keys", 48, 32, 48, 16},
    {"back", 0, 48, 48, 16},          {"checkbox unticked", 96, 0, 16, 16}, {"checkbox ticked", 96, 16, 16, 16},
    {"delete", 112, 0, 64, 16},       {"preview", 112, 16, 64, 16},     {"edit", 112, 32, 64, 16},
};

TEST(Pictures, HaveTheSizesTheScreensBlit) {
    struct Expect {
        const char* name;
        int w, h;
    } expected[] = {{"home.png", 320, 240}, {"logo-tarnobelli.png", 320, 240}, {"abxy.png", 96, 96}};
    for (const Expect& e : expected) {
        Picture p(e.name);
        ASSERT_TRUE(p.loaded()) << e.name << ": " << IMG_GetError();
        EXPECT_EQ(p.width(), e.w) << e.name;
        EXPECT_EQ(p.height(), e.h) << e.name;
    }
    Picture atlas("textureUI.png");
    ASSERT_TRUE(atlas.loaded()) << IMG_GetError();
    for (const Piece& piece : atlasPieces) {
        EXPECT_LE(piece.x + piece.w, atlas.width()) << piece.role;
        EXPECT_LE(piece.y + piece.h, atlas.height()) << piece.role;
    }
}

TEST(Pictures, EveryAtlasPieceIsADrawnMostlyOpaquePicture) {
    Picture atlas("textureUI.png");
    ASSERT_TRUE(atlas.loaded());
    for (const Piece& piece : atlasPieces) {
        std::set<int> colours;
        int opaque = 0;
        for (int y = piece.y; y < piece.y + piece.h; y++)
            for (int x = piece.x; x < piece.x + piece.w; x++) {
                Rgba c = atlas.at(x, y);
                if (c.a == 255) opaque++;
                if (c.a > 0) colours.insert(c.r << 16 | c.g << 8 | c.b);
            }
        // A face, a rim and a label at least: never a flat block or an empty hole.
        EXPECT_GE(colours.size(), 3u) << piece.role;
        // Rounded corners and the checkbox's margin may be see-through; the bulk may not.
        EXPECT_GE(opaque * 10, piece.w * piece.h * 6) << piece.role << ": mostly transparent";
        // The middle of a button is where its label or tick is drawn: it must show.
        Rgba middle = atlas.at(piece.x + piece.w / 2, piece.y + piece.h / 2);
        EXPECT_GT(middle.a, 0) << piece.role;
    }
}

TEST(Pictures, TickedAndUntickedCheckboxesDiffer) {
    Picture atlas("textureUI.png");
    ASSERT_TRUE(atlas.loaded());
    int differing = 0;
    for (int y = 0; y < 16; y++)
        for (int x = 96; x < 112; x++) {
            Rgba a = atlas.at(x, y), b = atlas.at(x, y + 16);
            if (a.r != b.r || a.g != b.g || a.b != b.b || a.a != b.a) differing++;
        }
    EXPECT_GE(differing, 40);
}

// The home menu writes each item's name in black at its cell's top-left (white when selected);
// both must read on the cell, and the empty top-left cell carries a picture of its own.
TEST(Pictures, HomeCellsCarryBlackAndWhiteLabels) {
    Picture home("home.png");
    ASSERT_TRUE(home.loaded());
    const int cells[5][2] = {{1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}};
    for (const auto& cell : cells) {
        int x = cell[0] * 104 + 9, y = cell[1] * 104 + 15;
        // Where the labels go: the large names and the small line below them.
        double l = meanLuminance(home, x + 4, y + 2, 86, 48);
        EXPECT_GE(contrast(l, 0), 4.5) << "black label on cell " << cell[0] << "," << cell[1];
        EXPECT_GE(contrast(l, 1), 2.8) << "white label on cell " << cell[0] << "," << cell[1];
    }
    std::set<int> colours;
    for (int y = 15; y < 109; y++)
        for (int x = 9; x < 103; x++) {
            Rgba c = home.at(x, y);
            colours.insert(c.r << 16 | c.g << 8 | c.b);
        }
    EXPECT_GE(colours.size(), 10u) << "the top-left cell shows the instrument's name";
}

// The splash fades every pixel except pure black ones, so the background must be exactly black
// and the logo itself must not be.
TEST(Pictures, SplashLogoIsColourOnPureBlack) {
    Picture logo("logo-tarnobelli.png");
    ASSERT_TRUE(logo.loaded());
    int black = 0, bright = 0;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            Rgba c = logo.at(x, y);
            if (c.r == 0 && c.g == 0 && c.b == 0) black++;
            if (std::max({c.r, c.g, c.b}) >= 200) bright++;
        }
    const int corners[4][2] = {{0, 0}, {319, 0}, {0, 239}, {319, 239}};
    for (const auto& p : corners) {
        Rgba c = logo.at(p[0], p[1]);
        EXPECT_EQ(c.r + c.g + c.b, 0) << "corner " << p[0] << "," << p[1];
    }
    EXPECT_GE(black, 320 * 240 / 2);
    EXPECT_GE(bright, 2000);
}

// The options screen writes filter names in amber at four spots over the picture (blitted at
// 18, 18): the picture under those spots must stay dark, and the four buttons must be there.
TEST(Pictures, FaceButtonDiamondLeavesNameSpotsReadable) {
    Picture abxy("abxy.png");
    ASSERT_TRUE(abxy.loaded());
    const double amber = luminance(0xFF, 0xB0, 0x00);
    const int spots[4][2] = {{74 - 18, 24 - 18}, {106 - 18, 56 - 18}, {74 - 18, 88 - 18}, {42 - 18, 56 - 18}};
    for (const auto& s : spots) {
        int w = std::min(30, 96 - s[0]);
        for (int y = s[1]; y < s[1] + 10; y++)
            for (int x = s[0]; x < s[0] + w; x++) {
                Rgba c = abxy.at(x, y);
                ASSERT_GE(contrast(luminance(c.r, c.g, c.b), amber), 3.0)
                    << "pixel " << x << "," << y << " under the name spot " << s[0] << "," << s[1];
            }
    }
    // Y top, A left, B right, X bottom: each cap differs from the black around the diamond.
    const int caps[4][2] = {{48, 16}, {16, 48}, {80, 48}, {48, 80}};
    for (const auto& k : caps) {
        std::set<int> colours;
        for (int y = k[1] - 10; y <= k[1] + 10; y++)
            for (int x = k[0] - 10; x <= k[0] + 10; x++) {
                Rgba c = abxy.at(x, y);
                colours.insert(c.r << 16 | c.g << 8 | c.b);
            }
        EXPECT_GE(colours.size(), 5u) << "cap at " << k[0] << "," << k[1];
    }
}

TEST(Font, TheFontFileRendersText) {
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* font = TTF_OpenFont((std::string(LOOPMIXER_RUN_DIR) + "/data/volter").c_str(), 18);
    ASSERT_NE(font, nullptr) << TTF_GetError();
    int w = 0, h = 0;
    EXPECT_EQ(TTF_SizeText(font, "OPTIONS", &w, &h), 0);
    EXPECT_GT(w, 40);
    EXPECT_GE(h, 16);
    TTF_CloseFont(font);
    TTF_Quit();
}

}  // namespace

// The default set starts with a filter in each of the four effect slots the controls reach.
TEST(DefaultSet, StartsWithFiltersInTheFourSlots) {
    HarnessOptions options;
    std::ifstream in(builtRunDir() + "/data/prefs.xml");
    options.prefsXml.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_FALSE(options.prefsXml.empty());
    Harness h(options);
    for (int deck = 0; deck < 2; deck++)
        for (int slot = 0; slot < 4; slot++) EXPECT_NE(FilterNone, effectTable.slots[deck][slot].effectId) << deck << slot;
}
