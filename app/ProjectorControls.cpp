#include "app/ProjectorControls.h"

#include <iostream>

#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "mixer/Options.h"
#include "projector/ProjectorLink.h"
#include "projector/ProjectorPlace.h"
#include "projector/ProjectorScale.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

bool oscProjector(const OscArg* args, int32_t) {
    if (args[0].i != 0 && args[0].i != 1) return false;
    if (args[0].i == 1) openProjector();
    else closeProjector();
    return true;
}

OscArg projectorValue(int32_t) {
    OscArg a;
    a.i = projectorLink.isOpen() ? 1 : 0;
    return a;
}

int8_t projectorLevel = 0;  // the control's last side of the middle, so that a press acts once

void toggleProjector() {
    if (projectorLink.isOpen()) closeProjector();
    else openProjector();
}

void midiProjector(int32_t, int32_t value) {
    if (midiPressed(projectorLevel, value)) toggleProjector();
}

int32_t projectorState(int32_t) { return projectorLink.isOpen() ? 1 : 0; }

}  // namespace

bool checkProjectorLaunch(std::string& error) {
    if (launchOptions.projector.empty()) return true;
    ProjectorPlace place;
    parseProjectorPlace(launchOptions.projector.c_str(), place);
    bool noDisplay = false;
    // Without a display the main window's start says so (exit status 1).
    return resolveProjectorPlace(place, error, &noDisplay) || noDisplay;
}

void startProjector() {
    const int stale = ProjectorLink::removeStaleSegments();
    if (stale) std::cout << "projector: removed " << stale << " shared memory segment(s) left by a killed run" << std::endl;
    projectorLevel = 0;
    addOscAddress("/loopmixer/projector", "i", oscProjector);
    addOscFeedback("/loopmixer/projector", 'i', projectorValue);
    addMidiTarget("projector", midiProjector, projectorState);
    platform::setKeyAction(SDLK_F10, toggleProjector);
    if (launchOptions.projectorFit >= 0) options.projectorFit = launchOptions.projectorFit;
    if (launchOptions.projectorLook >= 0) options.projectorLook = launchOptions.projectorLook;
    if (!launchOptions.projector.empty()) openProjector();
}

void stopProjector() { closeProjector(); }

void openProjector() {
    if (projectorLink.isOpen()) return;
    ProjectorPlace place;
    std::string error;
    if (!launchOptions.projector.empty()) {
        parseProjectorPlace(launchOptions.projector.c_str(), place);
    } else {
        place.kind = ProjectorPlace::OnMonitor;
        place.monitor = 1;
        if (!resolveProjectorPlace(place, error)) place.kind = ProjectorPlace::InWindow;
    }
    if (!resolveProjectorPlace(place, error) || !projectorLink.open(place, error)) {
        if (error.rfind("projector", 0) != 0) error = "projector: " + error;
        std::cout << error << std::endl;
        postNotice(error.c_str());
        return;
    }
    std::cout << "projector opened: " << describeProjectorPlace(place) << " (" << projectorFitName(options.projectorFit)
              << ", " << projectorLookName(options.projectorLook) << ")" << std::endl;
}

void closeProjector() {
    if (!projectorLink.isOpen()) return;
    projectorLink.close();
    std::cout << "projector closed" << std::endl;
}

void projectorPicture(const uint16_t* pixels, int32_t pitch) {
    projectorLink.publish(pixels, pitch, options.projectorFit, options.projectorLook);
}

void projectorAfterPresent() {
    projectorLink.presented();
    std::string reason;
    if (!projectorLink.checkGone(reason)) return;
    const std::string text = "projector closed: " + reason;
    std::cout << text << std::endl;
    postNotice(text.c_str());
}
