// loopmixer-screens OUTDIR — a performer's short session on the default set (the build's run
// folder), played headless with scripted controls; every screen it passes is written as a PNG.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/AppState.h"
#include "core/Controller.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Options.h"

namespace {

std::string outDir;
int written = 0, failed = 0;

void shot(Harness& h, const char* name) {
    const std::string path = outDir + "/" + name + ".png";
    if (h.savePng(path)) {
        printf("%s\n", path.c_str());
        written++;
    } else {
        fprintf(stderr, "loopmixer-screens: cannot write %s\n", path.c_str());
        failed++;
    }
}

void touch(Harness& h, int x, int y) {
    h.touchDown(x, y);
    h.frame();
    h.touchUp();
    h.frame();
}

// Drags a filter from the options list onto a slot button of the face-button picture.
void dragFilter(Harness& h, int filter, int x, int y) {
    h.touchDown(200, 25 + 10 * filter + 4);
    h.frame();
    h.touchMove(x, y);
    h.frame();
    h.touchUp();
    h.frame();
}

void tapAndRun(Harness& h, Input input, int frames = 1) {
    h.tap(input);
    h.frame(frames);
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    std::string s = std::string(cwd ? cwd : ".") + "/" + path;
    free(cwd);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: loopmixer-screens OUTDIR\n");
        return 2;
    }
    outDir = absolute(argv[1]);
    mkdir(outDir.c_str(), 0755);

    HarnessOptions o;
    o.demoClips = true;
    Harness h(o);
    if (!h.started) {
        fprintf(stderr, "loopmixer-screens: the program did not start (no video driver?)\n");
        return 1;
    }

    // The splash halfway: its countdown at 20 shows the logo unchanged.
    h.frame(20);
    shot(h, "01-splash");
    while (appState.screen == Screen::Splash) h.frame();
    h.frame();
    shot(h, "02-home");

    // Options: two filters on the face buttons, then the glove keys in mode B.
    touch(h, 50, 160);
    dragFilter(h, 1, 64, 30);  // MIRROR on the top button
    dragFilter(h, 6, 96, 64);  // HUE on the right button
    dragFilter(h, 3, 30, 64);  // INVERT on the left button
    h.touchDown(200, 25 + 10 * 8 + 4);  // GLITCH picked up, on its way to the bottom button
    h.frame();
    h.touchMove(90, 120);
    h.frame();
    shot(h, "08-options-filters");
    h.touchMove(64, 96);
    h.frame();
    h.touchUp();
    h.frame();
    h.setDown(ButtonL, true);
    h.frame();
    h.tap(ButtonR);
    h.frame();
    h.setDown(ButtonL, false);
    h.frame();
    touch(h, 30, 228);
    shot(h, "09-options-keys");
    touch(h, 60, 20 + 13 * 2 + 4);
    shot(h, "10-options-waiting");
    h.keyDown(SDLK_k);
    h.frame();
    h.keyUp(SDLK_k);
    h.frame();
    tapAndRun(h, ButtonX);
    // Back in mode A for the performance shots.
    touch(h, 50, 160);
    touch(h, 290, 197);
    tapAndRun(h, ButtonX, 2);

    touch(h, 150, 170);
    shot(h, "11-video-out");
    tapAndRun(h, ButtonX, 2);

    // EDIT: the first playlist marked, then the keyboard renaming it.
    touch(h, 250, 50);
    touch(h, 40, 24);
    shot(h, "12-editor");
    touch(h, 210, 226);
    shot(h, "13-editor-keyboard");
    h.type("\x1b");
    h.frame();
    tapAndRun(h, ButtonX, 2);

    // MIX: load the first playlist and let it arrive, deck 1 on the second clip.
    touch(h, 150, 60);
    tapAndRun(h, ButtonB);
    for (int i = 0; i < 3000 && mix.loading; i++) h.frame();
    tapAndRun(h, StickRight, 12);
    tapAndRun(h, ButtonHome, 2);
    shot(h, "03-chooser");
    tapAndRun(h, ButtonHome, 2);

    tapAndRun(h, ButtonI, 3);
    shot(h, "04-overlay-decks");
    h.setDown(ButtonL, true);
    h.frame(2);
    h.touchDown(150, 80);  // "blend"
    h.frame();
    h.touchUp();
    h.frame();
    shot(h, "05-overlay-blend-page");
    h.setDown(ButtonL, false);
    h.setDown(ButtonR, true);
    h.frame(2);
    shot(h, "06-overlay-effects-page");
    h.setDown(ButtonR, false);
    h.frame();
    tapAndRun(h, ButtonI, 8);
    shot(h, "07-blend");

    printf("%d pictures written to %s\n", written, outDir.c_str());
    return failed ? 1 : 0;
}
