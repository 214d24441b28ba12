#include "remote/LearnPage.h"

#include <string>

#include "core/Controller.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "mixer/Options.h"
#include "remote/MidiMap.h"
#include "remote/MidiTargets.h"

namespace {

int marked = -1;
int page = 0;  // which sixty targets are shown, when there are more than fit

constexpr int PageTargets = LearnColumns * LearnRows;

int pageCount() { return (midiTargetCount() + PageTargets - 1) / PageTargets; }

bool touchIn(int x0, int y0, int x1, int y1) {
    const Controller& c = controller;
    return c.touchX >= x0 && c.touchX <= x1 && c.touchY >= y0 && c.touchY <= y1;
}

void drawLearnPage(SDL_Surface* screen) {
    drawText(uiFonts, screen, "MIDI learn: touch a target, then move a control", 5, 4, uiPink, 0);
    if (page >= pageCount()) page = 0;
    const int first = page * PageTargets;
    for (int t = first; t < midiTargetCount() && t < first + PageTargets; t++) {
        const int x = 4 + ((t - first) / LearnRows) * LearnColumnWidth, y = LearnTop + ((t - first) % LearnRows) * LearnRowHeight;
        const char* name = midiTarget(t).name;
        std::string text = name;
        const std::string mapped = midiMap.describe(name);
        if (!mapped.empty()) text += "  " + mapped;
        if (t == midiMap.learnTarget) fillRect(screen, x - 2, y, LearnColumnWidth - 2, LearnRowHeight, toRgb565(uiAmber));
        const int32_t colour = t == midiMap.learnTarget ? uiBlack : (t == marked ? uiBlue : (mapped.empty() ? uiGrey : uiWhite));
        drawTextSmooth(uiFonts, screen, text.c_str(), x, y, colour, 0);
    }
    drawLabel(uiFonts, screen, "clear", 8, 220, uiBlack, 0, uiAmber);
    drawLabel(uiFonts, screen, "back", 74, 220, uiBlack, 0, uiAmber);
    if (midiMap.learnTarget >= 0) drawText(uiFonts, screen, "move a control...", 130, 220, uiAmber, 0);
    if (pageCount() > 1) drawLabel(uiFonts, screen, "more", 230, 220, uiBlack, 0, uiAmber);
}

void handleLearnPage() {
    // The mouse wheel turns the pages of targets, as "more" does (and back).
    if (controller.wheel && pageCount() > 1) page = ((page + controller.wheel) % pageCount() + pageCount()) % pageCount();
    if (!controller.touchDown) return;
    if (touchIn(5, 215, 60, 235)) {
        if (marked >= 0 && marked < midiTargetCount()) midiMap.clearTarget(midiTarget(marked).name);
        midiMap.learnTarget = -1;
        return;
    }
    if (touchIn(70, 215, 140, 235)) {
        midiMap.learnTarget = -1;
        options.view = FiltersView;
        return;
    }
    if (pageCount() > 1 && touchIn(228, 215, 262, 235)) {
        page = (page + 1) % pageCount();
        return;
    }
    const int t = learnTargetAt(controller.touchX, controller.touchY);
    if (t < 0) return;
    marked = t;
    // Touching the waiting target again stops waiting.
    midiMap.learnTarget = midiMap.learnTarget == t ? -1 : t;
}

}  // namespace

int learnTargetAt(int x, int y) {
    if (x < 0 || y < LearnTop || y >= LearnTop + LearnRows * LearnRowHeight) return -1;
    const int column = x / LearnColumnWidth, row = (y - LearnTop) / LearnRowHeight;
    if (column >= LearnColumns) return -1;
    const int t = (page < pageCount() ? page : 0) * PageTargets + column * LearnRows + row;
    return t < midiTargetCount() ? t : -1;
}

int learnMarkedTarget() { return marked; }

void installLearnPage() {
    marked = -1;
    page = 0;
    learnPageHooks.draw = drawLearnPage;
    learnPageHooks.handle = handleLearnPage;
}

void removeLearnPage() {
    learnPageHooks = LearnPageHooks();
    if (options.view == LearnView) options.view = FiltersView;
}
