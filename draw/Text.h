// Text in two sizes of one TrueType font, solid (fast) or blended (antialiased), and translucent
// panels. Every operation draws nothing when its font or text is missing.
#pragma once
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <cstdint>
#include <string>

extern TTF_Font* uiFonts[2];   // 0: 9 point, 1: 18 point
extern SDL_Surface* workSurface;

void openFonts();
void createWorkSurface();

void drawPanel(int32_t x, int32_t y, int32_t w, int32_t h, int32_t colour, int32_t alphaPercent);
void drawLabel(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y,
               int32_t colour, int32_t fontIndex, int32_t background);
void drawText(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y,
              int32_t colour, int32_t fontIndex);
void drawTextSmooth(TTF_Font** fonts, SDL_Surface* dst, const char* text, int32_t x, int32_t y,
                    int32_t colour, int32_t fontIndex);
void drawNumber(TTF_Font** fonts, SDL_Surface* dst, int32_t n, int32_t x, int32_t y, int32_t colour,
                int32_t fontIndex);

// Text is drawn as UTF-8 when its bytes are well-formed UTF-8 and as Latin-1 otherwise, so that a
// name keeps the characters it was written with.
// The width in pixels of text drawn in a font; 0 without the font.
int32_t textWidth(TTF_Font** fonts, int32_t fontIndex, const std::string& text);
// text cut to at most width pixels, with "..." where it was cut: at the end, or at the front when
// keepEnd (file names, whose ends tell them apart). Text that fits, or without a font to measure
// it, comes back whole.
std::string fitText(TTF_Font** fonts, int32_t fontIndex, const std::string& text, int32_t width, bool keepEnd);
// text cut in the middle ("Long play...er 12"), for names that share a start or an end: both ends
// tell them apart.
std::string fitTextMiddle(TTF_Font** fonts, int32_t fontIndex, const std::string& text, int32_t width);

// Fills a rectangle of the screen surface with a raw RGB565 value (SDL_FillRect with clipping).
void fillRect(SDL_Surface* dst, int32_t x, int32_t y, int32_t w, int32_t h, uint16_t pixel);
// Blits a piece of a picture; a null picture draws nothing.
void blitPiece(SDL_Surface* src, int32_t sx, int32_t sy, int32_t w, int32_t h, SDL_Surface* dst,
               int32_t x, int32_t y);
