#include "app/Startup.h"

#include <SDL/SDL_ttf.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "core/TvOut.h"
#include "core/Controller.h"
#include "controls/Screens.h"
#include "draw/Colours.h"
#include "draw/HintLine.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "memories/Memories.h"
#include "memories/MemoriesPage.h"
#include "live/LiveInput.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "app/RemoteRecording.h"
#include "app/ProjectorControls.h"
#include "record/Recorder.h"
#include "remote/Remote.h"
#include "tempo/TempoClock.h"
#include "remote/TempoControls.h"
#include "remote/MemoryControls.h"
#include "tracks/Track.h"
#include "web/WebSurface.h"

static std::ofstream logStream;
static std::streambuf* realCout = nullptr;

static void reportJoysticks() {
    int count = SDL_NumJoysticks();
    std::cout << "SDL_NumJoysticks() " << count << std::endl;
    printf("%i joysticks were found.\n\n", count);
    puts("The names of the joysticks are:");
    for (int i = 0; i < SDL_NumJoysticks(); i++) {
        // A joystick SDL cannot name would put the log stream into its failed state for good.
        const char* name = SDL_JoystickName(i);
        if (!name) name = "(unnamed joystick)";
        printf("    %s\n", name);
        std::cout << name << std::endl;
    }
}

bool checkRunFolder() {
    static const char* const needed[] = {"textureUI.png", "home.png", "logo-tarnobelli.png", "abxy.png", "volter"};
    const std::string here = currentDirectory();
    struct stat info;
    if (stat("data", &info) != 0 || !S_ISDIR(info.st_mode)) {
        fprintf(stderr,
                "loopmixer: no data folder in %s: the program needs data/ with textureUI.png, home.png, "
                "logo-tarnobelli.png, abxy.png and the font volter (start it in the folder that holds "
                "data/ and videos/)\n",
                here.c_str());
        return false;
    }
    std::string missing;
    for (const char* name : needed) {
        if (access((std::string("data/") + name).c_str(), R_OK) == 0) continue;
        missing += missing.empty() ? "" : ", ";
        missing += name;
    }
    if (missing.empty()) return true;
    fprintf(stderr, "loopmixer: missing in %s/data: %s (the pictures and the font the program draws with)\n",
            here.c_str(), missing.c_str());
    return false;
}

bool startUp() {
    // A file-size limit (ulimit -f) would end the whole program at the first write past it: the
    // write fails with EFBIG instead, and every save and the recording report it as a full disk.
    signal(SIGXFSZ, SIG_IGN);
    // The log: every line written to std::cout lands in data/log.txt, truncated at each start.
    if (logStream.is_open()) logStream.close();
    logStream.clear();
    logStream.open("data/log.txt", std::ios::out | std::ios::trunc);
    if (!realCout) realCout = std::cout.rdbuf();
    std::cout.rdbuf(logStream.rdbuf());
    std::cout.clear();
    if (!logStream.is_open()) std::cout.setstate(std::ios::failbit);
    std::cout << "start\n" << std::endl;

    setUiColours();
    allocateFrameBuffers();

    if (SDL_Init(SDL_INIT_JOYSTICK) < 0 || !platform::initVideo()) return false;
    if (!platform::openVideo()) return false;
    SDL_EnableUNICODE(1);
    SDL_EnableKeyRepeat(500, 30);
    platform::openJoystick();
    reportJoysticks();

    uiTexture = loadPicture("data/textureUI.png");
    if (!TTF_WasInit()) TTF_Init();
    openFonts();
    createWorkSurface();

    appState.init();
    for (Track& t : tracks) t.clear();
    controller.clear();
    homeScreen.init();
    resetHints();
    decks = Decks();
    decks.resetDecks();
    queuedTrack = 0;
    // Cleared before the playlists are read: reading them can post a notice.
    notice = Notice();
    mix.init();
    startLiveInput();  // the run's "Live" playlist is listed with the file's
    mix.loadXML();
    mix.scanPlaylists();
    chooserSelection = mix.loadingPlaylist;
    effectTable.clearEffects();
    tempoClock = TempoClock();  // before the settings, which hold the last tempo
    beatLock = BeatLock();
    options.initOptions();
    memories.init(mix.startDir);
    videoOutScreen.init();
    splashScreen.init();

    // After the notice is cleared: a controller that cannot be opened says so on screen.
    registerRecordingControls();
    startProjector();
    openRemote();
    registerTempoControls();
    registerMemoryControls();
    installMemoriesPage();
    openWebSurface();
    appState.screen = Screen::Splash;
    lastFrameTick = currentTick = measuredFps = 0;
    running = 1;

    // F9 starts and stops recording; --record starts it now, so that the whole session is kept.
    platform::setKeyAction(SDLK_F9, [] { recorder.toggle(); });
    // A tap is stamped when its key is read, between frames too, not when the frame runs.
    platform::setKeyAction(platform::TapKey, [] { tempoClock.tap(platform::ticks()); });
    // Shift+F1 ... F12 recall memories 1-12, with Ctrl as well they store.
    platform::setShiftedFunctionKeys([](int number, bool ctrl) {
        if (ctrl) memories.store(number);
        else memories.recall(number, platform::ticks());
    });
    // Under the next free name, as every later start: an earlier run's recording stays.
    if (!launchOptions.recordTarget.empty()) recorder.toggle();
    return true;
}

int shutDown() {
    recorder.finish();
    stopProjector();
    stopLiveInput();
    puts("\nend!");
    closeWebSurface();
    closeRemote();
    if (appState.tvOut != Lcd) tvToLcd();
    SDL_FreeSurface(screenSurface);
    screenSurface = nullptr;
    const bool attempted = platform::exitToMenu();
    // Still here: on the desktop there is no console menu to return to, and quitting is the normal
    // end of a run; on the console, the menu failed to start.
    std::cout.flush();
    logStream.close();
    return attempted ? 1 : 0;
}

void tearDownForTests() {
    recorder.finish();
    stopProjector();
    closeWebSurface();
    stopLiveInput();
    closeRemote();
    for (Track& t : tracks) t.clear();
    if (mix.preview) {
        mix.preview->clear();
        delete mix.preview;
        mix.preview = nullptr;
    }
    SDL_FreeSurface(uiTexture);
    uiTexture = nullptr;
    SDL_FreeSurface(homeScreen.background);
    homeScreen.background = nullptr;
    SDL_FreeSurface(splashScreen.logo);
    splashScreen.logo = nullptr;
    SDL_FreeSurface(options.abxyImage);
    options.abxyImage = nullptr;
    SDL_FreeSurface(videoOutScreen.buttons);
    videoOutScreen.buttons = nullptr;
    for (TTF_Font*& f : uiFonts) {
        if (f) TTF_CloseFont(f);
        f = nullptr;
    }
    SDL_FreeSurface(workSurface);
    workSurface = nullptr;
    SDL_FreeSurface(screenSurface);
    screenSurface = nullptr;
    platform::closeVideo();
    TTF_Quit();
    SDL_Quit();
    std::cout.flush();
    if (realCout) std::cout.rdbuf(realCout);
    std::cout.clear();
    logStream.close();
}
