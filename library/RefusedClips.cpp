#include "library/RefusedClips.h"

#include <sys/stat.h>

RefusedClips refusedClips;

namespace {

bool fileStamp(const std::string& path, int64_t& size, int64_t& modified) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    size = int64_t(info.st_size);
    modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

}  // namespace

void RefusedClips::remember(const std::string& path) {
    int64_t size, modified;
    // A file that is gone needs no memory: the scan finds it missing by itself.
    if (!fileStamp(path, size, modified)) return;
    int slot = -1;
    for (int i = 0; i < count; i++)
        if (clips[i].path == path) slot = i;
    if (slot < 0) {
        if (count < RememberedRefusals) {
            slot = count++;
        } else {
            slot = next;
            next = (next + 1) % RememberedRefusals;
        }
    }
    clips[slot].path = path;
    clips[slot].size = size;
    clips[slot].modified = modified;
}

bool RefusedClips::holds(const std::string& path) const {
    int64_t size, modified;
    if (count == 0 || !fileStamp(path, size, modified)) return false;
    for (int i = 0; i < count; i++)
        if (clips[i].path == path) return clips[i].size == size && clips[i].modified == modified;
    return false;
}

void RefusedClips::forget() {
    for (RefusedClip& c : clips) c = RefusedClip();
    count = 0;
    next = 0;
}
