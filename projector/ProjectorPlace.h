// Where the projector's picture goes: a monitor as the desktop lists it (XRandR, in the order
// `xrandr --listmonitors` prints), a rectangle WxH+X+Y of the X screen, or an ordinary window.
#pragma once
#include <cstdint>
#include <string>

struct ProjectorPlace {
    enum Kind { NoPlace, OnMonitor, OnRectangle, InWindow } kind = NoPlace;
    int32_t monitor = 0;
    int32_t width = 0, height = 0, x = 0, y = 0;  // OnRectangle, and OnMonitor once resolved
};

// Reads "0", "1", ..., "WxH+X+Y" or "window" (syntax only). Returns false for anything else.
bool parseProjectorPlace(const char* text, ProjectorPlace& place);

// Finds a monitor's rectangle and checks that a rectangle lies inside the X screen, on the
// display named by DISPLAY. Returns false with one line in error ("monitor 3 not found: the
// desktop lists 2 monitors", ...). A Window needs nothing. With no display at all it returns false
// with noDisplay set, so that the caller can leave the report to the main window's start.
bool resolveProjectorPlace(ProjectorPlace& place, std::string& error, bool* noDisplay = nullptr);

// The rectangle as "WxH+X+Y", or "window".
std::string describeProjectorPlace(const ProjectorPlace& place);
