// UI colours as 0xRRGGBB and their conversion to the screen's RGB565.
#pragma once
#include <cstdint>

extern int32_t uiWhite, uiBlack, uiPink, uiBlue, uiAmber;
constexpr int32_t uiGrey = 0xAAAAAA;

void setUiColours();

inline uint16_t toRgb565(int32_t c) {
    return uint16_t(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
}

// value + step, wrapped from one end of low..high to the other, or clamped to it.
int32_t stepValue(int32_t value, int32_t step, int32_t low, int32_t high, int32_t wrap);
