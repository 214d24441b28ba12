#include "remote/OscAddresses.h"

#include <lo/lo.h>

#include <cmath>
#include <cstring>
#include <iostream>

namespace {

struct OscEntry {
    char address[MaxOscAddressChars + 1];
    char types[MaxOscArgs + 1];
    OscHandler handler;
    int32_t param;
    bool warned;  // a wrong message to this address has been logged
};

OscEntry entries[MaxOscAddresses];
int entryCount = 0;

// Unknown addresses are logged once each, up to a fixed number of distinct ones (by hash), so
// that a stream of random addresses cannot grow memory or the log.
constexpr int MaxUnknownLogged = 32;
uint32_t unknownLogged[MaxUnknownLogged];
int unknownCount = 0;

uint32_t hashOf(const char* s) {
    uint32_t h = 2166136261u;
    for (; *s; s++) h = (h ^ uint8_t(*s)) * 16777619u;
    return h;
}

// Prints an address for the log: at most 64 bytes, control bytes shown as '?'.
std::string printable(const char* s) {
    std::string out;
    for (; *s && out.size() < 64; s++) out += (uint8_t(*s) < 32 || uint8_t(*s) > 126) ? '?' : *s;
    return out;
}

void logUnknown(const char* address) {
    const uint32_t h = hashOf(address);
    for (int i = 0; i < unknownCount; i++)
        if (unknownLogged[i] == h) return;
    if (unknownCount == MaxUnknownLogged) return;
    unknownLogged[unknownCount++] = h;
    std::cout << "osc: unknown address " << printable(address) << std::endl;
}

void logWrong(OscEntry& e) {
    if (e.warned) return;
    e.warned = true;
    std::cout << "osc: ignored " << e.address << " (wrong type, count or range; expects \"" << e.types
              << "\")" << std::endl;
}

// liblo's argument pointers are only 4-byte aligned, less than its union asks for: the values are
// copied out.
int32_t intAt(const void* p) {
    int32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

float floatAt(const void* p) {
    float v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Converts one received argument to the registered type; false when it does not fit.
bool convert(char want, char got, const void* a, OscArg& out) {
    if (want == 'i') {
        if (got == 'i') {
            out.i = intAt(a);
            return true;
        }
        const float f = got == 'f' ? floatAt(a) : 0.5f;
        if (got == 'f' && std::isfinite(f) && f == std::floor(f) && std::fabs(f) < 1e9f) {
            out.i = int32_t(f);
            return true;
        }
        return false;
    }
    if (want == 'f') {
        if (got == 'f' && std::isfinite(floatAt(a))) {
            out.f = floatAt(a);
            return true;
        }
        if (got == 'i') {
            out.f = float(intAt(a));
            return true;
        }
        return false;
    }
    if (want == 's' && (got == 's' || got == 'S')) {
        out.s = static_cast<const char*>(a);
        return true;
    }
    return false;
}

}  // namespace

bool addOscAddress(const char* address, const char* types, OscHandler handler, int32_t param) {
    if (!address || !types || !handler || address[0] != '/') return false;
    if (strlen(address) > size_t(MaxOscAddressChars) || strlen(types) > size_t(MaxOscArgs)) return false;
    const bool button = strcmp(types, "b") == 0;
    for (const char* t = types; *t && !button; t++)
        if (*t != 'i' && *t != 'f' && *t != 's') return false;
    OscEntry* e = nullptr;
    for (int i = 0; i < entryCount; i++)
        if (strcmp(entries[i].address, address) == 0) e = &entries[i];
    if (!e) {
        if (entryCount == MaxOscAddresses) return false;
        e = &entries[entryCount++];
    }
    snprintf(e->address, sizeof e->address, "%s", address);
    snprintf(e->types, sizeof e->types, "%s", types);
    e->handler = handler;
    e->param = param;
    e->warned = false;
    return true;
}

bool handleOscMessage(const char* address, const char* types, void* const* argv, int argc) {
    if (!address) return false;
    if (!types) types = "";
    OscEntry* e = nullptr;
    for (int i = 0; i < entryCount && !e; i++)
        if (strcmp(entries[i].address, address) == 0) e = &entries[i];
    if (!e) {
        logUnknown(address);
        return false;
    }
    if (strcmp(e->types, "b") == 0) {
        OscArg value;
        value.f = 1.0f;
        if (argc > 1 || int(strnlen(types, 2)) != argc || (argc == 1 && !convert('f', types[0], argv[0], value)) ||
            !e->handler(&value, e->param)) {
            logWrong(*e);
            return false;
        }
        return true;
    }
    const int want = int(strlen(e->types));
    if (argc != want || int(strnlen(types, MaxOscArgs + 1)) != want) {
        logWrong(*e);
        return false;
    }
    OscArg args[MaxOscArgs] = {};
    for (int k = 0; k < want; k++) {
        if (!convert(e->types[k], types[k], argv[k], args[k])) {
            logWrong(*e);
            return false;
        }
    }
    if (!e->handler(args, e->param)) {
        logWrong(*e);
        return false;
    }
    return true;
}

namespace {

// Big-endian 32-bit read; the caller has checked that four bytes are there.
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void handleMessageBytes(const uint8_t* data, size_t size) {
    // liblo checks the whole message (padding, type tags, argument sizes) before it builds it.
    int result = 0;
    lo_message m = lo_message_deserialise(const_cast<uint8_t*>(data), size, &result);
    if (!m) return;
    // The address is the first, null-terminated string; deserialise has checked it.
    const char* address = reinterpret_cast<const char*>(data);
    const char* types = lo_message_get_types(m);
    const int argc = lo_message_get_argc(m);
    lo_arg** argv = lo_message_get_argv(m);
    handleOscMessage(address, types, reinterpret_cast<void* const*>(argv), argc);
    lo_message_free(m);
}

// Walks one bundle: "#bundle", an 8-byte time tag, then elements of a 32-bit size and that many
// bytes. budget counts the messages left for this packet; depth bounds the nesting.
void handleBundle(const uint8_t* data, size_t size, int& budget, int depth) {
    static const char tag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
    if (size < 16 || memcmp(data, tag, 8) != 0 || depth > 8) return;
    size_t at = 16;
    while (budget > 0 && size - at >= 4) {
        const uint32_t n = be32(data + at);
        at += 4;
        if (n == 0 || n % 4 != 0 || n > size - at) return;
        const uint8_t* element = data + at;
        if (element[0] == '#') handleBundle(element, n, budget, depth + 1);
        else if (element[0] == '/') {
            budget--;
            handleMessageBytes(element, n);
        }
        at += n;
    }
}

}  // namespace

void handleOscPacket(const uint8_t* data, size_t size) {
    if (!data || size < 4 || size % 4 != 0) return;
    int budget = MaxOscMessagesPerPacket;
    if (data[0] == '#') handleBundle(data, size, budget, 0);
    else if (data[0] == '/') handleMessageBytes(data, size);
}

void resetOscWarnings() {
    for (int i = 0; i < entryCount; i++) entries[i].warned = false;
    unknownCount = 0;
}
