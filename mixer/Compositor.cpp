// The compositor: bring the decoded decks into mixFrames (copied, or read by a deck's first filter),
// filter them in a fixed order, blend deck 1 onto deck 0, fade and flash, present into the screen's
// memory and draw the playback line. Each blend mode and colour pass has its own loop, chosen once
// per frame. Nothing here calls SDL: the console's core builds without it.
#include "mixer/Compositor.h"

#include <cstring>

#include "core/FrameBuffers.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/FilterPasses.h"
#include "mixer/Filters.h"
#include "mixer/PixelKernel.h"
#include "tracks/Track.h"

typedef uint16_t u16;

namespace {

// Exact divisions by the three constants over the ranges the blends produce (products of a channel
// and a level or of two channels), as one high multiply each: the loops carry no division.
inline u16 div15(u16 x) { return u16((uint32_t(x) * 4370u) >> 16); }  // x <= 945
inline u16 div31(u16 x) { return u16((uint32_t(x) * 2115u) >> 16); }  // x <= 2258
inline u16 div63(u16 x) { return u16(u16((uint32_t(x) * 2081u) >> 16) >> 1); }  // x <= 4227

// Per-channel saturated sum, each field added in place: a + b held at the top t of the field is
// min(a, t - b) + b, which never carries out of the field. Masked with 0xF81F a pixel has red at the
// top of its high byte and blue at the bottom of its low byte, so byte-wise min does both at once
// (t - b and the sum stay within each byte, so 16-bit subtract and add serve); green, in place,
// takes a 16-bit min. The same as adding the channels apart and clamping each.
template <int Width>
VECTOR_BODY void addVectors(u16* a, const u16* b) {
    typedef PixelVector<Width> V;
    typedef typename V::Lanes Lanes;
    typedef typename V::Bytes Bytes;
    static_assert(FramePixels % V::Pixels == 0, "frames are walked in whole vectors");
    for (int i = 0; i < FramePixels; i += V::Pixels) {
        Lanes x, y;
        V::load(x, a + i);
        V::load(y, b + i);
        const Lanes rbY = y & 0xF81F, gY = y & 0x07E0, gX = x & 0x07E0;
        const Bytes rbX = Bytes(x & 0xF81F), rbRoom = Bytes(0xF81F - rbY);
        const Lanes rb = Lanes(rbX < rbRoom ? rbX : rbRoom) + rbY;
        const Lanes g = gX + gY, gTop = g - g + 0x07E0;
        V::store(a + i, rb | (g < gTop ? g : gTop));
    }
}
VECTOR_KERNEL(addVectors, (u16* a, const u16* b), (a, b))
void (*const addKernel)(u16*, const u16*) = pickWidest(addVectors64, addVectors32, addVectors16);

// 50/50 mix. Halving first and masking off the bit each field shifted into its neighbour
// (0x7BEF) lets two halved pixels be added as whole words without carries between fields.
PIXEL_KERNEL void halfKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) a[i] = u16(((a[i] >> 1) & 0x7BEF) + ((b[i] >> 1) & 0x7BEF));
}

// Black in deck 1 is transparent.
PIXEL_KERNEL void blackChromaKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) a[i] = b[i] != 0 ? b[i] : a[i];
}

// floor(C * w / 15) for every field of a pixel at once, the fields left in place. With the field
// alone in the word (C << f) and k = w * 4370 (a little over w * 65536 / 15), the high half of the
// product is C * w / 15 << f plus less than 1/15 << f, so masking the bits below the field leaves
// exactly the truncated level. Only levels 0..14 fit: w = 15 would need k = 65536.
inline u16 mulHigh(u16 x, u16 k) { return u16((uint32_t(x) * k) >> 16); }
// a where mask is set, b elsewhere: one bit-select instruction.
inline u16 merge(u16 a, u16 b, u16 mask) { return u16(((a ^ b) & mask) ^ b); }
inline u16 scaleFields(u16 p, u16 k) {
    return merge(mulHigh(p & 0xF800, k), merge(mulHigh(p & 0x07E0, k), mulHigh(p & 0x001F, k), 0x07E0), 0xF800);
}

// Read once from memory so that the compiler keeps one multiply instead of a chain of shifts and
// adds for w * 4370 (4370 has four bits set).
volatile u16 levelScale = 4370;

// Per-pixel alpha 0..15 from the decoder; each of the two terms is truncated on its own. Alpha 0
// gives deck 0's pixel and 15 (or a stray larger byte) deck 1's; between them both terms come from
// scaleFields, (15 - w) * 4370 being 65550 - w * 4370, that is 14 - w * 4370 in 16 bits.
PIXEL_KERNEL void alphaKernel(u16* __restrict a, const u16* __restrict b, const uint8_t* __restrict alpha,
                              u16 scale) {
    for (int i = 0; i < FramePixels; i++) {
        u16 x = a[i], y = b[i];
        u16 w = alpha[i];
        u16 kw = u16(w * scale), kv = u16(14 - kw);
        u16 mixed = u16(scaleFields(x, kv) + scaleFields(y, kw));
        u16 whole = w == 0 ? x : y;
        a[i] = u16(w - 1) < 14 ? mixed : whole;
    }
}

PIXEL_KERNEL void multiplyKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) {
        u16 x = a[i], y = b[i];
        u16 r = div31(u16((x >> 11) * (y >> 11)));
        u16 g = div63(u16(((x >> 5) & 63) * ((y >> 5) & 63)));
        u16 bl = div31(u16((x & 31) * (y & 31)));
        a[i] = u16((r << 11) | (g << 5) | bl);
    }
}

// d * 4370 for d = 0..14 (see scaleFields).
PIXEL_KERNEL void fadeKernel(u16* __restrict f, u16 k) {
    for (int i = 0; i < FramePixels; i++) f[i] = scaleFields(f[i], k);
}

// Brightens towards white by level 1..15: (31 f + (15 - f) C) / 15 for red and blue, (126 f +
// (31 - 2 f) G) / 31 for green.
struct Flash {
    u16 rbBase, rbKeep, gBase, gKeep;
    explicit Flash(u16 level)
        : rbBase(u16(31 * level)), rbKeep(u16(15 - level)), gBase(u16(126 * level)), gKeep(u16(31 - 2 * level)) {}
    u16 operator()(u16 x) const {
        u16 r = div15(u16(rbBase + rbKeep * (x >> 11)));
        u16 g = div31(u16(gBase + gKeep * ((x >> 5) & 63)));
        u16 b = div15(u16(rbBase + rbKeep * (x & 31)));
        return u16((r << 11) | (g << 5) | b);
    }
};

PIXEL_KERNEL void flashKernel(u16* __restrict f, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) f[i] = flash(f[i]);
}

// Fade then flash in one pass over the frame when both are on, the result stored into the frame
// and straight into the screen's pixels as well, which saves reading the frame again to present it.
PIXEL_KERNEL void fadeFlashKernel(u16* __restrict f, u16* __restrict screen, u16 k, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = flash(scaleFields(f[i], k));
        f[i] = v;
        screen[i] = v;
    }
}

// Fade alone or flash alone, likewise stored into the frame and the screen in one pass.
PIXEL_KERNEL void fadePresentKernel(u16* __restrict f, u16* __restrict screen, u16 k) {
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = scaleFields(f[i], k);
        f[i] = v;
        screen[i] = v;
    }
}

PIXEL_KERNEL void flashPresentKernel(u16* __restrict f, u16* __restrict screen, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = flash(f[i]);
        f[i] = v;
        screen[i] = v;
    }
}

}  // namespace

void blendDecks(int32_t blendMode, bool deck1HasAlpha) {
    u16* a = mixFrames;
    const u16* b = mixFrames + FramePixels;
    switch (blendMode) {
    case 1: addKernel(a, b); break;
    case 2: halfKernel(a, b); break;
    case 3:
        if (deck1HasAlpha) alphaKernel(a, b, alphaPlane, levelScale);
        else blackChromaKernel(a, b);
        break;
    case 4: multiplyKernel(a, b); break;
    case 6:
        for (int y = 0; y < FrameHeight; y++) std::memcpy(a + y * FrameWidth, b + y * FrameWidth, 160 * sizeof(u16));
        break;
    default: break;
    }
}

// Levels above 15 would push channels past their fields; the controls never go there, and a
// clamp keeps a stray value from wrapping colours round.
namespace {
u16 fadeScale(int32_t fade) { return u16((fade >= 15 ? 0 : 15 - fade) * 4370); }
u16 flashLevel(int32_t flash) { return u16(flash > 15 ? 15 : flash); }
}  // namespace

void fadeFrame(uint16_t* frame, int32_t fade) {
    if (fade > 0) fadeKernel(frame, fadeScale(fade));
}

void flashFrame(uint16_t* frame, int32_t flash) {
    if (flash > 0) flashKernel(frame, flashLevel(flash));
}

namespace {
// Runs a pointwise filter from source into the deck's half of mixFrames; false for the others.
bool filterFrom(int id, int deck, int value, const u16* source) {
    switch (id) {
    case Invert: invertInto(deck, value, source); return true;
    case Burned: burnedInto(deck, value, source); return true;
    case Snow: snowInto(deck, value, source); return true;
    case GameBoy: gameBoyInto(deck, value, source); return true;
    case Hue: hueInto(deck, value, source); return true;
    default: return false;
    }
}
}  // namespace

void composite(Decks& d, int32_t position, int32_t frameCount, bool playbackLine) {
    const int32_t mode = d.blendMode;
    // The decoded frames to bring into mixFrames (only deck 1's in blend mode 0). A deck whose first
    // filter changes each pixel on its own reads its decoded frame directly, which saves the copy;
    // any other deck is copied before its first filter, or at the end when it has none.
    const u16* pending[2] = {mode == 0 ? nullptr : deckFrames, deckFrames + FramePixels};
    auto bringIn = [&](int deck) {
        if (pending[deck]) std::memcpy(mixFrames + deck * FramePixels, pending[deck], FrameBytes);
        pending[deck] = nullptr;
    };

    static const int order[8] = {Invert, Burned, Snow, Zoom, GameBoy, Mirror, Hue, Scroll};
    for (int id : order) {
        for (int deck = 0; deck < 2; deck++) {
            if (!effectTable.effectOn(deck, id)) continue;
            const int value = effectTable.effectValue(deck, id);
            if (pending[deck] && filterFrom(id, deck, value, pending[deck])) {
                pending[deck] = nullptr;
                continue;
            }
            bringIn(deck);
            switch (id) {
            case Invert: applyInvert(deck, value); break;
            case Burned: applyBurned(deck, value); break;
            case Snow: applySnow(deck, value); break;
            case Zoom: applyZoom(deck, value); break;
            case GameBoy: applyGameBoy(deck, value); break;
            case Mirror: applyMirror(deck, value); break;
            case Hue: applyHue(deck, value); break;
            case Scroll: applyScroll(deck, value, d.paused); break;
            }
        }
    }
    bringIn(0);
    bringIn(1);

    const int32_t track1 = d.decks[1].track;
    const bool hasAlpha = track1 >= 0 && track1 < TrackSlots && tracks[track1].hasAlpha;
    blendDecks(mode, hasAlpha);

    u16* out = mode == 0 ? mixFrames + FramePixels : mixFrames;
    u16* screen = screenPixels;
    if (d.fade > 0 && d.flash > 0 && screen) {
        fadeFlashKernel(out, screen, fadeScale(d.fade), flashLevel(d.flash));
    } else if (d.fade > 0 && screen) {
        fadePresentKernel(out, screen, fadeScale(d.fade));
    } else if (d.flash > 0 && screen) {
        flashPresentKernel(out, screen, flashLevel(d.flash));
    } else {
        fadeFrame(out, d.fade);
        flashFrame(out, d.flash);
        if (screen) std::memcpy(screen, out, FrameBytes);
    }

    if (playbackLine && frameCount > 0 && screen) {
        const int64_t width = int64_t(position) * FrameWidth / frameCount;
        const int n = width < 0 ? 0 : width > FrameWidth ? FrameWidth : int(width);
        for (int x = 0; x < n; x++) screen[5 * FrameWidth + x] = 0xFFFF;
    }
}
