#include "remote/OscPattern.h"

#include <cstdint>
#include <cstring>

namespace {

struct Matcher {
    int steps = OscPatternSteps;

    // Matches "[...]" at p against the character c; sets end past the ']'. False when the set is
    // unterminated (the pattern is then malformed and matches nothing).
    static bool inSet(const char* p, unsigned char c, const char** end) {
        p++;  // '['
        bool negate = false;
        if (*p == '!') {
            negate = true;
            p++;
        }
        bool found = false;
        for (bool first = true; *p && (first || *p != ']'); first = false) {
            if (*p == '/') return false;
            if (p[1] == '-' && p[2] && p[2] != ']') {
                if (c >= uint8_t(p[0]) && c <= uint8_t(p[2])) found = true;
                p += 3;
            } else {
                if (c == uint8_t(*p)) found = true;
                p++;
            }
        }
        if (*p != ']') return false;
        *end = p + 1;
        return found != negate;
    }

    bool match(const char* p, const char* s) {
        while (*p) {
            if (--steps < 0) return false;
            switch (*p) {
            case '?':
                if (!*s || *s == '/') return false;
                p++;
                s++;
                break;
            case '*': {
                while (*p == '*') p++;
                // The star takes zero or more characters of this part of the address.
                for (const char* t = s;; t++) {
                    if (match(p, t)) return true;
                    if (!*t || *t == '/' || steps < 0) return false;
                }
            }
            case '[': {
                const char* end = nullptr;
                if (!*s || *s == '/' || !inSet(p, uint8_t(*s), &end)) return false;
                p = end;
                s++;
                break;
            }
            case '{': {
                const char* close = p + 1;
                while (*close && *close != '}' && *close != '/') close++;
                if (*close != '}') return false;
                // Each listed string is literal text; the rest of the pattern follows it.
                for (const char* alt = p + 1; alt <= close;) {
                    const char* comma = alt;
                    while (comma < close && *comma != ',') comma++;
                    const size_t n = size_t(comma - alt);
                    if (strncmp(alt, s, n) == 0 && match(close + 1, s + n)) return true;
                    if (steps < 0) return false;
                    alt = comma + 1;
                }
                return false;
            }
            default:
                if (*p != *s) return false;
                p++;
                s++;
                break;
            }
        }
        return *s == 0;
    }
};

}  // namespace

bool isOscPattern(const char* address) { return strpbrk(address, "*?[]{}") != nullptr; }

bool oscPatternMatches(const char* pattern, const char* address) {
    if (strnlen(pattern, MaxOscPatternChars + 1) > MaxOscPatternChars) return false;
    Matcher m;
    return m.match(pattern, address);
}
