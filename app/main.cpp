#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "app/CommandLine.h"
#include "app/MainLoop.h"
#include "app/ProjectorControls.h"
#include "core/Platform.h"
#include "core/RunFolder.h"
#include "core/Version.h"
#include "app/Startup.h"
#include "core/LaunchOptions.h"
#include "mixer/Random.h"

// rand() and SNOW and GLITCH's own copy of its generator are seeded once, with the same time,
// before anything else runs.
static const int randomSeeded = [] {
    const unsigned now = unsigned(time(nullptr));
    srand(now);
    seedRandom(now);
    return 1;
}();

int main(int argc, char** argv) {
    (void)randomSeeded;
    std::string error;
    if (!parseCommandLine(argc, argv, error)) {
        std::fprintf(stderr, "loopmixer: %s\n", error.c_str());
        return 2;
    }
    if (launchOptions.help) {
        std::fputs(commandLineUsage().c_str(), stdout);
        return 0;
    }
    if (launchOptions.version) {
        std::printf("loopmixer %s\n", programVersion());
        return 0;
    }
    // The run folder: this one when it holds data/, else the user's own, made from the default set.
    const std::string runFolder = runFolderFor(launchOptions.runFolder, error);
    if (runFolder.empty() || chdir(runFolder.c_str()) != 0) {
        std::fprintf(stderr, "loopmixer: %s\n", error.empty() ? ("cannot enter " + runFolder).c_str() : error.c_str());
        return 1;
    }
    // Ended from outside (SIGTERM, or Ctrl-C in a terminal): quit as the home menu does, so that a
    // recording is closed properly.
    struct sigaction term = {};
    term.sa_handler = [](int) { terminateRequested = 1; };
    sigaction(SIGTERM, &term, nullptr);
    sigaction(SIGINT, &term, nullptr);
    if (!checkRunFolder()) return 1;
    if (!checkProjectorLaunch(error)) {
        std::fprintf(stderr, "loopmixer: %s\n", error.c_str());
        return 2;
    }
    if (!startUp()) return 1;
    bool run = true;
    while (run) {
        if (!runFrame()) {
            run = false;
            break;
        }
        // Sleep instead of spinning until the next frame is due, waking every few milliseconds
        // to time the taps.
        if (uint32_t wait = msUntilNextFrame()) platform::delay(wait < TapReadMs ? wait : TapReadMs);
    }
    return shutDown();
}
