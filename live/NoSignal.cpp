#include "live/NoSignal.h"

#include <vector>

#include "core/FrameBuffers.h"

namespace {

// 5x7 letters, one row per byte (bit 4 is the leftmost pixel), for the few the words use.
struct Glyph {
    char letter;
    uint8_t rows[7];
};
const Glyph Glyphs[] = {
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
};
constexpr int Scale = 4, Advance = 6 * Scale;
constexpr uint16_t Background = 0x18E3, Stripe = 0x2124, Ink = 0xC618;

std::vector<uint16_t> makePicture() {
    std::vector<uint16_t> p(FramePixels);
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x++) p[y * FrameWidth + x] = ((x + y) / 16) % 2 ? Stripe : Background;
    const char* text = "NO SIGNAL";
    const int width = 9 * Advance - Scale, x0 = (FrameWidth - width) / 2, y0 = (FrameHeight - 7 * Scale) / 2;
    for (int i = 0; text[i]; i++)
        for (const Glyph& g : Glyphs) {
            if (g.letter != text[i]) continue;
            for (int r = 0; r < 7 * Scale; r++)
                for (int c = 0; c < 5 * Scale; c++)
                    if (g.rows[r / Scale] >> (4 - c / Scale) & 1) p[(y0 + r) * FrameWidth + x0 + i * Advance + c] = Ink;
        }
    return p;
}

}  // namespace

const uint16_t* noSignalPicture() {
    static const std::vector<uint16_t> picture = makePicture();
    return picture.data();
}
