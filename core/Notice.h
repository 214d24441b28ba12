// The one-line notice: a failure the performer must see (a save that failed, a playlist with no
// playable clip, a recording that stopped) stays on screen for a few seconds over every screen,
// besides its log line. Notices posted while one is shown wait their turn, so that two failures at
// once (the options and the glove keys on a full disk) are both read.
#pragma once
#include <cstdint>

constexpr int NoticeChars = 80;
constexpr uint32_t NoticeMs = 4000;
constexpr uint32_t QueuedNoticeMs = 2000;  // a notice with others waiting behind it
constexpr int WaitingNotices = 4;

struct Notice {
    char text[NoticeChars] = {};     // the latest notice posted
    char showing[NoticeChars] = {};  // the one on screen (the latest, or one before it still in turn)
    uint32_t until = 0;  // platform ticks at which the one on screen disappears
    uint32_t since = 0;  // platform ticks at which it appeared
    char waiting[WaitingNotices][NoticeChars] = {};
    int32_t waitingCount = 0;
};

extern Notice notice;

// Shows text (cut to fit) for NoticeMs from now, or after the notices before it. The text shown
// again extends it; a text already waiting is not queued twice; past four waiting, the newest
// replaces the last.
void postNotice(const char* text);
// The text to show at this tick, or nullptr.
const char* noticeShown(uint32_t now);
