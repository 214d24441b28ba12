#include "remote/OscFeedback.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/Utf8.h"

namespace {

struct FeedbackEntry {
    char address[MaxOscAddressChars + 1];
    char type;
    OscFeedbackRead read;
    int32_t param;
    bool known;  // last holds what was sent
    int32_t lastI;
    float lastF;
    char lastS[MaxOscFeedbackChars + 1];
};

FeedbackEntry entries[MaxOscFeedback];
int entryCount = 0;

}  // namespace

bool addOscFeedback(const char* address, char type, OscFeedbackRead read, int32_t param) {
    if (!address || address[0] != '/' || !read || strlen(address) > size_t(MaxOscAddressChars)) return false;
    if (type != 'i' && type != 'f' && type != 's') return false;
    FeedbackEntry* e = nullptr;
    for (int i = 0; i < entryCount; i++)
        if (strcmp(entries[i].address, address) == 0) e = &entries[i];
    if (!e) {
        if (entryCount == MaxOscFeedback) return false;
        e = &entries[entryCount++];
    }
    snprintf(e->address, sizeof e->address, "%s", address);
    e->type = type;
    e->read = read;
    e->param = param;
    e->known = false;
    return true;
}

void pollOscFeedback(bool all, OscFeedbackSend send) {
    for (int i = 0; i < entryCount; i++) {
        FeedbackEntry& e = entries[i];
        OscArg v = e.read(e.param);
        bool changed = !e.known;
        switch (e.type) {
        case 'i':
            changed |= v.i != e.lastI;
            e.lastI = v.i;
            break;
        case 'f':
            changed |= v.f != e.lastF;
            e.lastF = v.f;
            break;
        default: {
            // A long name is cut where no UTF-8 character is split.
            char text[MaxOscFeedbackChars + 1];
            const std::string full = v.s ? v.s : "";
            const size_t n = utf8Boundary(full, std::min(full.size(), size_t(MaxOscFeedbackChars)), isUtf8(full));
            snprintf(text, sizeof text, "%.*s", int(n), full.c_str());
            changed |= strcmp(text, e.lastS) != 0;
            memcpy(e.lastS, text, sizeof text);
            v.s = e.lastS;
            break;
        }
        }
        e.known = true;
        if ((changed || all) && send) send(e.address, e.type, v);
    }
}
