// The drawing toolkit on the real screen surface: colours, panels, labels and text.
#include <gtest/gtest.h>

#include "core/AppState.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "harness/Harness.h"

TEST(Colours, ToRgb565KeepsTheTopBits) {
    EXPECT_EQ(0xFFFF, toRgb565(0xFFFFFF));
    EXPECT_EQ(0x5D9F, toRgb565(0x59B1FF));
    EXPECT_EQ(0x2104, toRgb565(0x222222));
    EXPECT_EQ(0x0000, toRgb565(0x070307));
    EXPECT_EQ(0xF800, toRgb565(0xFF0000));
}

TEST(Colours, StepValueClampsOrWraps) {
    EXPECT_EQ(0, stepValue(5, -10, 0, 41, 0));
    EXPECT_EQ(41, stepValue(38, 10, 0, 41, 0));
    EXPECT_EQ(41, stepValue(-1, 0, 0, 41, 1));
    EXPECT_EQ(0, stepValue(42, 0, 0, 41, 1));
    EXPECT_EQ(20, stepValue(10, 10, 0, 41, 1));
}

static int countNot(Harness& h, uint16_t value, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) n += h.pixel(x, y) != value;
    return n;
}

TEST(Panels, OpacitySixtyAndHundredPercent) {
    Harness h;
    SDL_FillRect(screenSurface, nullptr, 0);
    drawPanel(10, 10, 20, 20, 0xFFFFFF, 60);
    EXPECT_EQ(153, workSurface->format->alpha);
    const uint16_t p = h.pixel(15, 15);
    // 60 % white over black: about 60 % of each channel's range.
    EXPECT_NEAR((p >> 11) & 31, 18, 1);
    EXPECT_NEAR((p >> 5) & 63, 38, 1);
    EXPECT_EQ(0, h.pixel(9, 15));
    EXPECT_EQ(0, h.pixel(30, 15));
    drawPanel(40, 10, 20, 20, 0x59B1FF, 100);
    EXPECT_EQ(255, workSurface->format->alpha);
    EXPECT_EQ(0x5D9F, h.pixel(45, 15));
}

TEST(Text, LabelBoxReachesOnePixelBeyondTheTextAndClipsAtTheEdge) {
    Harness h;
    SDL_FillRect(screenSurface, nullptr, 0);
    drawLabel(uiFonts, screenSurface, "Ab", 50, 100, uiBlack, 0, 0xAAAAAA);
    // The grey box starts one pixel left of the text.
    EXPECT_EQ(toRgb565(0xAAAAAA), h.pixel(49, 101));
    EXPECT_EQ(0, h.pixel(48, 101));
    // At x = 0 the box would start at -1: clipped, and column 0 is still boxed.
    drawLabel(uiFonts, screenSurface, "Ab", 0, 150, uiBlack, 0, 0xAAAAAA);
    EXPECT_EQ(toRgb565(0xAAAAAA), h.pixel(0, 151));
}

TEST(Text, SolidAndSmoothTextDrawSomething) {
    Harness h;
    SDL_FillRect(screenSurface, nullptr, 0);
    drawText(uiFonts, screenSurface, "MIX", 10, 10, uiWhite, 1);
    EXPECT_GT(countNot(h, 0, 10, 10, 80, 40), 20);
    drawTextSmooth(uiFonts, screenSurface, "mix", 10, 60, uiAmber, 0);
    EXPECT_GT(countNot(h, 0, 10, 60, 60, 75), 5);
}

TEST(Text, NumberMinusFiveDrawsTheSameAsTheText) {
    Harness h;
    SDL_FillRect(screenSurface, nullptr, 0);
    drawNumber(uiFonts, screenSurface, -5, 20, 20, uiWhite, 0);
    const uint32_t number = h.screenChecksum();
    SDL_FillRect(screenSurface, nullptr, 0);
    drawTextSmooth(uiFonts, screenSurface, "-5", 20, 20, uiWhite, 0);
    EXPECT_EQ(number, h.screenChecksum());
    SDL_FillRect(screenSurface, nullptr, 0);
    drawTextSmooth(uiFonts, screenSurface, "5", 20, 20, uiWhite, 0);
    EXPECT_NE(number, h.screenChecksum());
}

TEST(Text, EmptyTextOrMissingFontDrawsNothing) {
    Harness h;
    SDL_FillRect(screenSurface, nullptr, 0);
    const uint32_t black = h.screenChecksum();
    drawText(uiFonts, screenSurface, "", 10, 10, uiWhite, 0);
    drawLabel(uiFonts, screenSurface, "", 10, 10, uiWhite, 0, 0xAAAAAA);
    drawTextSmooth(uiFonts, screenSurface, "", 10, 10, uiWhite, 0);
    TTF_Font* none[2] = {nullptr, nullptr};
    drawText(none, screenSurface, "text", 10, 10, uiWhite, 0);
    drawLabel(none, screenSurface, "text", 10, 10, uiWhite, 0, 0xAAAAAA);
    drawNumber(none, screenSurface, 42, 10, 10, uiWhite, 1);
    EXPECT_EQ(black, h.screenChecksum());
}

// Names too long for their room: cut at the end, at the front (file names) or in the middle (names
// sharing a start or an end), always within the room and keeping what tells them apart.
TEST(Text, NamesAreCutToTheirRoomWhereAsked) {
    Harness h;
    const std::string name = "Long playlist number twelve";
    const int32_t room = textWidth(uiFonts, 0, name) / 2;
    const std::string end = fitText(uiFonts, 0, name, room, false);
    const std::string front = fitText(uiFonts, 0, name, room, true);
    const std::string middle = fitTextMiddle(uiFonts, 0, name, room);
    for (const std::string& cut : {end, front, middle}) EXPECT_LE(textWidth(uiFonts, 0, cut), room) << cut;
    EXPECT_EQ(0u, end.find("Long")) << end;
    EXPECT_EQ(end.size() - 3, end.rfind("..."));
    EXPECT_EQ(0u, front.find("...")) << front;
    EXPECT_EQ(0u, middle.find("Long")) << middle;
    EXPECT_EQ(middle.size() - 2, middle.rfind("ve")) << middle;
    EXPECT_NE(std::string::npos, middle.find("...")) << middle;
    EXPECT_EQ(name, fitTextMiddle(uiFonts, 0, name, 1000)) << "a name that fits stays whole";
}
