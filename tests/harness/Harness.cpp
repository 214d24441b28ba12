#include "harness/Harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/AppState.h"
#include "app/MainLoop.h"
#include "core/Platform.h"
#include "app/Startup.h"
#include "draw/PngWriter.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/Random.h"

std::string builtRunDir() { return LOOPMIXER_RUN_DIR; }

static void copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return;
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// The joystick button or stick direction behind each logical input.
static void applyInput(Input input, bool down) {
    static const int buttonOf[] = {0, 1, 2, 3, 4, 5, 6, 8, 9};
    if (input <= ButtonII) {
        platform::setScriptedButton(buttonOf[input], down);
        return;
    }
    switch (input) {
    case StickUp: platform::setScriptedAxis(1, down ? -32767 : 0); break;
    case StickDown: platform::setScriptedAxis(1, down ? 32767 : 0); break;
    case StickLeft: platform::setScriptedAxis(0, down ? -32767 : 0); break;
    case StickRight: platform::setScriptedAxis(0, down ? 32767 : 0); break;
    default: break;
    }
}

Harness::Harness(const HarnessOptions& o) {
    previousDir = currentDirectory();
    char pattern[] = "/tmp/loopmixer-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    dir = made ? made : "/tmp";
    mkdir((dir + "/data").c_str(), 0755);
    mkdir((dir + "/videos").c_str(), 0755);
    const std::string run = builtRunDir();
    if (o.pictures) {
        for (const char* f : {"textureUI.png", "home.png", "logo-tarnobelli.png", "abxy.png", "volter"})
            copyFile(run + "/data/" + f, dir + "/data/" + f);
    }
    if (o.demoClips) {
        std::string cmd = "cp -R '" + run + "/videos/.' '" + dir + "/videos/' 2>/dev/null";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot copy the demo clips";
        if (o.playlistsXml.empty()) copyFile(run + "/data/playlists.xml", dir + "/data/playlists.xml");
    }
    if (!o.playlistsXml.empty()) writeFile("data/playlists.xml", o.playlistsXml);
    if (!o.prefsXml.empty()) writeFile("data/prefs.xml", o.prefsXml);
    if (!o.gloveXml.empty()) writeFile("data/glove.xml", o.gloveXml);
    if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    srand(o.seed);
    seedRandom(o.seed);  // SNOW and GLITCH draw from their own copy of the generator
    platform::useFakeClock(true);
    platform::clearScriptedInput();
    platform::setExitToMenuEnabled(false);
    if (o.start) startUp();
}

bool Harness::startUp() {
    started = ::startUp();
    return started;
}

Harness::~Harness() {
    if (started) tearDownForTests();
    platform::clearScriptedInput();
    platform::useFakeClock(false);
    if (chdir(previousDir.c_str()) != 0) { /* the folder is gone; nothing to return to */ }
    if (!getenv("LOOPMIXER_KEEP_TEST_DIRS")) {
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) { /* leave it for /tmp's cleaner */ }
    }
}

void Harness::setDown(Input input, bool down) { applyInput(input, down); }

void Harness::tap(Input input) {
    applyInput(input, true);
    tapped.push_back(input);
}

void Harness::setAxis(int axis, int16_t value) { platform::setScriptedAxis(axis, value); }

static void pushMouse(Uint8 type, int x, int y) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion.x = Uint16(x);
        e.motion.y = Uint16(y);
        e.motion.state = SDL_BUTTON(1);
    } else {
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = Uint16(x);
        e.button.y = Uint16(y);
    }
    SDL_PushEvent(&e);
}

// The stylus goes up where it last was, as a real one does.
void Harness::touchDown(int x, int y) {
    stylusX = x;
    stylusY = y;
    pushMouse(SDL_MOUSEBUTTONDOWN, x, y);
}
void Harness::touchMove(int x, int y) {
    stylusX = x;
    stylusY = y;
    pushMouse(SDL_MOUSEMOTION, x, y);
}
void Harness::touchUp() { pushMouse(SDL_MOUSEBUTTONUP, stylusX, stylusY); }
void Harness::wheel(int x, int y, int steps) {
    for (int i = 0; i < (steps < 0 ? -steps : steps); i++)
        for (Uint8 type : {Uint8(SDL_MOUSEBUTTONDOWN), Uint8(SDL_MOUSEBUTTONUP)}) {
            SDL_Event e;
            memset(&e, 0, sizeof e);
            e.type = type;
            e.button.button = steps < 0 ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN;
            e.button.x = Uint16(x);
            e.button.y = Uint16(y);
            SDL_PushEvent(&e);
        }
}

static void pushKey(Uint8 type, int sym, int unicode = 0) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = SDLKey(sym);
    e.key.keysym.unicode = Uint16(unicode);
    SDL_PushEvent(&e);
}

void Harness::keyDown(int sym) { pushKey(SDL_KEYDOWN, sym); }
void Harness::type(const std::string& text) {
    for (unsigned char ch : text) {
        // Upper case comes from shifted lower-case keys, as on a real keyboard.
        const int sym = ch == '\b' ? SDLK_BACKSPACE : ch == '\r' ? SDLK_RETURN : ch == 27 ? SDLK_ESCAPE : std::tolower(ch);
        pushKey(SDL_KEYDOWN, sym, ch >= 32 ? ch : 0);
        pushKey(SDL_KEYUP, sym);
    }
}

void Harness::keyUp(int sym) { pushKey(SDL_KEYUP, sym); }

void Harness::quit() {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}

void Harness::loadFirstPlaylist() {
    appState.screen = Screen::Mix;
    appState.mixView = ChoosingPlaylist;
    frame();
    tap(ButtonB);
    frame();
    for (int i = 0; i < 400 && mix.loadPosition < mix.playlists[mix.loadingPlaylist].trackCount; i++) frame();
}

int Harness::frame(int n) {
    int r = running;
    for (int i = 0; i < n; i++) {
        const int64_t before = framesRun;
        uint32_t wait = msUntilNextFrame();
        platform::setTicks(platform::ticks() + (wait ? wait : 1));
        r = runFrame();
        if (framesRun == before) ADD_FAILURE() << "the frame did not run";
        for (Input in : tapped) applyInput(in, false);
        tapped.clear();
    }
    return r;
}

int Harness::callAfter(uint32_t ms) {
    platform::setTicks(platform::ticks() + ms);
    return runFrame();
}

uint16_t Harness::pixel(int x, int y) const {
    if (!screenSurface || x < 0 || y < 0 || x >= 320 || y >= 240) return 0;
    return ((const uint16_t*)screenSurface->pixels)[y * (screenSurface->pitch / 2) + x];
}

uint32_t Harness::screenChecksum() const {
    // FNV-1a over the 320x240 pixels.
    uint32_t h = 2166136261u;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            uint16_t p = pixel(x, y);
            h = (h ^ (p & 0xFF)) * 16777619u;
            h = (h ^ (p >> 8)) * 16777619u;
        }
    return h;
}

bool Harness::savePng(const std::string& path) const {
    if (!screenSurface) return false;
    return writePng565(path, (const uint16_t*)screenSurface->pixels, 320, 240, screenSurface->pitch / 2);
}

std::string Harness::readFile(const std::string& relativePath) const {
    std::ifstream in(dir + "/" + relativePath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Harness::log() const {
    std::cout.flush();
    return readFile("data/log.txt");
}

void Harness::writeFile(const std::string& relativePath, const std::string& content) const {
    std::ofstream out(dir + "/" + relativePath, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string playlistsXml(const std::vector<std::pair<std::string, std::vector<std::string>>>& lists) {
    std::string s = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    for (const auto& l : lists) {
        s += "\t<playlist>\n\t\t<name>" + l.first + "</name>\n";
        for (const std::string& f : l.second) s += "\t\t<track>" + f + "</track>\n";
        s += "\t</playlist>\n";
    }
    return s + "</all>\n";
}

int freeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}
