// Draws the pictures of data/: the UI atlas, the home menu background, the splash logo and the
// face-button diamond. Usage: make-pictures <output folder> <font file>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "Canvas.h"

namespace {

const Colour pink = rgb(0xFE00C3);
const Colour blue = rgb(0x59B1FF);
const Colour amber = rgb(0xFFB000);
const Colour white = rgb(0xFFFFFF);
const Colour black = rgb(0x000000);
const Colour grey = rgb(0xAAAAAA);

Colour withAlpha(Colour c, float a) {
    c.a = a;
    return c;
}

// ---- textureUI.png -------------------------------------------------------------------------

enum class Icon { None, Plus, House, Arrow, Cross, Pencil, Play, Keys };

// An 8x8 symbol with its top-left at (x, y), in the label's colour on the button's face.
void icon(Canvas& c, Icon kind, float x, float y, Colour ink, Colour paper) {
    switch (kind) {
    case Icon::None:
        break;
    case Icon::Plus:
        c.rect(int(x) + 3, int(y), 2, 8, ink);
        c.rect(int(x), int(y) + 3, 8, 2, ink);
        break;
    case Icon::House:
        c.triangle(x - 0.5f, y + 4, x + 4, y - 0.5f, x + 8.5f, y + 4, ink);
        c.rect(int(x) + 1, int(y) + 4, 6, 4, ink);
        break;
    case Icon::Arrow:
        c.triangle(x, y + 4, x + 5, y - 0.5f, x + 5, y + 8.5f, ink);
        c.rect(int(x) + 4, int(y) + 3, 4, 2, ink);
        break;
    case Icon::Cross:
        c.line(x + 1, y + 1, x + 7, y + 7, 2, ink);
        c.line(x + 7, y + 1, x + 1, y + 7, 2, ink);
        break;
    case Icon::Pencil:
        c.line(x + 2.5f, y + 5.5f, x + 7, y + 1, 2.6f, ink);
        c.triangle(x, y + 8, x + 0.8f, y + 4.8f, x + 3.2f, y + 7.2f, ink);
        break;
    case Icon::Play:
        c.triangle(x + 1, y - 0.5f, x + 8, y + 4, x + 1, y + 8.5f, ink);
        break;
    case Icon::Keys:  // a little keyboard: frame, a row of keys, the space bar
        c.rect(int(x) - 1, int(y) + 1, 10, 7, ink);
        c.rect(int(x), int(y) + 2, 8, 5, paper);
        for (int k = 0; k < 4; k++) c.rect(int(x) + 2 * k, int(y) + 3, 1, 1, ink);
        c.rect(int(x) + 2, int(y) + 5, 4, 1, ink);
        break;
    }
}

// A raised 16-pixel-high button: dark rim, a gradient face, a thin highlight and a black label
// led by its symbol, the pair centred on the button.
void button(Canvas& c, Font& font, int x, int y, int w, Colour face, Icon kind, const char* label) {
    c.roundRect(x, y, w, 16, 4, shade(face, 0.4f));
    c.roundRect(x + 1, y + 1, w - 2, 14, 3, [=](float, float py) {
        float t = (py - y - 1) / 14;
        return t < 0.5f ? mix(shade(face, 1.35f), face, t * 2) : mix(face, shade(face, 0.82f), (t - 0.5f) * 2);
    });
    c.rect(x + 4, y + 1, w - 8, 1, withAlpha(white, 0.45f));
    int iconWidth = kind == Icon::None ? 0 : 11;
    int total = iconWidth + font.width(label);
    int left = x + (w - total + 1) / 2;
    Colour ink = rgb(0x000000);
    icon(c, kind, left, y + 4, ink, face);
    c.text(font, left + iconWidth, y + 4, label, ink);
}

void checkbox(Canvas& c, int x, int y, bool ticked) {
    if (!ticked) {
        c.roundRect(x + 1, y + 1, 14, 14, 3, grey);
        c.roundRect(x + 3, y + 3, 10, 10, 1.5f, rgb(0x1A1A22));
        return;
    }
    c.roundRect(x + 1, y + 1, 14, 14, 3, shade(pink, 0.5f));
    c.roundRect(x + 2, y + 2, 12, 12, 2, [=](float, float py) { return mix(shade(pink, 1.3f), pink, (py - y) / 16); });
    c.line(x + 4.5f, y + 8, x + 7, y + 10.5f, 2.2f, white);
    c.line(x + 7, y + 10.5f, x + 11.5f, y + 4.5f, 2.2f, white);
}

bool textureUI(const std::string& dir, const std::string& fontPath) {
    Font label(fontPath, 10, true);
    if (!label.ok()) return false;
    Canvas c(176, 64, Colour{0, 0, 0, 0});
    button(c, label, 0, 0, 48, blue, Icon::Plus, "NEW");
    button(c, label, 0, 32, 48, grey, Icon::House, "HOME");
    button(c, label, 48, 32, 48, amber, Icon::Keys, "KEYS");
    button(c, label, 0, 48, 48, grey, Icon::Arrow, "BACK");
    checkbox(c, 96, 0, false);
    checkbox(c, 96, 16, true);
    button(c, label, 112, 0, 64, pink, Icon::Cross, "DEL");
    button(c, label, 112, 16, 64, blue, Icon::Play, "PLAY");
    button(c, label, 112, 32, 64, amber, Icon::Pencil, "EDIT");
    return c.writePng(dir + "/textureUI.png", true);
}

// ---- home.png ------------------------------------------------------------------------------

// Dark night-blue backdrop with faint scanlines, so the coloured cells carry the screen.
void backdrop(Canvas& c) {
    for (int y = 0; y < c.height(); y++) {
        Colour row = mix(rgb(0x1C1233), rgb(0x07070D), y / float(c.height()));
        if (y % 2) row = shade(row, 0.8f);
        c.rect(0, y, c.width(), 1, row);
    }
}

// A menu cell: the label sits at its top-left in black (white when selected), so the face is a
// mid tone both read on; a big symbol in a darker tone fills the lower right.
void cell(Canvas& c, int col, int row, Colour face) {
    int x = col * 104 + 9, y = row * 104 + 15;
    c.rect(x, y, 94, 94, shade(face, 0.45f));
    c.roundRect(x + 2, y + 2, 90, 90, 2, [=](float, float py) { return mix(face, shade(face, 1.18f), (py - y) / 94); });
}

void loopSymbol(Canvas& c, float cx, float cy, float r, float thickness, Colour ink) {
    // An open ring with an arrowhead at the gap: the clip going round.
    const float pi = 3.14159265f;
    c.fill(int(cx - r - thickness), int(cy - r - thickness), int(cx + r + thickness + 1), int(cy + r + thickness + 1),
           [=](float x, float y) {
               float d = std::hypot(x - cx, y - cy);
               float angle = std::atan2(y - cy, x - cx);
               return std::fabs(d - r) <= thickness / 2 && !(angle > -pi / 2 && angle < -pi / 2 + 0.7f);
           },
           ink);
    float ax = cx + r * std::cos(-pi / 2 + 0.7f), ay = cy + r * std::sin(-pi / 2 + 0.7f);
    float s = thickness * 1.6f;
    c.triangle(ax - s * 0.2f, ay - s, ax - s * 0.2f, ay + s, ax - s * 1.5f, ay, ink);
}

bool home(const std::string& dir, const std::string& fontPath) {
    Font big(fontPath, 24, false);
    if (!big.ok()) return false;
    Canvas c(320, 240, black);
    backdrop(c);

    const Colour mixFace = pink, editFace = rgb(0x2F86E0), optionsFace = rgb(0xD07C00);
    const Colour videoFace = rgb(0x2F86E0), quitFace = rgb(0x8C8C8C);

    // Top-left cell: the instrument's name, no item.
    c.rect(9, 15, 94, 94, rgb(0x2A2140));
    c.roundRect(11, 17, 90, 90, 2, [](float, float py) { return mix(rgb(0x120D1F), rgb(0x1E1733), (py - 15) / 94); });
    loopSymbol(c, 56, 42, 17, 5, amber);
    c.disc(56, 42, 4, blue);
    c.textCentred(big, 56, 67, "loop", pink);
    c.textCentred(big, 56, 86, "mixer", blue);

    cell(c, 1, 0, mixFace);
    cell(c, 2, 0, editFace);
    cell(c, 0, 1, optionsFace);
    cell(c, 1, 1, videoFace);
    cell(c, 2, 1, quitFace);

    // MIX: two clips blended, drawn as overlapping rings.
    Colour ink = shade(mixFace, 0.55f);
    c.ring(113 + 56, 15 + 70, 13, 5, ink);
    c.ring(113 + 74, 15 + 70, 13, 5, ink);
    // EDIT: a playlist of rows.
    ink = shade(editFace, 0.55f);
    for (int k = 0; k < 3; k++) {
        c.disc(217 + 52, 15 + 60 + 11 * k, 3, ink);
        c.roundRect(217 + 59, 15 + 57 + 11 * k, 26, 6, 2, ink);
    }
    // OPTIONS: three sliders.
    ink = shade(optionsFace, 0.55f);
    for (int k = 0; k < 3; k++) {
        float x = 9 + 52 + 14 * k;
        c.roundRect(x - 1.5f, 119 + 54, 3, 34, 1.5f, ink);
        c.roundRect(x - 5, 119 + 58 + 9 * ((k * 2) % 3), 10, 6, 2, ink);
    }
    // VIDEO OUT: a television with its aerial.
    ink = shade(videoFace, 0.55f);
    c.roundRect(113 + 48, 119 + 60, 38, 27, 4, ink);
    c.roundRect(113 + 52, 119 + 64, 30, 19, 2, shade(videoFace, 0.9f));
    c.line(113 + 60, 119 + 52, 113 + 67, 119 + 59, 2.5f, ink);
    c.line(113 + 74, 119 + 52, 113 + 67, 119 + 59, 2.5f, ink);
    // QUIT: the power symbol.
    ink = shade(quitFace, 0.55f);
    c.fill(217 + 48, 119 + 50, 217 + 90, 119 + 90,
           [](float x, float y) {
               float d = std::hypot(x - (217 + 68), y - (119 + 70));
               bool gap = y < 119 + 70 && std::fabs(x - (217 + 68)) < 7;
               return std::fabs(d - 14) <= 2.5f && !gap;
           },
           ink);
    c.roundRect(217 + 65.5f, 119 + 50, 5, 20, 2.5f, ink);

    // A quiet tri-colour rule beside the release line at the foot of the screen.
    c.rect(228, 226, 26, 3, pink);
    c.rect(256, 226, 26, 3, blue);
    c.rect(284, 226, 27, 3, amber);
    return c.writePng(dir + "/home.png", false);
}

// ---- logo-tarnobelli.png -------------------------------------------------------------------

// The splash fades every non-black pixel, so the background stays exactly black and the marks
// are bright.
bool logo(const std::string& dir, const std::string& fontPath) {
    Font title(fontPath, 40, false);
    Font small(fontPath, 13, false);
    if (!title.ok() || !small.ok()) return false;
    Canvas c(320, 240, black);

    // Three interlocking rings: the three palette colours, the loops being mixed.
    c.ring(122, 84, 30, 7, pink);
    c.ring(160, 84, 30, 7, blue);
    c.ring(198, 84, 30, 7, amber);
    // Lay each ring back over the next one at their lower crossing, so the rings weave rather
    // than stack.
    auto over = [&](float cx, float x0, float x1, Colour ink) {
        c.fill(int(x0), 96, int(x1), 118,
               [=](float x, float y) { return std::fabs(std::hypot(x - cx, y - 84) - 30) <= 3.5f; }, ink);
    };
    over(122, 133, 150, pink);
    over(160, 171, 188, blue);

    std::string word = "tarnobelli";
    float left = 160 - title.width(word) / 2.0f, right = left + title.width(word);
    c.text(title, left, 134, word, [=](float x, float) {
        float t = (x - left) / (right - left);
        return mix(pink, amber, t);
    });
    c.rect(int(left), 182, int(right - left), 2, grey);
    c.textCentred(small, 160, 192, "l o o p m i x e r", white);
    return c.writePng(dir + "/logo-tarnobelli.png", false);
}

// ---- abxy.png ------------------------------------------------------------------------------

// The face buttons in their diamond (Y top, A left, B right, X bottom). The program writes
// filter names in amber just right of each button's centre, so the caps are dark and their
// letters sit left of those spots.
bool abxy(const std::string& dir, const std::string& fontPath) {
    Font letter(fontPath, 13, false);
    if (!letter.ok()) return false;
    Canvas c(96, 96, black);
    c.fill(0, 0, 96, 96,
           [](float x, float y) {
               float d = std::fabs(x - 48) + std::fabs(y - 48);
               return d >= 30 && d <= 32;
           },
           rgb(0x2A2A3A));
    struct Cap {
        float x, y;
        Colour ring;
        const char* name;
    } caps[4] = {{48, 16, blue, "Y"}, {16, 48, pink, "A"}, {80, 48, pink, "B"}, {48, 80, blue, "X"}};
    for (const Cap& k : caps) {
        c.disc(k.x, k.y + 1.5f, 14.5f, rgb(0x0C0C10));  // shadow
        c.disc(k.x, k.y, 14, [=](float, float y) { return mix(rgb(0x3A3A48), rgb(0x1A1A22), (y - k.y + 14) / 28); });
        // The rim leaves the upper right open: that is where the program writes the filter name.
        c.fill(int(k.x) - 16, int(k.y) - 16, int(k.x) + 17, int(k.y) + 17,
               [=](float x, float y) {
                   float angle = std::atan2(y - k.y, x - k.x);
                   return std::fabs(std::hypot(x - k.x, y - k.y) - 13) <= 1.25f && !(angle > -1.15f && angle < 0.1f);
               },
               k.ring);
        c.textCentred(letter, k.x, k.y - letter.capHeight() / 2.0f, k.name, white);
    }
    return c.writePng(dir + "/abxy.png", false);
}

// The desktop icon: two decks, pink and blue, overlapping where they blend, on a dark tile. The
// same shapes, in units of the icon's size, are drawn by assets/loopmixer.svg.
bool icon(int size, const std::string& path) {
    Canvas c(size, size, Colour{0, 0, 0, 0});
    const float s = float(size);
    c.roundRect(0.06f * s, 0.06f * s, 0.88f * s, 0.88f * s, 0.18f * s, rgb(0x15151C));
    struct Box {
        float x, y, w, h;
    } pink{0.16f, 0.24f, 0.42f, 0.42f}, blue{0.42f, 0.34f, 0.42f, 0.42f};
    const float r = 0.07f;
    c.roundRect(pink.x * s, pink.y * s, pink.w * s, pink.h * s, r * s, rgb(0xFE00C3));
    c.roundRect(blue.x * s, blue.y * s, blue.w * s, blue.h * s, r * s, rgb(0x59B1FF));
    auto inBox = [&](const Box& b, float x, float y) {
        const float dx = std::max({(b.x + r) * s - x, 0.0f, x - (b.x + b.w - r) * s});
        const float dy = std::max({(b.y + r) * s - y, 0.0f, y - (b.y + b.h - r) * s});
        return x >= b.x * s && x <= (b.x + b.w) * s && y >= b.y * s && y <= (b.y + b.h) * s &&
               dx * dx + dy * dy <= r * s * r * s;
    };
    // The overlap as "add" shows it.
    c.fill(int(blue.x * s), int(blue.y * s), int((pink.x + pink.w) * s) + 1, int((pink.y + pink.h) * s) + 1,
           [&](float x, float y) { return inBox(pink, x, y) && inBox(blue, x, y); }, rgb(0xFFB1FF));
    return c.writePng(path, true);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--icon") {
        const int size = atoi(argv[2]);
        return size >= 16 && size <= 1024 && icon(size, argv[3]) ? 0 : 1;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: make-pictures <output folder> <font file>\n"
                        "       make-pictures --icon SIZE OUT.png\n");
        return 1;
    }
    std::string dir = argv[1], font = argv[2];
    bool ok = textureUI(dir, font) && home(dir, font) && logo(dir, font) && abxy(dir, font);
    if (!ok) fprintf(stderr, "make-pictures: could not draw or write the pictures into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
