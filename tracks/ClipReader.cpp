#include "tracks/ClipReader.h"

#include <cstdlib>

bool ClipReader::open(const char* path) {
    close();
    file = std::fopen(path, "rb");
    if (!file) return false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        close();
        return false;
    }
    buffer = static_cast<uint8_t*>(std::malloc(Capacity));
    if (!buffer) {
        close();
        return false;
    }
    fileSize = uint64_t(size);
    unread = fileSize;
    cur = end = 0;
    failed = false;
    return true;
}

void ClipReader::close() {
    if (file) std::fclose(file);
    file = nullptr;
    std::free(buffer);
    buffer = nullptr;
    cur = end = 0;
    unread = 0;
}

bool ClipReader::fill(size_t need) {
    size_t have = size_t(end - cur);
    if (failed || !buffer || need > Capacity || have + unread < need) {
        failed = true;
        return false;
    }
    std::memmove(buffer, buffer + cur, have);
    size_t want = Capacity - have;
    if (want > unread) want = size_t(unread);
    size_t got = std::fread(buffer + have, 1, want, file);
    unread -= got;
    cur = 0;
    end = ptrdiff_t(have + got);
    if (have + got < need) {  // the file shrank or could not be read
        failed = true;
        return false;
    }
    return true;
}

bool ClipReader::u16s(uint16_t* out, size_t n) {
    while (n > 0) {
        size_t chunk = n < Capacity / 2 ? n : Capacity / 2;
        if (size_t(end - cur) < 2 * chunk && !fill(2 * chunk)) {
            std::memset(out, 0, 2 * n);
            return false;
        }
        const uint8_t* p = buffer + cur;
        for (size_t i = 0; i < chunk; i++) out[i] = uint16_t(p[2 * i] | p[2 * i + 1] << 8);
        cur += ptrdiff_t(2 * chunk);
        out += chunk;
        n -= chunk;
    }
    return true;
}
