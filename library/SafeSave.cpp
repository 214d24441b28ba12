#include "library/SafeSave.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool fail(const std::string& path, const char* step, int error, int* reported) {
    std::cout << "can't save " << path << ": " << step << " failed (" << strerror(error) << ")"
              << std::endl;
    if (reported) *reported = error;
    return false;
}

// The file a path finally names: symbolic links followed (relative ones from their own folder),
// also to a target that does not exist yet. A loop of links ends after 40 steps, like the system.
std::string finalTarget(const std::string& path) {
    std::string current = path;
    for (int step = 0; step < 40; step++) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::vector<char> link(size_t(info.st_size > 0 ? info.st_size : 4095) + 1);
        ssize_t n = readlink(current.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size()) return current;
        std::string next(link.data(), size_t(n));
        if (next[0] != '/') {
            const size_t slash = current.rfind('/');
            if (slash != std::string::npos) next = current.substr(0, slash + 1) + next;
        }
        current = next;
    }
    return current;
}

bool writeAll(int fd, const std::string& content) {
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

// After the rename the new name lives in the folder's entries, which are only durable once the
// folder itself is synced. A failure here cannot be undone any more, so it is not reported.
void syncFolder(const std::string& path) {
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    int fd = open(dirname(copy.data()), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

std::string saveFailureReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return "disk full";
    case EROFS: return "read-only disk";
    case EACCES:
    case EPERM: return "no permission";
    case ENOENT:
    case ENOTDIR: return "no folder to save in";
    default: return strerror(error);
    }
}

bool saveFileSafely(const std::string& path, const std::string& content, int* reported) {
    // Through a link the target is replaced: renaming over the link would cut it.
    const std::string target = finalTarget(path);
    const std::string temporary = target + ".tmp";

    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail(path, "create", errno, reported);
    // The replacement keeps the old file's permissions and, where allowed, its owner.
    struct stat old;
    if (stat(target.c_str(), &old) == 0) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) { /* only root may give files away */ }
        fchmod(fd, old.st_mode & 07777);
    }

    if (!writeAll(fd, content)) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return fail(path, "write", error, reported);
    }
    if (fsync(fd) != 0) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return fail(path, "sync", error, reported);
    }
    // Some file systems report a deferred write error only at close.
    if (close(fd) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return fail(path, "close", error, reported);
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return fail(path, "rename", error, reported);
    }
    syncFolder(target);
    return true;
}
