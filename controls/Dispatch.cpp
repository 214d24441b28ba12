// The dispatch from the controller to the current screen's input handler: the ground holds what was
// pressed, the controls decide what it does.
#include "controls/Screens.h"
#include "library/Mix.h"
#include "core/AppState.h"
#include "core/Controller.h"

namespace {

bool choosingPlaylist() { return appState.screen == Screen::Mix && appState.mixView == ChoosingPlaylist; }

}  // namespace

void Controller::dispatch() {
    const int32_t screenBefore = appState.screen;
    const bool choosingBefore = choosingPlaylist();
    switch (appState.screen) {
    case Screen::Home: handleHome(); break;
    case Screen::Editor: handleEditor(); break;
    case Screen::Mix:
        if (appState.mixView == Performing) {
            if (appState.mode == ModeA) handleModeA();
            else if (appState.mode == ModeB) handleModeB();
        } else if (appState.mixView == ChoosingPlaylist) {
            handleChooser();
        }
        break;
    case Screen::Options: handleOptions(); break;
    case Screen::VideoOut: handleVideoOut(); break;
    default: break;  // the splash takes no input
    }
    // The home menu and the chooser show the library as it is on disk now (the editor reads it
    // again as it opens, before its lists are laid out).
    if ((appState.screen == Screen::Home && screenBefore != Screen::Home) || (choosingPlaylist() && !choosingBefore))
        mix.reloadIfChanged();
}
