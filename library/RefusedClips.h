// Clips that loading refused although their header looked right (a file cut short or damaged
// further in). The scan reads headers only, so it remembers these by path, size and modification
// time: the clip stays missing until the file is replaced.
#pragma once
#include <cstdint>
#include <string>

constexpr int RememberedRefusals = 64;

struct RefusedClip {
    std::string path;
    int64_t size = 0;
    int64_t modified = 0;  // nanoseconds
};

class RefusedClips {
public:
    RefusedClip clips[RememberedRefusals];
    int32_t count = 0;
    int32_t next = 0;  // when all are used, the oldest is forgotten first

    void remember(const std::string& path);
    // True when path names a file that was refused and has not changed since.
    bool holds(const std::string& path) const;
    void forget();
};

extern RefusedClips refusedClips;
