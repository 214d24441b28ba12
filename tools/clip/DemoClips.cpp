#include "tools/clip/DemoClips.h"

#include <cstdint>

namespace clipwriter {

namespace {

uint16_t rgb(int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); }

// Sine over 256 steps of a turn, -127..127, from Bhaskara's rational approximation (integers
// only, so the clips are the same on every machine).
int isin(int step) {
    step &= 255;
    int64_t a = (step & 127) * 1800 / 128;  // tenths of a degree into the half turn
    int64_t p = a * (1800 - a);
    int v = int(4 * p * 127 / (4050000 - p));
    return step < 128 ? v : -v;
}

// A colour on the hue wheel (0..1535), full saturation.
uint16_t hue(int h) {
    h %= 1536;
    if (h < 0) h += 1536;
    int f = h & 255;
    switch (h >> 8) {
    case 0: return rgb(255, f, 0);
    case 1: return rgb(255 - f, 255, 0);
    case 2: return rgb(0, 255, f);
    case 3: return rgb(0, 255 - f, 255);
    case 4: return rgb(f, 0, 255);
    default: return rgb(255, 0, 255 - f);
    }
}

int triangle(int t, int period, int amplitude) {  // 0 .. amplitude .. 0 over period steps
    t %= period;
    int half = period / 2;
    return (t < half ? t : period - t) * amplitude / half;
}

// A plasma twice the screen's width sliding left one block every two frames: each block image
// recurs as the picture moves, so the clip needs about 2,400 entries for 80 frames.
SourceClip plasma() {
    SourceClip s(18, 0, 80);
    for (int i = 0; i < 256; i++) {
        int t = i * 6;  // the palette walks once round the hue wheel, darker in the middle
        uint16_t c = hue(t);
        int shade = 160 + isin(i * 2 + 64) * 95 / 127;
        int r = (c >> 11) * 8 * shade / 255, g = ((c >> 5) & 63) * 4 * shade / 255, b = (c & 31) * 8 * shade / 255;
        s.palette[i] = rgb(r, g, b);
    }
    for (int f = 0; f < s.frameCount; f++) {
        uint16_t* px = s.frame(f);
        int shift = 8 * (f / 2);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                int wx = x + shift;
                int v = isin(wx) + isin(y * 3 / 2) + isin((wx + y) / 2) + isin((wx * 3 - y * 2) / 4 + 40);
                px[y * 320 + x] = s.palette[((v + 508) * 255 / 1016) & 255];
            }
    }
    return s;
}

// Colour bars: a band of broad vertical bars sliding right over diagonal stripes sliding the
// other way. Few distinct blocks, all flat or run-coded in the palette.
SourceClip bars() {
    SourceClip s(17, 0, 64);
    const uint16_t colours[8] = {rgb(235, 235, 235), rgb(235, 220, 0),  rgb(0, 210, 230), rgb(0, 200, 60),
                                 rgb(220, 0, 200),   rgb(230, 30, 30), rgb(30, 60, 230), rgb(20, 20, 20)};
    for (int i = 0; i < 8; i++) s.palette[i] = colours[i];
    for (int f = 0; f < s.frameCount; f++) {
        uint16_t* px = s.frame(f);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                int index = y < 64 ? ((x + 320 - 8 * (f % 40)) / 40) % 8 : ((x + y + 4 * f) / 16) % 8;
                if (y >= 64 && y < 72) index = 7;  // a dark rule under the band
                px[y * 320 + x] = colours[index];
            }
    }
    return s;
}

// A ringed orb with a soft edge bouncing over transparent black (Format18 with alpha): empty
// blocks cost a fill mode, flat inside blocks a literal colour, edge blocks an entry with alpha.
SourceClip orb() {
    SourceClip s(18, 1, 96);
    for (int i = 0; i < 8; i++) s.palette[i] = hue(i * 192);
    const int radius = 44;
    for (int f = 0; f < s.frameCount; f++) {
        uint16_t* px = s.frame(f);
        uint8_t* al = s.alphaFrame(f);
        int cx = 50 + triangle(f * 5, 96 * 5 / 2, 220);
        int cy = 50 + triangle(f * 7 + 30, 96 * 7 / 3, 140);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                int dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
                uint16_t c = 0;
                uint8_t a = 0;
                if (d2 < radius * radius) {
                    int ring = 0;
                    while ((ring + 1) * (ring + 1) * 36 <= d2) ring++;  // rings 6 pixels wide
                    c = s.palette[(ring + f / 3) % 8];
                    int edge = radius * radius - d2;  // soft rim: alpha falls off over ~4 pixels
                    a = uint8_t(edge >= 15 * 22 ? 15 : edge / 22 + 1);
                }
                px[y * 320 + x] = c;
                al[y * 320 + x] = a;
            }
    }
    return s;
}

// A checkerboard zooming in and out about the centre, its pink squares opaque and its blue
// squares half transparent (Format17 with alpha).
SourceClip checker() {
    SourceClip s(17, 1, 48);
    s.palette[0] = rgb(254, 0, 195);
    s.palette[1] = rgb(89, 177, 255);
    for (int f = 0; f < s.frameCount; f++) {
        uint16_t* px = s.frame(f);
        uint8_t* al = s.alphaFrame(f);
        int size = 10 + triangle(f, 48, 30);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                int cellX = (x - 160 + 64 * size) / size, cellY = (y - 120 + 64 * size) / size;
                int odd = (cellX + cellY) & 1;
                px[y * 320 + x] = s.palette[odd];
                al[y * 320 + x] = odd ? 8 : 15;
            }
    }
    return s;
}

// Flat colour fields: bands of blocks whose colours walk round the hue wheel and whose edges
// sway. Every block is flat, so the clip has no dictionary at all (Format18 literal colours).
SourceClip fields() {
    SourceClip s(18, 0, 40);
    for (int f = 0; f < s.frameCount; f++) {
        uint16_t* px = s.frame(f);
        for (int band = 0; band < 10; band++) {
            int edge = 20 + isin(f * 6 + band * 24) * 12 / 127;  // in blocks
            uint16_t left = hue(band * 150 + f * 38), right = hue(band * 150 + 768 - f * 38);
            for (int y = band * 24; y < band * 24 + 24; y++)
                for (int x = 0; x < 320; x++) px[y * 320 + x] = x < edge * 8 ? left : right;
        }
    }
    return s;
}

}  // namespace

const std::vector<DemoClip>& demoClips() {
    static const std::vector<DemoClip> clips = {
        {"plasma.q18", plasma}, {"bars.q17", bars}, {"orb.q18", orb}, {"checker.q17", checker}, {"fields.q18", fields},
    };
    return clips;
}

std::string demoPlaylistsXml() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    auto playlist = [&](const char* name, const std::vector<const char*>& files) {
        xml += "\t<playlist>\n\t\t<name>";
        xml += name;
        xml += "</name>\n";
        for (const char* f : files) xml += std::string("\t\t<track>") + f + "</track>\n";
        xml += "\t</playlist>\n";
    };
    playlist("Demo", {"plasma.q18", "bars.q17", "orb.q18", "checker.q17", "fields.q18"});
    playlist("Overlays", {"orb.q18", "checker.q17"});
    return xml + "</all>\n";
}

}  // namespace clipwriter
