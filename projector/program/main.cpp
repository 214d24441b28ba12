// loopmixer-projector: the projector's window, started by the instrument (never by hand). It finds
// the shared picture on descriptor 3 and the wake-up socket on 4, shows every new picture scaled
// to its window, and leaves when the instrument is gone (end of file on the socket, or the parent's
// death signal), when its window is closed or when its display goes away, saying why in the
// segment first.
#include <SDL/SDL.h>
#include <SDL/SDL_syswm.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Version.h"
#include "projector/ProjectorPlace.h"
#include "projector/ProjectorScale.h"
#include "projector/ProjectorSegment.h"

// Under the leak checker: libX11 keeps two small strings it never frees, not this program's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libX11.so"; }

namespace {

ProjectorSegment* segment = nullptr;
volatile sig_atomic_t parentGone = 0;

void say(const char* reason) {
    if (!segment) return;
    std::snprintf(segment->closedReason, sizeof segment->closedReason, "%s", reason);
}

int displayLost(Display*) {
    say("the display went away");
    _exit(3);
}

uint64_t monotonicUs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000u + uint64_t(t.tv_nsec) / 1000u;
}

// The latency figure (LOOPMIXER_PROJECTOR_STATS=FILE): for every frame shown, its present here
// minus the main window's present of it, both on the monotonic clock.
struct Figures {
    const char* path = nullptr;
    uint32_t shownFrame[ProjectorPresentSlots] = {};
    uint64_t shownUs[ProjectorPresentSlots] = {};
    std::vector<int64_t> latencyUs;
    uint32_t shown = 0, skipped = 0, lastFrame = 0;

    void noteShown(uint32_t frame, uint64_t us) {
        if (shown > 0 && frame > lastFrame + 1) skipped += frame - lastFrame - 1;
        lastFrame = frame;
        shown++;
        shownFrame[frame % ProjectorPresentSlots] = frame;
        shownUs[frame % ProjectorPresentSlots] = us;
    }
    void match() {
        for (int i = 0; i < ProjectorPresentSlots; i++) {
            if (shownFrame[i] == 0) continue;
            if (segment->presentedFrame[i].load(std::memory_order_acquire) != shownFrame[i]) continue;
            if (latencyUs.size() < 1000000)
                latencyUs.push_back(int64_t(shownUs[i]) - int64_t(segment->presentedUs[i].load(std::memory_order_relaxed)));
            shownFrame[i] = 0;
        }
    }
    void write() {
        if (!path) return;
        FILE* f = std::fopen(path, "w");
        if (!f) return;
        std::sort(latencyUs.begin(), latencyUs.end());
        const size_t n = latencyUs.size();
        std::fprintf(f, "shown %u skipped %u samples %zu", shown, skipped, n);
        if (n) std::fprintf(f, " median_us %lld p95_us %lld", (long long)latencyUs[n / 2], (long long)latencyUs[n * 95 / 100]);
        std::fprintf(f, "\n");
        std::fclose(f);
    }
};

// Copies the newest picture if one is complete; false when it was being written (try again).
bool copyNewest(uint16_t* picture, uint32_t& frame, int& fit, int& look) {
    const uint32_t s = segment->sequence.load(std::memory_order_acquire);
    if (s & 1) return false;
    std::memcpy(picture, segment->pixels, sizeof segment->pixels);
    fit = segment->fit.load(std::memory_order_relaxed);
    look = segment->look.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (segment->sequence.load(std::memory_order_relaxed) != s) return false;
    frame = s / 2;
    return true;
}

// A window manager keeps its panels over a window without border unless the window asks for full
// screen (EWMH _NET_WM_STATE_FULLSCREEN, on the monitor the window is on). Without a window
// manager the window already lies exactly on the monitor.
void askForFullScreen(const SDL_SysWMinfo& wm) {
    wm.info.x11.lock_func();
    Display* d = wm.info.x11.display;
    const Window root = DefaultRootWindow(d);
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const bool managed = XGetWindowProperty(d, root, check, 0, 1, False, AnyPropertyType, &type, &format, &items,
                                            &after, &data) == Success && items > 0;
    if (data) XFree(data);
    if (managed) {
        XEvent e = {};
        e.xclient.type = ClientMessage;
        e.xclient.window = wm.info.x11.wmwindow;
        e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1;  // add
        e.xclient.data.l[1] = long(XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False));
        e.xclient.data.l[3] = 1;  // from an application
        XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        XFlush(d);
    }
    wm.info.x11.unlock_func();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("loopmixer-projector %s\n", programVersion());
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: loopmixer-projector (started by loopmixer --projector WHERE, or F10)\n"
                    "Shows loopmixer's mixed picture on a monitor, a rectangle of the X screen or a window;\n"
                    "it exits when loopmixer does.\n"
                    "  --help, --version\n");
        return 0;
    }
    long parent = 0;
    const char* where = nullptr;
    bool monitor = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--parent") == 0) parent = std::strtol(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--place") == 0) where = argv[i + 1];
        else if (std::strcmp(argv[i], "--fill") == 0) monitor = std::strcmp(argv[i + 1], "monitor") == 0;
    }
    ProjectorPlace place;
    struct stat info;
    if (parent <= 0 || !where || !parseProjectorPlace(where, place) || place.kind == ProjectorPlace::OnMonitor ||
        fstat(ProjectorSegmentFd, &info) != 0 || size_t(info.st_size) < sizeof(ProjectorSegment)) {
        std::fprintf(stderr, "loopmixer-projector: started by loopmixer only (--projector WHERE)\n");
        return 2;
    }
    // The instrument's death ends the projector even if it is stuck somewhere: the signal only
    // sets a flag that the wait below sees.
    struct sigaction term = {};
    term.sa_handler = [](int) { parentGone = 1; };
    sigaction(SIGTERM, &term, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) return 0;
    void* map = mmap(nullptr, sizeof(ProjectorSegment), PROT_READ | PROT_WRITE, MAP_SHARED, ProjectorSegmentFd, 0);
    if (map == MAP_FAILED) return 1;
    segment = static_cast<ProjectorSegment*>(map);
    if (segment->magic != ProjectorMagic) return 1;
    Figures figures;
    figures.path = std::getenv("LOOPMIXER_PROJECTOR_STATS");

    const bool windowed = place.kind == ProjectorPlace::InWindow;
    int width = windowed ? 640 : place.width, height = windowed ? 480 : place.height;
    char position[32];
    std::snprintf(position, sizeof position, "%d,%d", place.x, place.y);
    if (!windowed) setenv("SDL_VIDEO_WINDOW_POS", position, 1);
    // Monitors and rectangles are the X screen's: without X the projector says so rather than
    // falling back to one of SDL's other drivers (one draws characters into the terminal).
    if (!std::getenv("SDL_VIDEODRIVER")) setenv("SDL_VIDEODRIVER", "x11", 1);
    // Set before SDL's own, which calls it after its cleanup: a display lost at any moment is told.
    XSetIOErrorHandler(displayLost);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        char text[ProjectorReasonChars];
        std::snprintf(text, sizeof text, "no display: %s", SDL_GetError());
        say(text);
        return 1;
    }
    const Uint32 flags = SDL_SWSURFACE | (windowed ? SDL_RESIZABLE : SDL_NOFRAME);
    SDL_Surface* screen = SDL_SetVideoMode(width, height, 32, flags);
    if (!screen) {
        char text[ProjectorReasonChars];
        std::snprintf(text, sizeof text, "no window: %s", SDL_GetError());
        say(text);
        SDL_Quit();
        return 1;
    }
    SDL_WM_SetCaption("loopmixer projector", "loopmixer projector");
    SDL_ShowCursor(SDL_DISABLE);
    int xfd = -1;
    SDL_SysWMinfo wm;
    SDL_VERSION(&wm.version);
    if (SDL_GetWMInfo(&wm) > 0 && wm.subsystem == SDL_SYSWM_X11) {
        xfd = ConnectionNumber(wm.info.x11.display);
        if (monitor) askForFullScreen(wm);
    }

    static uint16_t picture[ProjectorWidth * ProjectorHeight];
    ProjectorScaler scaler;
    uint32_t shownSequence = 0;
    bool redraw = true, retry = false;
    for (;;) {
        pollfd fds[2] = {{ProjectorWakeFd, POLLIN, 0}, {xfd, POLLIN, 0}};
        const int ready = poll(fds, xfd >= 0 ? 2 : 1, retry ? 1 : 250);
        if (parentGone) break;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            char bytes[256];
            const ssize_t n = read(ProjectorWakeFd, bytes, sizeof bytes);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;  // the instrument is gone
        }
        SDL_Event e;
        bool closed = false;
        while (SDL_PollEvent(&e)) {
            if (e.type == SDL_QUIT) closed = true;
            else if (e.type == SDL_VIDEORESIZE && windowed) {
                width = std::max(e.resize.w, 1);
                height = std::max(e.resize.h, 1);
                SDL_Surface* resized = SDL_SetVideoMode(width, height, 32, flags);
                if (resized) screen = resized;
                redraw = true;
            } else if (e.type == SDL_VIDEOEXPOSE) redraw = true;
        }
        if (closed) {
            say("its window was closed");
            break;
        }
        const uint32_t sequence = segment->sequence.load(std::memory_order_acquire);
        retry = false;
        if (sequence != shownSequence || redraw) {
            uint32_t frame = 0;
            int fit = 0, look = 0;
            if (!copyNewest(picture, frame, fit, look)) {
                retry = true;
                continue;
            }
            if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
            PixelShifts shifts;
            shifts.red = screen->format->Rshift;
            shifts.green = screen->format->Gshift;
            shifts.blue = screen->format->Bshift;
            scaler.scale(picture, static_cast<uint32_t*>(screen->pixels), screen->w, screen->h, screen->pitch / 4, fit,
                         look, shifts);
            if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
            SDL_UpdateRect(screen, 0, 0, 0, 0);
            if (frame != shownSequence / 2 && frame > 0) figures.noteShown(frame, monotonicUs());
            shownSequence = frame * 2;
            redraw = false;
        }
        if (figures.path) figures.match();
    }
    figures.write();
    SDL_Quit();
    return 0;
}
