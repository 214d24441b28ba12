// The one-line notice: a failure the performer must see (a save that failed, a playlist with no
// playable clip, a recording that stopped) stays on screen for a few seconds over every screen,
// besides its log line. A new notice replaces the one shown.
#pragma once
#include <cstdint>

constexpr int NoticeChars = 80;
constexpr uint32_t NoticeMs = 4000;

struct Notice {
    char text[NoticeChars] = {};
    uint32_t until = 0;  // platform ticks at which it disappears
};

extern Notice notice;

// Shows text (cut to fit) for NoticeMs from now.
void postNotice(const char* text);
// The text to show at this tick, or nullptr.
const char* noticeShown(uint32_t now);
