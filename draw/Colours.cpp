#include "draw/Colours.h"

int32_t uiWhite, uiBlack, uiPink, uiBlue, uiAmber;

void setUiColours() {
    uiWhite = 0xFFFFFF;
    uiBlack = 0x000000;
    uiPink = 0xFE00C3;
    uiBlue = 0x59B1FF;
    uiAmber = 0xFFB000;
}

int32_t stepValue(int32_t value, int32_t step, int32_t low, int32_t high, int32_t wrap) {
    int32_t v = value + step;
    if (wrap) {
        if (v < low) return high;
        if (v > high) return low;
        return v;
    }
    return v < low ? low : (v > high ? high : v);
}
