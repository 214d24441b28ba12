#include "web/WebMessage.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// A cursor over the message's bytes: every read checks what is left first.
class JsonReader {
public:
    JsonReader(const char* text, size_t size) : at(text), end(text + size) {}

    void skipSpace() {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) at++;
    }
    bool take(char c) {
        skipSpace();
        if (at == end || *at != c) return false;
        at++;
        return true;
    }
    bool peek(char c) {
        skipSpace();
        return at < end && *at == c;
    }
    bool atEnd() {
        skipSpace();
        return at == end;
    }
    bool word(const char* w) {
        const size_t n = strlen(w);
        if (size_t(end - at) < n || memcmp(at, w, n) != 0) return false;
        at += n;
        lastWordWasTrue = w[0] == 't';
        return true;
    }

    // A string of at most limit bytes (after escapes) into out, null-terminated. \uXXXX is taken
    // for the Basic Multilingual Plane outside the surrogates, written as UTF-8.
    bool string(char* out, size_t limit) {
        if (!take('"')) return false;
        size_t n = 0;
        auto put = [&](char c) {
            if (n == limit) return false;
            out[n++] = c;
            return true;
        };
        while (at < end) {
            const unsigned char c = uint8_t(*at++);
            if (c == '"') {
                out[n] = 0;
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                if (!put(char(c))) return false;
                continue;
            }
            if (at == end) return false;
            const char e = *at++;
            const char* simple = strchr("\"\\/bfnrt", e);
            if (e && simple) {
                static const char values[] = "\"\\/\b\f\n\r\t";
                if (!put(values[simple - "\"\\/bfnrt"])) return false;
                continue;
            }
            if (e != 'u' || end - at < 4) return false;
            unsigned code = 0;
            for (int k = 0; k < 4; k++) {
                const char h = *at++;
                const int d = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
                if (d < 0) return false;
                code = code * 16 + unsigned(d);
            }
            if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return false;
            if (code < 0x80) {
                if (!put(char(code))) return false;
            } else if (code < 0x800) {
                if (!put(char(0xC0 | code >> 6)) || !put(char(0x80 | (code & 63)))) return false;
            } else if (!put(char(0xE0 | code >> 12)) || !put(char(0x80 | (code >> 6 & 63))) || !put(char(0x80 | (code & 63)))) {
                return false;
            }
        }
        return false;
    }

    // A JSON number; whole says it had neither fraction nor exponent.
    bool number(double& value, bool& whole) {
        skipSpace();
        const char* start = at;
        if (at < end && *at == '-') at++;
        if (at == end || *at < '0' || *at > '9') return false;
        if (*at == '0') at++;
        else
            while (at < end && *at >= '0' && *at <= '9') at++;
        whole = true;
        if (at < end && *at == '.') {
            whole = false;
            at++;
            if (at == end || *at < '0' || *at > '9') return false;
            while (at < end && *at >= '0' && *at <= '9') at++;
        }
        if (at < end && (*at == 'e' || *at == 'E')) {
            whole = false;
            at++;
            if (at < end && (*at == '+' || *at == '-')) at++;
            if (at == end || *at < '0' || *at > '9') return false;
            while (at < end && *at >= '0' && *at <= '9') at++;
        }
        const std::from_chars_result r = std::from_chars(start, at, value);
        return r.ec == std::errc() && r.ptr == at && std::isfinite(value);
    }

    bool lastWordWasTrue = false;

private:
    const char* at;
    const char* end;
};

bool validAddress(const char* a) {
    if (a[0] != '/') return false;
    for (; *a; a++)
        if (uint8_t(*a) < 0x21 || uint8_t(*a) > 0x7E) return false;
    return true;
}

bool readArgs(JsonReader& r, WebMessage& out) {
    if (!r.take('[')) return false;
    if (r.take(']')) return true;
    do {
        if (out.argc == MaxOscArgs) return false;
        const int k = out.argc;
        if (r.peek('"')) {
            if (!r.string(out.strings[k], MaxWebStringChars)) return false;
            out.types[k] = 's';
        } else if (r.word("true") || r.word("false")) {
            out.types[k] = 'i';
            out.ints[k] = r.lastWordWasTrue;
        } else {
            double v;
            bool whole;
            if (!r.number(v, whole)) return false;
            if (whole && v >= -2147483648.0 && v <= 2147483647.0) {
                out.types[k] = 'i';
                out.ints[k] = int32_t(v);
            } else {
                if (std::fabs(v) > 3.4e38) return false;
                out.types[k] = 'f';
                out.floats[k] = float(v);
            }
        }
        out.argc++;
    } while (r.take(','));
    out.types[out.argc] = 0;
    return r.take(']');
}

}  // namespace

bool parseWebMessage(const char* text, size_t size, WebMessage& out) {
    out = WebMessage();
    if (!text || size > MaxWebMessageBytes) return false;
    JsonReader r(text, size);
    if (!r.take('{')) return false;
    bool haveAddress = false, haveArgs = false;
    if (!r.peek('}')) {
        do {
            char key[16];
            if (!r.string(key, sizeof key - 1) || !r.take(':')) return false;
            if (strcmp(key, "address") == 0 && !haveAddress) {
                r.skipSpace();
                if (!r.string(out.address, MaxOscAddressChars) || !validAddress(out.address)) return false;
                haveAddress = true;
            } else if (strcmp(key, "args") == 0 && !haveArgs) {
                if (!readArgs(r, out)) return false;
                haveArgs = true;
            } else {
                return false;
            }
        } while (r.take(','));
    }
    return r.take('}') && r.atEnd() && haveAddress;
}

bool dispatchWebMessage(const WebMessage& m) {
    // The handler reads each argument through the pointer liblo would give: the value itself for
    // numbers, the characters for a string.
    void* argv[MaxOscArgs] = {};
    WebMessage copy = m;
    for (int k = 0; k < copy.argc; k++) {
        if (copy.types[k] == 'i') argv[k] = &copy.ints[k];
        else if (copy.types[k] == 'f') argv[k] = &copy.floats[k];
        else argv[k] = copy.strings[k];
    }
    return handleOscMessage(copy.address, copy.types, argv, copy.argc);
}

std::string webMessageJson(const char* address, char type, const OscArg& value) {
    std::string out = "{\"address\":\"";
    out += address;  // registered addresses are printable and hold no quote
    out += "\",\"args\":[";
    char number[32];
    if (type == 'i') {
        snprintf(number, sizeof number, "%d", int(value.i));
        out += number;
    } else if (type == 'f') {
        snprintf(number, sizeof number, "%.6g", std::isfinite(value.f) ? double(value.f) : 0.0);
        out += number;
    } else {
        out += '"';
        for (const char* s = value.s ? value.s : ""; *s; s++) {
            const unsigned char c = uint8_t(*s);
            if (c == '"' || c == '\\') {
                out += '\\';
                out += char(c);
            } else if (c < 0x20) {
                snprintf(number, sizeof number, "\\u%04x", c);
                out += number;
            } else {
                out += char(c);
            }
        }
        out += '"';
    }
    return out + "]}";
}
