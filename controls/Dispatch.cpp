// The dispatch from the controller to the current screen's input handler: the ground holds what was
// pressed, the controls decide what it does.
#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"

void Controller::dispatch() {
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
}
