#include "projector/ProjectorPlace.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A whole decimal number of at most 5 digits at text; moves text past it.
bool readNumber(const char*& text, int32_t& out) {
    int digits = 0;
    int32_t n = 0;
    while (*text >= '0' && *text <= '9') {
        if (++digits > 5) return false;
        n = n * 10 + (*text++ - '0');
    }
    out = n;
    return digits > 0;
}

}  // namespace

bool parseProjectorPlace(const char* text, ProjectorPlace& place) {
    ProjectorPlace p;
    if (std::strcmp(text, "window") == 0) {
        p.kind = ProjectorPlace::InWindow;
        place = p;
        return true;
    }
    const char* t = text;
    int32_t first = 0;
    if (!readNumber(t, first)) return false;
    if (*t == 0) {
        if (first > 63) return false;
        p.kind = ProjectorPlace::OnMonitor;
        p.monitor = first;
        place = p;
        return true;
    }
    p.kind = ProjectorPlace::OnRectangle;
    p.width = first;
    if (*t++ != 'x' || !readNumber(t, p.height) || *t++ != '+' || !readNumber(t, p.x) || *t++ != '+' ||
        !readNumber(t, p.y) || *t != 0 || p.width < 1 || p.height < 1)
        return false;
    place = p;
    return true;
}

bool resolveProjectorPlace(ProjectorPlace& place, std::string& error, bool* noDisplay) {
    if (noDisplay) *noDisplay = false;
    if (place.kind == ProjectorPlace::InWindow) return true;
    if (place.kind == ProjectorPlace::NoPlace) {
        error = "no projector place";
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (noDisplay) *noDisplay = true;
        error = "no display to put the projector on";
        return false;
    }
    char text[160];
    bool ok = true;
    const int screenWidth = DisplayWidth(display, DefaultScreen(display));
    const int screenHeight = DisplayHeight(display, DefaultScreen(display));
    if (place.kind == ProjectorPlace::OnMonitor) {
        int count = 0, eventBase = 0, errorBase = 0;
        XRRMonitorInfo* monitors = nullptr;
        if (XRRQueryExtension(display, &eventBase, &errorBase))
            monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
        if (!monitors) count = 0;
        if (place.monitor < count) {
            const XRRMonitorInfo& m = monitors[place.monitor];
            place.width = m.width;
            place.height = m.height;
            place.x = m.x;
            place.y = m.y;
        } else {
            std::snprintf(text, sizeof text, "projector: monitor %d not found: the desktop lists %d monitor%s (0 to %d)",
                          place.monitor, count, count == 1 ? "" : "s", count - 1);
            if (count == 0) std::snprintf(text, sizeof text, "projector: monitor %d not found: the desktop lists no monitors", place.monitor);
            error = text;
            ok = false;
        }
        if (monitors) XRRFreeMonitors(monitors);
    } else if (int64_t(place.x) + place.width > screenWidth || int64_t(place.y) + place.height > screenHeight) {
        std::snprintf(text, sizeof text, "projector: %s lies outside the screen (%dx%d)",
                      describeProjectorPlace(place).c_str(), screenWidth, screenHeight);
        error = text;
        ok = false;
    }
    XCloseDisplay(display);
    return ok;
}

std::string describeProjectorPlace(const ProjectorPlace& place) {
    if (place.kind == ProjectorPlace::InWindow) return "window";
    char text[64];
    std::snprintf(text, sizeof text, "%dx%d+%d+%d", place.width, place.height, place.x, place.y);
    return text;
}
