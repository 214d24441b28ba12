#include "library/SafeSave.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <libgen.h>
#include <unistd.h>
#include <vector>

namespace {

bool fail(const std::string& path, const char* step, int error) {
    std::cout << "can't save " << path << ": " << step << " failed (" << strerror(error) << ")"
              << std::endl;
    return false;
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

bool saveFileSafely(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";

    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail(path, "create", errno);

    if (!writeAll(fd, content)) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return fail(path, "write", error);
    }
    if (fsync(fd) != 0) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return fail(path, "sync", error);
    }
    // Some file systems report a deferred write error only at close.
    if (close(fd) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return fail(path, "close", error);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return fail(path, "rename", error);
    }
    syncFolder(path);
    return true;
}
