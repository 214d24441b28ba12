#include "projector/ProjectorLink.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "projector/ProjectorSegment.h"

extern char** environ;

ProjectorLink projectorLink;

namespace {

const char SegmentPrefix[] = "loopmixer-projector-";

uint64_t monotonicUs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000u + uint64_t(t.tv_nsec) / 1000u;
}

std::string programNextToThisOne() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "loopmixer-projector";
    path[n] = 0;
    std::string p(path);
    return p.substr(0, p.rfind('/') + 1) + "loopmixer-projector";
}

// A descriptor moved above the ones the child's are put on, closed at exec.
int above(int fd) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return moved;
}

}  // namespace

std::string ProjectorLink::segmentName(pid_t owner) { return "/" + std::string(SegmentPrefix) + std::to_string(owner); }

int ProjectorLink::removeStaleSegments() {
    DIR* dir = opendir("/dev/shm");
    if (!dir) return 0;
    int removed = 0;
    while (dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, SegmentPrefix, sizeof SegmentPrefix - 1) != 0) continue;
        char* end = nullptr;
        const long owner = std::strtol(e->d_name + sizeof SegmentPrefix - 1, &end, 10);
        if (*end || owner <= 0) continue;
        if (owner != getpid() && kill(pid_t(owner), 0) == 0) continue;  // a live run's
        if (owner != getpid() && errno != ESRCH) continue;
        if (shm_unlink(segmentName(pid_t(owner)).c_str()) == 0) removed++;
    }
    closedir(dir);
    return removed;
}

bool ProjectorLink::open(const ProjectorPlace& place, std::string& error) {
    if (isOpen()) return true;
    const std::string name = segmentName(getpid());
    int shm = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (shm < 0 && errno == EEXIST) {
        shm_unlink(name.c_str());
        shm = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (shm < 0) {
        error = std::string("no shared memory: ") + std::strerror(errno);
        return false;
    }
    // The projector gets the descriptor itself: the name is needed no longer, and a crash of either
    // side leaves nothing behind in /dev/shm.
    shm_unlink(name.c_str());
    void* map = MAP_FAILED;
    if (ftruncate(shm, sizeof(ProjectorSegment)) == 0)
        map = mmap(nullptr, sizeof(ProjectorSegment), PROT_READ | PROT_WRITE, MAP_SHARED, shm, 0);
    int pair[2] = {-1, -1};
    if (map == MAP_FAILED || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("no shared memory: ") + std::strerror(errno);
        if (map != MAP_FAILED) munmap(map, sizeof(ProjectorSegment));
        ::close(shm);
        return false;
    }
    segment_ = new (map) ProjectorSegment();
    segment_->magic = ProjectorMagic;
    shm = above(shm);
    const int ours = above(pair[0]), theirs = above(pair[1]);
    fcntl(ours, F_SETFL, fcntl(ours, F_GETFL) | O_NONBLOCK);

    const std::string path = program.empty() ? programNextToThisOne() : program;
    const std::string parent = std::to_string(getpid());
    const std::string where = describeProjectorPlace(place);
    // A monitor is filled as the desktop fills it (its window manager, where there is one, is asked
    // for full screen on it); a rectangle stays exactly where it was put.
    const char* fill = place.kind == ProjectorPlace::OnMonitor ? "monitor" : "exact";
    const char* argv[] = {path.c_str(), "--parent", parent.c_str(), "--place", where.c_str(), "--fill", fill, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, shm, ProjectorSegmentFd);
    posix_spawn_file_actions_adddup2(&actions, theirs, ProjectorWakeFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, ProjectorWakeFd + 1);
    pid_t child = -1;
    const int failed = posix_spawn(&child, path.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(shm);
    ::close(theirs);
    if (failed) {
        error = "can't start " + path + ": " + std::strerror(failed);
        ::close(ours);
        munmap(segment_, sizeof(ProjectorSegment));
        segment_ = nullptr;
        return false;
    }
    pid_ = child;
    wake_ = ours;
    sequence_ = 0;
    publishedUnpresented_ = false;
    return true;
}

void ProjectorLink::release() {
    if (wake_ >= 0) ::close(wake_);
    wake_ = -1;
    if (segment_) munmap(segment_, sizeof(ProjectorSegment));
    segment_ = nullptr;
    pid_ = -1;
}

void ProjectorLink::close() {
    reapLeaving(false);
    if (!isOpen()) return;
    int slot = 0;
    for (int i = 0; i < 4; i++)
        if (leaving_[i] == 0) slot = i;
    if (leaving_[slot] != 0) {  // four still leaving: the oldest is made to
        kill(leaving_[slot], SIGKILL);
        waitpid(leaving_[slot], nullptr, 0);
    }
    leaving_[slot] = pid_;
    leavingSinceMs_[slot] = monotonicUs() / 1000;
    release();  // end of file on its socket: it leaves
}

void ProjectorLink::reapLeaving(bool force) {
    const uint64_t now = monotonicUs() / 1000;
    for (int i = 0; i < 4; i++) {
        if (leaving_[i] == 0) continue;
        if (waitpid(leaving_[i], nullptr, WNOHANG) != 0) {
            leaving_[i] = 0;
            continue;
        }
        // It had two seconds to see the end of file.
        if (force || now - leavingSinceMs_[i] > 2000) kill(leaving_[i], SIGKILL);
    }
}

void ProjectorLink::publish(const uint16_t* pixels, int32_t pitch, int32_t fit, int32_t look) {
    if (!segment_) return;
    const uint32_t s = sequence_;
    segment_->sequence.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (int y = 0; y < ProjectorHeight; y++)
        std::memcpy(segment_->pixels + y * ProjectorWidth, pixels + y * pitch, ProjectorWidth * 2);
    segment_->fit.store(fit, std::memory_order_relaxed);
    segment_->look.store(look, std::memory_order_relaxed);
    segment_->sequence.store(s + 2, std::memory_order_release);
    sequence_ = s + 2;
    publishedUnpresented_ = true;
    // A full socket means the projector has wake-ups waiting already.
    const char wake = 1;
    (void)send(wake_, &wake, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void ProjectorLink::presented() {
    if (!segment_ || !publishedUnpresented_) return;
    publishedUnpresented_ = false;
    const uint32_t frame = sequence_ / 2;
    const int slot = int(frame % ProjectorPresentSlots);
    segment_->presentedUs[slot].store(monotonicUs(), std::memory_order_relaxed);
    segment_->presentedFrame[slot].store(frame, std::memory_order_release);
}

bool ProjectorLink::checkGone(std::string& reason) {
    reapLeaving(false);
    if (!isOpen()) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    char text[ProjectorReasonChars + 48];
    if (segment_->closedReason[0]) {
        char own[ProjectorReasonChars];
        std::memcpy(own, segment_->closedReason, sizeof own);
        own[sizeof own - 1] = 0;
        std::snprintf(text, sizeof text, "%s", own);
    } else if (WIFSIGNALED(status)) {
        std::snprintf(text, sizeof text, "killed by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        std::snprintf(text, sizeof text, "exited with status %d", WEXITSTATUS(status));
    } else {
        std::snprintf(text, sizeof text, "exited");
    }
    reason = text;
    release();
    return true;
}
