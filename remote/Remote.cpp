#include "remote/Remote.h"

#include <iostream>

#include "core/AppState.h"
#include "core/Platform.h"
#include "core/Notice.h"
#include "library/SafeSave.h"
#include "mixer/Options.h"
#include "remote/BuiltinControls.h"
#include "remote/LearnPage.h"
#include "remote/MidiMap.h"
#include "remote/MidiPorts.h"
#include "remote/OscAddresses.h"
#include "remote/OscPort.h"
#include "remote/RemoteSettings.h"
#include "remote/SoundFollow.h"

namespace {

const char* const SettingsFile = "data/remote.xml";
const char* const MapFile = "data/midimap.xml";

void handleMidi(const MidiEvent& event) {
    // Learning happens only while the learn page is shown; leaving it drops a target left waiting.
    if (appState.screen != Screen::Options || options.view != LearnView) midiMap.learnTarget = -1;
    midiMap.handle(event);
}

void pollRemote() {
    pollOscPort();
    pollMidiPorts(platform::ticks(), handleMidi);
    pollSound(platform::ticks());
}

}  // namespace

void openRemote() {
    closeRemote();
    registerBuiltinControls();
    registerSoundControls();
    resetOscWarnings();

    RemoteSettings settings;
    const bool hadFile = settings.load(SettingsFile);
    settings.applyLaunchOptions();
    const bool used = settings.midi || settings.oscPort > 0 || settings.audio;
    // The file is written on the first run that uses a controller, so that it can be found and edited.
    int error = 0;
    if (!hadFile && used && !saveFileSafely(SettingsFile, RemoteSettings().content(), &error))
        postNotice(("can't save remote settings: " + saveFailureReason(error)).c_str());
    if (!used) return;

    if (settings.oscPort > 0 && openOscPort(settings.oscHost, settings.oscPort))
        for (const std::string& target : settings.feedback) addOscFeedbackTarget(target);

    if (settings.midi) {
        midiMap.path = MapFile;
        if (!midiMap.load(MapFile)) {
            midiMap.setDefaults();
            midiMap.save();
        }
        if (openMidiPorts(settings.midiApi, settings.connect)) installLearnPage();
    }
    if (settings.audio) openSound(settings.audioConnect, settings.sound);
    platform::setRemotePoll(pollRemote);
}

void closeRemote() {
    platform::setRemotePoll(nullptr);
    closeOscPort();
    clearOscFeedbackTargets();
    closeSound();
    closeMidiPorts();
    removeLearnPage();
    midiMap.learnTarget = -1;
}

void sendRemoteFeedback() {
    sendOscFeedbackNow();
    if (midiPortsOpen()) midiMap.sendLights(midiOutputsJustOpened(), sendMidi);
}

bool remoteMidiOn() { return midiPortsOpen(); }

void injectMidi(const unsigned char* bytes, unsigned count) {
    static MidiParser parser;
    parser.feed(bytes, count, 0.0, platform::ticks(), handleMidi);
}
