#include "core/Notice.h"

#include <cstdio>
#include <cstring>

#include "core/Ticks.h"

Notice notice;

namespace {

void show(const char* text, uint32_t now) {
    std::snprintf(notice.showing, sizeof notice.showing, "%s", text);
    notice.since = now;
    // A notice posted at tick 0 must still show: 0 means "nothing shown".
    notice.until = now + NoticeMs;
    if (notice.until == 0) notice.until = 1;
}

bool expired(uint32_t now) { return notice.until == 0 || int32_t(notice.until - now) <= 0; }

// With notices waiting, the one shown stays QueuedNoticeMs, not its whole time.
void shortenForWaiting() {
    if (notice.waitingCount == 0) return;
    const uint32_t shorter = notice.since + QueuedNoticeMs;
    if (int32_t(notice.until - shorter) > 0) notice.until = shorter == 0 ? 1 : shorter;
}

}  // namespace

void postNotice(const char* text) {
    if (!text) text = "";
    const uint32_t now = platform::ticks();
    char cut[NoticeChars];
    std::snprintf(cut, sizeof cut, "%s", text);
    std::memcpy(notice.text, cut, sizeof cut);
    if (expired(now) && notice.waitingCount == 0) {
        show(cut, now);
        return;
    }
    if (std::strcmp(cut, notice.showing) == 0 && !expired(now)) {
        notice.until = now + NoticeMs;
        if (notice.until == 0) notice.until = 1;
        shortenForWaiting();
        return;
    }
    for (int i = 0; i < notice.waitingCount; i++)
        if (std::strcmp(cut, notice.waiting[i]) == 0) return;
    const int slot = notice.waitingCount < WaitingNotices ? notice.waitingCount++ : WaitingNotices - 1;
    std::memcpy(notice.waiting[slot], cut, sizeof cut);
    shortenForWaiting();
}

const char* noticeShown(uint32_t now) {
    if (expired(now)) {
        notice.until = 0;
        if (notice.waitingCount == 0) return nullptr;
        show(notice.waiting[0], now);
        notice.waitingCount--;
        std::memmove(notice.waiting[0], notice.waiting[1], sizeof notice.waiting[0] * size_t(notice.waitingCount));
        shortenForWaiting();
    }
    return notice.showing[0] ? notice.showing : nullptr;
}
