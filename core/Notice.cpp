#include "core/Notice.h"

#include <cstdio>

#include "core/Ticks.h"

Notice notice;

void postNotice(const char* text) {
    std::snprintf(notice.text, sizeof notice.text, "%s", text ? text : "");
    // A notice posted at tick 0 must still show: 0 means "nothing shown".
    notice.until = platform::ticks() + NoticeMs;
    if (notice.until == 0) notice.until = 1;
}

const char* noticeShown(uint32_t now) {
    if (notice.until == 0 || !notice.text[0]) return nullptr;
    if (int32_t(notice.until - now) <= 0) {
        notice.until = 0;
        return nullptr;
    }
    return notice.text;
}
