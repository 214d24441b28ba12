// Text in two sizes of one TrueType font, solid (fast) or blended (antialiased), and translucent
// panels. Every operation draws nothing when its font or text is missing.
#pragma once
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <cstdint>

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

// Fills a rectangle of the screen surface with a raw RGB565 value (SDL_FillRect with clipping).
void fillRect(SDL_Surface* dst, int32_t x, int32_t y, int32_t w, int32_t h, uint16_t pixel);
// Blits a piece of a picture; a null picture draws nothing.
void blitPiece(SDL_Surface* src, int32_t sx, int32_t sy, int32_t w, int32_t h, SDL_Surface* dst,
               int32_t x, int32_t y);
