#include "draw/Text.h"

#include <cstdio>

#include "core/AppState.h"
#include "core/Utf8.h"
#include "draw/Colours.h"

TTF_Font* uiFonts[2] = {nullptr, nullptr};
SDL_Surface* workSurface = nullptr;

void openFonts() {
    uiFonts[0] = TTF_OpenFont("data/volter", 9);
    uiFonts[1] = TTF_OpenFont("data/volter", 18);
}

void createWorkSurface() {
    if (screenSurface) workSurface = SDL_ConvertSurface(screenSurface, screenSurface->format, SDL_SRCCOLORKEY);
}

static SDL_Color sdlColour(int32_t c) {
    SDL_Color s;
    s.r = (c >> 16) & 0xFF;
    s.g = (c >> 8) & 0xFF;
    s.b = c & 0xFF;
    s.unused = 0;
    return s;
}

static SDL_Rect rect(int32_t x, int32_t y, int32_t w, int32_t h) {
    SDL_Rect r;
    r.x = Sint16(x);
    r.y = Sint16(y);
    r.w = Uint16(w);
    r.h = Uint16(h);
    return r;
}

void fillRect(SDL_Surface* dst, int32_t x, int32_t y, int32_t w, int32_t h, uint16_t pixel) {
    if (!dst || w <= 0 || h <= 0) return;
    SDL_Rect r = rect(x, y, w, h);
    SDL_FillRect(dst, &r, pixel);
}

void blitPiece(SDL_Surface* src, int32_t sx, int32_t sy, int32_t w, int32_t h, SDL_Surface* dst, int32_t x, int32_t y) {
    if (!src || !dst) return;
    SDL_Rect s = rect(sx, sy, w, h), d = rect(x, y, w, h);
    SDL_BlitSurface(src, &s, dst, &d);
}

void drawPanel(int32_t x, int32_t y, int32_t w, int32_t h, int32_t colour, int32_t alphaPercent) {
    if (!workSurface || !screenSurface) return;
    SDL_Rect r = rect(0, 0, w, h);
    SDL_FillRect(workSurface, &r, toRgb565(colour));
    SDL_SetAlpha(workSurface, SDL_SRCALPHA, Uint8((alphaPercent * 255 / 100) & 0xFF));
    SDL_Rect d = rect(x, y, w, h);
    SDL_BlitSurface(workSurface, &r, screenSurface, &d);
}

// Renders, blits at (x, y) and frees one text surface; a missing font or an empty text draws nothing.
static void renderText(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y, int32_t colour,
                       int32_t fontIndex, bool smooth, const int32_t* background) {
    if (!fonts || !dst || !text || !*text || fontIndex < 0 || fontIndex > 1 || !fonts[fontIndex]) return;
    TTF_Font* font = fonts[fontIndex];
    SDL_Surface* s;
    if (isUtf8(text) && !isAscii(text)) {
        s = smooth ? TTF_RenderUTF8_Blended(font, text, sdlColour(colour))
                   : TTF_RenderUTF8_Solid(font, text, sdlColour(colour));
    } else {
        s = smooth ? TTF_RenderText_Blended(font, text, sdlColour(colour))
                   : TTF_RenderText_Solid(font, text, sdlColour(colour));
    }
    if (!s) return;
    if (background) {
        // Colours are mapped with the 320x240 picture's format, whatever the window is.
        SDL_Rect box = rect(x - 1, y, s->w + 2, s->h);
        SDL_FillRect(dst, &box, SDL_MapRGB(screenSurface ? screenSurface->format : dst->format,
                                           (*background >> 16) & 0xFF, (*background >> 8) & 0xFF, *background & 0xFF));
    }
    SDL_Rect d = rect(x, y, 0, 0);
    SDL_BlitSurface(s, nullptr, dst, &d);
    SDL_FreeSurface(s);
}

void drawLabel(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y, int32_t colour,
               int32_t fontIndex, int32_t background) {
    renderText(fonts, dst, text, x, y, colour, fontIndex, false, &background);
}

void drawText(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y, int32_t colour,
              int32_t fontIndex) {
    renderText(fonts, dst, text, x, y, colour, fontIndex, false, nullptr);
}

void drawTextSmooth(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y, int32_t colour,
                    int32_t fontIndex) {
    renderText(fonts, dst, text, x, y, colour, fontIndex, true, nullptr);
}

void drawNumber(TTF_Font** fonts, SDL_Surface* dst, int32_t n, int32_t x, int32_t y, int32_t colour,
                int32_t fontIndex) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%d", n);
    drawTextSmooth(fonts, dst, buffer, x, y, colour, fontIndex);
}

int32_t textWidth(TTF_Font** fonts, int32_t fontIndex, const std::string& text) {
    if (!fonts || fontIndex < 0 || fontIndex > 1 || !fonts[fontIndex] || text.empty()) return 0;
    int w = 0, h = 0;
    const bool utf8 = isUtf8(text) && !isAscii(text);
    if ((utf8 ? TTF_SizeUTF8 : TTF_SizeText)(fonts[fontIndex], text.c_str(), &w, &h) != 0) return 0;
    return w;
}

// The piece of the most bytes (up to n) that fits in width: widths grow with the bytes kept, so a
// binary search finds it in a few measurements (a name may be drawn on every row every frame).
template <typename Piece>
static std::string longestFitting(TTF_Font** fonts, int32_t fontIndex, size_t n, int32_t width, const Piece& piece) {
    size_t low = 0, high = n;
    while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (textWidth(fonts, fontIndex, piece(middle)) <= width) low = middle;
        else high = middle - 1;
    }
    return piece(low);
}

std::string fitText(TTF_Font** fonts, int32_t fontIndex, const std::string& text, int32_t width, bool keepEnd) {
    if (textWidth(fonts, fontIndex, text) <= width) return text;
    static const std::string mark = "...";
    const bool utf8 = isUtf8(text);
    // The longest part that fits with the mark.
    auto piece = [&](size_t n) {
        if (!keepEnd) return text.substr(0, utf8Boundary(text, n, utf8)) + mark;
        size_t from = text.size() - n;
        // From the front, a cut inside a sequence moves forward to the next character.
        while (utf8 && from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) from++;
        return mark + text.substr(from);
    };
    return longestFitting(fonts, fontIndex, text.size(), width, piece);
}

std::string fitTextMiddle(TTF_Font** fonts, int32_t fontIndex, const std::string& text, int32_t width) {
    if (textWidth(fonts, fontIndex, text) <= width) return text;
    static const std::string mark = "...";
    const bool utf8 = isUtf8(text);
    // n bytes of the text kept: half from the front, the rest from the end, both cut on characters.
    auto piece = [&](size_t n) {
        const size_t head = utf8Boundary(text, (n + 1) / 2, utf8);
        size_t from = text.size() - n / 2;
        while (utf8 && from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) from++;
        return text.substr(0, head) + mark + text.substr(from);
    };
    return longestFitting(fonts, fontIndex, text.size(), width, piece);
}
