#include "core/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <unistd.h>

#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/TvOut.h"

namespace platform {
namespace {

SDL_Surface* window = nullptr;  // what SDL shows; the screen surface is scaled into it
int scale = 1;
int offsetX = 0, offsetY = 0;  // picture position inside a fullscreen window
bool fullscreen = false;
int desktopW = 0, desktopH = 0;
bool headless = false;
uint32_t pixelLut[65536];  // RGB565 -> window pixel

bool fakeClock = false;
constexpr uint32_t DefaultFakeMicrosPerReading = 1000000;
uint32_t fakeMicrosPerReading = DefaultFakeMicrosPerReading;
uint64_t fakeMicros = 0;
uint32_t fakeNow = 0;

SDL_Joystick* joystick = nullptr;
bool scriptedButton[10];
int16_t scriptedAxis[2];

// Keys bound to the console's controls. They never reach the program as keys.
struct Binding {
    SDLKey key;
    int button;  // joystick button number, or -1 for a stick direction
    int axis, sign;
};
const Binding bindings[] = {
    {SDLK_a, 0, 0, 0},       // A, left of the diamond
    {SDLK_s, 1, 0, 0},       // X, bottom
    {SDLK_d, 2, 0, 0},       // B, right
    {SDLK_w, 3, 0, 0},       // Y, top
    {SDLK_q, 4, 0, 0},       // L
    {SDLK_e, 5, 0, 0},       // R
    {SDLK_ESCAPE, 6, 0, 0},  // Home
    {SDLK_TAB, 8, 0, 0},     // I
    {SDLK_SPACE, 9, 0, 0},   // II
    {SDLK_UP, -1, 1, -1},
    {SDLK_DOWN, -1, 1, 1},
    {SDLK_LEFT, -1, 0, -1},
    {SDLK_RIGHT, -1, 0, 1},
};
bool keyDownNow[10];
bool keyLatched[10];  // went down since the last read: a tap between two frames still counts once
bool arrowDown[4];    // up, down, left, right
bool arrowLatched[4]; // went down since the last reading, like keyLatched

struct KeyAction {
    SDLKey key;
    void (*action)();
    bool down;  // key repeat sends more downs: the action runs once per press
};
KeyAction keyActions[8];
int keyActionCount = 0;

std::deque<SDL_Event> pending;  // events taken out of SDL's queue that the program still gets

void (*remotePoll)() = nullptr;
constexpr int RemoteInputs = 13;  // the Controller's logical inputs
bool remoteDown[RemoteInputs];
bool remoteLatched[RemoteInputs];
int remoteClipDown = 0;
int remoteClipLatched = 0;
constexpr size_t MaxInjected = 256;
std::deque<SDL_Event> injected;
int tvCalls = 0;
bool exitEnabled = true;

bool textEntry = false;
int wheelSteps = 0;  // mouse wheel steps since the last frame: negative up, positive down
int wheelX = 0, wheelY = 0;

const Binding* bindingFor(SDLKey key) {
    // While a name is typed, every key but the arrows types: the arrows still move the cursor.
    if (textEntry && key != SDLK_UP && key != SDLK_DOWN && key != SDLK_LEFT && key != SDLK_RIGHT) return nullptr;
    for (const Binding& b : bindings)
        if (b.key == key) return &b;
    return nullptr;
}

KeyAction* actionFor(SDLKey key) {
    for (int i = 0; i < keyActionCount; i++)
        if (keyActions[i].key == key) return &keyActions[i];
    return nullptr;
}

void (*shiftedKeys)(int number, bool ctrl) = nullptr;
bool shiftedDown[12];  // key repeat sends more downs: the handler runs once per press

// True when the event is Shift with a function key while a handler takes them (or the release of
// one that went down so): run on the way down, dropped either way.
bool takeShiftedKey(const SDL_Event& e) {
    const int sym = e.key.keysym.sym;
    if (!shiftedKeys || sym < SDLK_F1 || sym > SDLK_F12) return false;
    const int n = sym - SDLK_F1;
    if (e.type == SDL_KEYUP) {
        if (!shiftedDown[n]) return false;
        shiftedDown[n] = false;
        return true;
    }
    if (!(e.key.keysym.mod & KMOD_SHIFT)) return false;
    if (!shiftedDown[n]) shiftedKeys(n + 1, (e.key.keysym.mod & KMOD_CTRL) != 0);
    shiftedDown[n] = true;
    return true;
}

// True when the event is a key with an action: run on the way down, dropped either way.
bool takeKeyAction(const SDL_Event& e) {
    KeyAction* a = actionFor(e.key.keysym.sym);
    if (!a) return false;
    if (e.type == SDL_KEYDOWN && !a->down) a->action();
    a->down = e.type == SDL_KEYDOWN;
    return true;
}

void applyBinding(const Binding& b, bool down) {
    if (b.button >= 0) {
        keyDownNow[b.button] = down;
        if (down) keyLatched[b.button] = true;
        return;
    }
    int i = b.axis == 1 ? (b.sign < 0 ? 0 : 1) : (b.sign < 0 ? 2 : 3);
    arrowDown[i] = down;
    if (down) arrowLatched[i] = true;
}

void buildLut() {
    for (uint32_t p = 0; p < 65536; p++) {
        uint8_t r = ((p >> 11) & 31) * 255 / 31, g = ((p >> 5) & 63) * 255 / 63, b = (p & 31) * 255 / 31;
        pixelLut[p] = SDL_MapRGB(window->format, r, g, b);
    }
}

bool setMode(bool full) {
    int w = 320, h = 240;
    Uint32 flags = SDL_SWSURFACE;
    if (headless) {
        scale = 1;
    } else if (full && desktopW >= 320 && desktopH >= 240) {
        w = desktopW;
        h = desktopH;
        flags |= SDL_FULLSCREEN;
        scale = std::min(desktopW / 320, desktopH / 240);
    } else {
        // The largest whole factor that leaves room for the window frame and panels; 2x by default.
        scale = 2;
        if (desktopW > 0 && desktopH > 0) scale = std::max(1, std::min((desktopW - 40) / 320, (desktopH - 100) / 240));
        w = 320 * scale;
        h = 240 * scale;
    }
    SDL_Surface* s = SDL_SetVideoMode(w, h, headless ? 16 : 0, flags);
    if (!s) return false;
    window = s;
    fullscreen = (flags & SDL_FULLSCREEN) != 0;
    offsetX = (w - 320 * scale) / 2;
    offsetY = (h - 240 * scale) / 2;
    buildLut();
    return true;
}

int clampTo(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

}  // namespace

bool initVideo() {
    const char* asked = getenv("SDL_VIDEODRIVER");
    if (asked && *asked) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
        fprintf(stderr, "loopmixer: no display: the video driver %s did not start (%s)\n", asked, SDL_GetError());
        return false;
    }
    // SDL would fall back to drawing characters into the terminal; only real pictures are wanted.
    static const char* const drivers[] = {"x11", "dga", "fbcon", "directfb", "svgalib"};
    for (const char* d : drivers) {
        setenv("SDL_VIDEODRIVER", d, 1);
        const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        unsetenv("SDL_VIDEODRIVER");
        if (started) return true;
    }
    const char* display = getenv("DISPLAY");
    fprintf(stderr, "loopmixer: no display (%s%s); SDL_VIDEODRIVER=NAME picks another SDL video driver\n",
            display && *display ? "cannot open DISPLAY " : "DISPLAY is not set",
            display && *display ? display : "");
    return false;
}

bool openVideo() {
    const char* driver = getenv("SDL_VIDEODRIVER");
    headless = driver && strcmp(driver, "dummy") == 0;
    if (!headless) {
        const SDL_VideoInfo* info = SDL_GetVideoInfo();
        if (info) {
            desktopW = info->current_w;
            desktopH = info->current_h;
        }
    }
    if (!setMode(false)) {
        fprintf(stderr, "loopmixer: cannot open a %dx%d window: %s\n", 320 * scale, 240 * scale, SDL_GetError());
        return false;
    }
    if (!headless) SDL_WM_SetCaption("loopmixer", "loopmixer");
    // Over the frame buffers' screen memory, which the compositor writes without SDL; black at
    // every start, as a new surface would be.
    allocateFrameBuffers();
    std::memset(screenPixels, 0, FrameBytes);
    screenSurface = SDL_CreateRGBSurfaceFrom(screenPixels, FrameWidth, FrameHeight, 16, FrameWidth * 2, 0xF800, 0x07E0,
                                             0x001F, 0);
    if (!screenSurface) {
        fprintf(stderr, "loopmixer: cannot create the 320x240 picture: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

void closeVideo() {
    window = nullptr;
    pending.clear();
    injected.clear();
}

void toggleFullscreen() {
    if (headless) return;
    if (!setMode(!fullscreen)) setMode(false);
}

int windowScale() { return scale; }

uint32_t ticks() { return fakeClock ? fakeNow : SDL_GetTicks(); }

uint64_t microseconds() {
    if (fakeClock) return fakeMicros += fakeMicrosPerReading;
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000u + uint64_t(t.tv_nsec) / 1000u;
}

void delay(uint32_t ms) {
    if (fakeClock) fakeNow += ms;
    else SDL_Delay(ms);
}

void openJoystick() {
    joystick = SDL_NumJoysticks() > 0 ? SDL_JoystickOpen(0) : nullptr;
}

bool joystickOpen() { return joystick != nullptr; }

int64_t memoryAvailableMb() {
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return 0;
    char line[128];
    long long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "MemAvailable: %lld kB", &kb) == 1) break;
    std::fclose(f);
    return kb / 1024;
}

int16_t axis(int index) {
    bool held[4];
    for (int i = 0; i < 4; i++) held[i] = arrowDown[i] || arrowLatched[i];
    // Like button(): the read clears the latch, so that an arrow that went down and up anywhere
    // between two reads (while events are polled too) is pressed once.
    arrowLatched[index == 1 ? 0 : 2] = arrowLatched[index == 1 ? 1 : 3] = false;
    if (scriptedAxis[index]) return scriptedAxis[index];
    int keys = index == 1 ? (held[1] - held[0]) : (held[3] - held[2]);
    if (keys) return keys * 32767;
    return joystick ? SDL_JoystickGetAxis(joystick, index) : 0;
}

void pumpInput() {
    if (remotePoll) remotePoll();
    // Take the keyboard's bound keys out of the queue before the controls are read, so that a key
    // pressed since the last frame acts in this one.
    SDL_PumpEvents();
    SDL_Event e[64];
    int n;
    while ((n = SDL_PeepEvents(e, 64, SDL_GETEVENT, SDL_KEYDOWNMASK | SDL_KEYUPMASK)) > 0) {
        for (int i = 0; i < n; i++) {
            const Binding* b = bindingFor(e[i].key.keysym.sym);
            if (b) {
                applyBinding(*b, e[i].type == SDL_KEYDOWN);
                continue;
            }
            if (takeShiftedKey(e[i]) || takeKeyAction(e[i])) continue;
            if (e[i].type == SDL_KEYDOWN && (e[i].key.keysym.sym == SDLK_F11 ||
                                        (e[i].key.keysym.sym == SDLK_RETURN && (e[i].key.keysym.mod & KMOD_ALT)))) {
                toggleFullscreen();
            } else {
                pending.push_back(e[i]);
            }
        }
    }
}

uint8_t button(int index) {
    bool down = scriptedButton[index] || keyDownNow[index] || keyLatched[index];
    keyLatched[index] = false;
    if (joystick && index < SDL_JoystickNumButtons(joystick) && SDL_JoystickGetButton(joystick, index)) down = true;
    return down ? 1 : 0;
}

void setKeyAction(SDLKey key, void (*action)()) {
    for (int i = 0; i < keyActionCount; i++) {
        if (keyActions[i].key != key) continue;
        if (action) {
            keyActions[i].action = action;
        } else {
            keyActions[i] = keyActions[--keyActionCount];
        }
        return;
    }
    if (action && keyActionCount < int(sizeof keyActions / sizeof keyActions[0])) keyActions[keyActionCount++] = {key, action, false};
}

int takeWheelSteps(int32_t* x, int32_t* y) {
    *x = wheelX;
    *y = wheelY;
    const int steps = wheelSteps;
    wheelSteps = 0;
    return steps;
}

void setShiftedFunctionKeys(void (*handler)(int number, bool ctrl)) {
    shiftedKeys = handler;
    memset(shiftedDown, 0, sizeof shiftedDown);
}

bool keyActionHeld(SDLKey key) {
    const KeyAction* a = actionFor(key);
    return a && a->down;
}

int pollEvent(SDL_Event* event) {
    for (;;) {
        if (!pending.empty()) {
            *event = pending.front();
            pending.pop_front();
        } else if (!SDL_PollEvent(event)) {
            if (injected.empty()) return 0;
            *event = injected.front();
            injected.pop_front();
            return 1;
        }
        switch (event->type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (const Binding* b = bindingFor(event->key.keysym.sym)) {
                applyBinding(*b, event->type == SDL_KEYDOWN);
                continue;
            }
            if (takeShiftedKey(*event) || takeKeyAction(*event)) continue;
            if (event->type == SDL_KEYDOWN && event->key.keysym.sym == SDLK_F11) {
                toggleFullscreen();
                continue;
            }
            return 1;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            // SDL reports a wheel turn as buttons 4 and 5 going down and up: not a tap, a step of
            // the wheel (counted on the way down).
            if (event->button.button == SDL_BUTTON_WHEELUP || event->button.button == SDL_BUTTON_WHEELDOWN) {
                if (event->type == SDL_MOUSEBUTTONDOWN) {
                    wheelSteps += event->button.button == SDL_BUTTON_WHEELUP ? -1 : 1;
                    wheelX = clampTo((event->button.x - offsetX) / scale, 319);
                    wheelY = clampTo((event->button.y - offsetY) / scale, 239);
                }
                continue;
            }
            // A press on the black border around the picture (fullscreen) is not a touch; a
            // release there still ends one.
            if (event->type == SDL_MOUSEBUTTONDOWN &&
                (event->button.x < offsetX || event->button.x >= offsetX + 320 * scale ||
                 event->button.y < offsetY || event->button.y >= offsetY + 240 * scale))
                continue;
            event->button.x = clampTo((event->button.x - offsetX) / scale, 319);
            event->button.y = clampTo((event->button.y - offsetY) / scale, 239);
            return 1;
        case SDL_MOUSEMOTION:
            event->motion.x = clampTo((event->motion.x - offsetX) / scale, 319);
            event->motion.y = clampTo((event->motion.y - offsetY) / scale, 239);
            return 1;
        default:
            return 1;
        }
    }
}

void present() {
    if (!window || !screenSurface) return;
    if (headless) {
        SDL_BlitSurface(screenSurface, nullptr, window, nullptr);
        SDL_UpdateRect(window, 0, 0, 0, 0);
        return;
    }
    if (SDL_MUSTLOCK(window) && SDL_LockSurface(window) < 0) return;
    const int bpp = window->format->BytesPerPixel;
    const uint16_t* src = (const uint16_t*)screenSurface->pixels;
    for (int y = 0; y < 240; y++) {
        uint8_t* row = (uint8_t*)window->pixels + (offsetY + y * scale) * window->pitch + offsetX * bpp;
        const uint16_t* s = src + y * (screenSurface->pitch / 2);
        // Nearest-neighbour: one converted row, then copied down for the other scale - 1 rows.
        if (bpp == 4) {
            uint32_t* d = (uint32_t*)row;
            for (int x = 0; x < 320; x++) {
                uint32_t p = pixelLut[s[x]];
                for (int k = 0; k < scale; k++) *d++ = p;
            }
        } else if (bpp == 2) {
            uint16_t* d = (uint16_t*)row;
            for (int x = 0; x < 320; x++) {
                uint16_t p = (uint16_t)pixelLut[s[x]];
                for (int k = 0; k < scale; k++) *d++ = p;
            }
        } else {
            for (int x = 0; x < 320; x++) {
                uint32_t p = pixelLut[s[x]];
                for (int k = 0; k < scale; k++) memcpy(row + (x * scale + k) * bpp, &p, bpp);
            }
        }
        for (int k = 1; k < scale; k++) memcpy(row + k * window->pitch, row, 320 * scale * bpp);
    }
    if (SDL_MUSTLOCK(window)) SDL_UnlockSurface(window);
    SDL_UpdateRect(window, 0, 0, 0, 0);
}

int tvConfig(TvConfigRecord* record) {
    // Only the console's own SDL switches the output; here the request is counted for the tests.
    (void)record;
    tvCalls++;
    return 0;
}

bool exitToMenu() {
    if (!exitEnabled) return false;
    // Never run a program of that name from whatever folder happens to be current.
    if (chdir("/usr/gp2x") != 0) return false;
    if (system("./gpid.gpu &") == -1) { /* the companion is optional */ }
    execlp("/usr/gp2x/gp2xmenu", "/usr/gp2x/gp2xmenu", "--disable-autorun", (char*)nullptr);
    return true;
}

void setRemotePoll(void (*poll)()) { remotePoll = poll; }

void setRemoteInput(int input, bool down) {
    if (input < 0 || input >= RemoteInputs) return;
    remoteDown[input] = down;
    if (down) remoteLatched[input] = true;
}

bool remoteInput(int input) {
    if (input < 0 || input >= RemoteInputs) return false;
    const bool down = remoteDown[input] || remoteLatched[input];
    remoteLatched[input] = false;
    return down;
}

void setRemoteClip(int clip, bool down) {
    if (clip < 1 || clip > 16) return;
    if (down) remoteClipDown = remoteClipLatched = clip;
    else if (remoteClipDown == clip) remoteClipDown = 0;
}

int remoteClip() {
    const int clip = remoteClipDown ? remoteClipDown : remoteClipLatched;
    remoteClipLatched = 0;
    return clip;
}

void injectEvent(const SDL_Event& event) {
    if (injected.size() < MaxInjected) injected.push_back(event);
}


void useFakeClock(bool on) {
    fakeClock = on;
    fakeNow = 0;
    fakeMicros = 0;
    fakeMicrosPerReading = DefaultFakeMicrosPerReading;
}
void setFakeMicrosPerReading(uint32_t us) { fakeMicrosPerReading = us; }

void setTextEntry(bool on) {
    if (on == textEntry) return;
    textEntry = on;
    // Keys that were down as console buttons must not stay down once they type.
    memset(keyDownNow, 0, sizeof keyDownNow);
}
void setTicks(uint32_t ms) { fakeNow = ms; }
void setScriptedButton(int index, bool down) { scriptedButton[index] = down; }
void setScriptedAxis(int index, int16_t value) { scriptedAxis[index] = value; }
void clearScriptedInput() {
    memset(scriptedButton, 0, sizeof scriptedButton);
    memset(scriptedAxis, 0, sizeof scriptedAxis);
    memset(keyDownNow, 0, sizeof keyDownNow);
    memset(keyLatched, 0, sizeof keyLatched);
    memset(arrowDown, 0, sizeof arrowDown);
    for (int i = 0; i < keyActionCount; i++) keyActions[i].down = false;
    memset(shiftedDown, 0, sizeof shiftedDown);
    memset(remoteDown, 0, sizeof remoteDown);
    memset(remoteLatched, 0, sizeof remoteLatched);
    remoteClipDown = remoteClipLatched = 0;
    memset(arrowLatched, 0, sizeof arrowLatched);
    pending.clear();
    injected.clear();
    textEntry = false;
    tvCalls = 0;
}
int tvConfigCalls() { return tvCalls; }
void setExitToMenuEnabled(bool on) { exitEnabled = on; }

}  // namespace platform
