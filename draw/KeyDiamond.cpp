#include "draw/KeyDiamond.h"

#include <cstring>

#include "core/Controller.h"
#include "core/KeyHints.h"
#include "draw/Colours.h"
#include "draw/Text.h"

void labelDiamondKeys(SDL_Surface* screen, int x, int y) {
    if (!screen || !std::strcmp(controlName(ButtonY), "Y")) return;  // the console's own buttons
    // Button centres in the picture: top Y, right B, bottom X, left A.
    static const struct { Input input; int cx, cy; } buttons[] = {
        {ButtonY, 48, 16}, {ButtonB, 80, 48}, {ButtonX, 48, 80}, {ButtonA, 16, 48}};
    for (const auto& b : buttons) {
        const int cx = x + b.cx, cy = y + b.cy;
        if (cx < 9 || cy < 0 || cx + 7 >= screen->w || cy + 8 >= screen->h) continue;
        // The button's own fill, taken beside its letter, covers the console's letter.
        const uint16_t fill = static_cast<const uint16_t*>(screen->pixels)[cy * (screen->pitch / 2) + cx - 9];
        fillRect(screen, cx - 6, cy - 7, 13, 15, fill);
        drawText(uiFonts, screen, controlName(b.input), cx - 3, cy - 6, uiWhite, 0);
    }
}
