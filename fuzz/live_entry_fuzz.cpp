// The "live:" entry parser (any bytes as a playlist entry or a --live value): an accepted entry
// always names an input, and a refused one always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "live/LiveEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string entry(reinterpret_cast<const char*>(data), size);
    LiveAddress parts;
    std::string why;
    if (parseLiveEntry(entry, parts, &why)) {
        if (parts.input.empty() || parts.input.size() >= entry.size()) std::abort();
    } else if (why.empty()) {
        std::abort();
    }
    return 0;
}
