// The one reader through which clip file bytes enter the program. Every read compares the bytes
// it needs with the bytes left in the file; a short read yields zeros and marks the reader failed,
// so the loader checks `failed` once per record or entry instead of after every byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

class ClipReader {
public:
    ClipReader() = default;
    ~ClipReader() { close(); }
    ClipReader(const ClipReader&) = delete;
    ClipReader& operator=(const ClipReader&) = delete;

    // Opens path for reading; false when it cannot be opened (or its size cannot be known).
    bool open(const char* path);
    void close();
    FILE* handle() const { return file; }
    bool isOpen() const { return file != nullptr; }
    uint64_t size() const { return fileSize; }
    // Bytes not yet consumed.
    uint64_t left() const { return unread + uint64_t(end - cur); }

    bool failed = false;

    uint8_t u8() {
        if (end - cur < 1 && !fill(1)) return 0;
        return buffer[cur++];
    }
    uint16_t u16() {
        if (end - cur < 2 && !fill(2)) return 0;
        uint16_t v = uint16_t(buffer[cur] | buffer[cur + 1] << 8);
        cur += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t lo = u16();
        return lo | uint32_t(u16()) << 16;
    }
    // Copies n bytes to out (n at most Capacity); on a short read out is zeroed.
    bool bytes(void* out, size_t n) {
        if (size_t(end - cur) < n && !fill(n)) {
            std::memset(out, 0, n);
            return false;
        }
        std::memcpy(out, buffer + cur, n);
        cur += n;
        return true;
    }
    // Little-endian u16 values into out (n of them), checked once for the whole run.
    bool u16s(uint16_t* out, size_t n);

    static constexpr size_t Capacity = 32768;

private:
    bool fill(size_t need);  // makes at least need bytes available, or marks the reader failed

    FILE* file = nullptr;
    uint8_t* buffer = nullptr;
    ptrdiff_t cur = 0, end = 0;
    uint64_t fileSize = 0;
    uint64_t unread = 0;  // bytes of the file not yet in the buffer
};
