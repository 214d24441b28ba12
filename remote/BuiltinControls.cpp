#include "remote/BuiltinControls.h"

#include <SDL/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "core/Platform.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "remote/OscPort.h"
#include "tracks/Track.h"

namespace {

// The console's controls by their OSC and learn names.
const struct {
    const char* name;
    Input input;
} buttons[] = {
    {"up", StickUp}, {"down", StickDown}, {"left", StickLeft}, {"right", StickRight},
    {"a", ButtonA},  {"b", ButtonB},      {"x", ButtonX},      {"y", ButtonY},
    {"l", ButtonL},  {"r", ButtonR},      {"home", ButtonHome}, {"i", ButtonI},
    {"ii", ButtonII},
};

constexpr int EffectSlots = 8;
constexpr int ClipPads = 16;

bool validBlend(int32_t id) { return (id >= 0 && id <= 4) || id == 6; }

void setFadeLevel(int32_t level) {
    decks.fade = level;
    decks.fadeRest = level;
}

void setTrack(int32_t deck, int32_t track) {
    Deck& d = decks.decks[deck];
    d.track = track;
    tracks[track].invalidate();
    d.position = 0;
}

void setBlend(int32_t id) {
    tracks[decks.decks[0].track].invalidate();
    tracks[decks.decks[1].track].invalidate();
    decks.blendMode = id;
}

EffectSlot& slotOf(int32_t k) { return effectTable.slots[decks.selectedDeck][k]; }

// --- OSC ----------------------------------------------------------------------------------------

bool oscButton(const OscArg* a, int32_t input) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    platform::setRemoteInput(input, a[0].i == 1);
    return true;
}

bool oscKey(const OscArg* a, int32_t) {
    if (a[0].i <= 0 || a[0].i >= SDLK_LAST || (a[1].i != 0 && a[1].i != 1)) return false;
    SDL_Event e = {};
    e.type = a[1].i ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = a[1].i ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = SDLKey(a[0].i);
    platform::injectEvent(e);
    return true;
}

bool stylusDown = false;

bool oscTouch(const OscArg* a, int32_t) {
    // An XY pad sends fractions: the nearest pixel.
    if (!(a[0].f > -0.5f && a[0].f < 319.5f && a[1].f > -0.5f && a[1].f < 239.5f)) return false;
    const long x = std::lround(a[0].f), y = std::lround(a[1].f);
    SDL_Event e = {};
    if (stylusDown) {
        e.type = SDL_MOUSEMOTION;
        e.motion.x = Uint16(x);
        e.motion.y = Uint16(y);
    } else {
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.x = Uint16(x);
        e.button.y = Uint16(y);
        stylusDown = true;
    }
    platform::injectEvent(e);
    return true;
}

bool oscRelease(const OscArg* a, int32_t) {
    if (!a[0].i || !stylusDown) return true;
    SDL_Event e = {};
    e.type = SDL_MOUSEBUTTONUP;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = Uint16(controller.touchX);
    e.button.y = Uint16(controller.touchY);
    platform::injectEvent(e);
    stylusDown = false;
    return true;
}

bool oscFade(const OscArg* a, int32_t) {
    if (!(a[0].f >= 0.0f && a[0].f <= 1.0f)) return false;
    setFadeLevel(int32_t(std::lround(a[0].f * 15.0f)));
    return true;
}

bool oscFlash(const OscArg* a, int32_t) {
    if (a[0].i) decks.flash = 15;
    return true;
}

bool oscBlend(const OscArg* a, int32_t) {
    if (!validBlend(a[0].i)) return false;
    setBlend(a[0].i);
    return true;
}

bool oscSlot(const OscArg* a, int32_t k) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    slotOf(k).on = a[0].i;
    return true;
}

bool oscSlotValue(const OscArg* a, int32_t k) {
    if (a[0].i < 0 || a[0].i > 3) return false;
    slotOf(k).value = a[0].i;
    return true;
}

bool oscDeckTrack(const OscArg* a, int32_t deck) {
    if (a[0].i < 0 || a[0].i >= decks.trackCount) return false;
    setTrack(deck, a[0].i);
    return true;
}

bool oscClip(const OscArg* a, int32_t) {
    if (a[0].i < 1 || a[0].i > ClipPads) return false;
    // A tap: it acts in the next frame, and a message has no release.
    platform::setRemoteClip(a[0].i, true);
    platform::setRemoteClip(a[0].i, false);
    return true;
}

bool oscRefresh(const OscArg*, int32_t) {
    requestOscRefresh();
    return true;
}

bool oscPlaylist(const OscArg* a, int32_t) {
    if (a[0].i < 0 || a[0].i >= mix.playlistCount || a[0].i >= MaxPlaylists) return false;
    loadChosenPlaylist(a[0].i);
    return true;
}

// --- MIDI targets -------------------------------------------------------------------------------

int8_t slotLevel[EffectSlots];
int8_t flashLevel, waitLevel;

void midiButton(int32_t input, int32_t value) { platform::setRemoteInput(input, value >= 64); }
void midiFade(int32_t, int32_t value) { setFadeLevel((value * 15 + 63) / 127); }
void midiFlash(int32_t, int32_t value) {
    if (midiPressed(flashLevel, value)) decks.flash = 15;
}
void midiSlot(int32_t k, int32_t value) {
    if (midiPressed(slotLevel[k], value)) slotOf(k).on = slotOf(k).on ? 0 : 1;
}
int32_t slotState(int32_t k) { return slotOf(k).on ? 1 : 0; }
void midiClip(int32_t pad, int32_t value) { platform::setRemoteClip(pad, value >= 64); }
int32_t clipState(int32_t pad) {
    return appState.mode == ModeB && pad - 1 < decks.trackCount && decks.decks[1].track == pad - 1;
}
void midiWait(int32_t, int32_t value) {
    if (midiPressed(waitLevel, value)) appState.waitForClipEnd = 1 - appState.waitForClipEnd;
}
int32_t waitState(int32_t) { return appState.waitForClipEnd; }

// --- feedback -----------------------------------------------------------------------------------

OscArg intValue(int32_t v) {
    OscArg a;
    a.i = v;
    return a;
}

OscArg screenName(int32_t) {
    static const char* const names[] = {"splash", "home", "editor", "mix", "options", "videoout"};
    OscArg a;
    a.s = appState.screen >= 0 && appState.screen <= 5 ? names[appState.screen] : "";
    return a;
}
OscArg fadeValue(int32_t) {
    OscArg a;
    a.f = float(decks.fade) / 15.0f;
    return a;
}
OscArg blendValue(int32_t) { return intValue(decks.blendMode); }
OscArg deckTrackValue(int32_t deck) { return intValue(decks.decks[deck].track); }
OscArg slotValue(int32_t k) { return intValue(slotState(k)); }
OscArg modeValue(int32_t) {
    OscArg a;
    a.s = appState.mode == ModeB ? "B" : "A";
    return a;
}
OscArg selectedDeckValue(int32_t) { return intValue(decks.selectedDeck); }
OscArg slotLevelValue(int32_t k) { return intValue(slotOf(k).value); }
// The playlist the tracks came from, -1 while none is loaded (or none of its clips played).
int32_t loadedPlaylist() {
    const bool loaded = mix.loading || decks.trackCount > 0;
    return loaded && mix.loadingPlaylist >= 0 && mix.loadingPlaylist < std::min(mix.playlistCount, MaxPlaylists)
               ? mix.loadingPlaylist
               : -1;
}
OscArg playlistValue(int32_t) { return intValue(loadedPlaylist()); }
OscArg playlistNameValue(int32_t) {
    OscArg a;
    const int32_t p = loadedPlaylist();
    a.s = p >= 0 ? mix.playlists[p].name.c_str() : "";
    return a;
}
OscArg tracksValue(int32_t) { return intValue(decks.trackCount); }
OscArg fpsValue(int32_t) { return intValue(decks.targetFps); }

}  // namespace

void registerBuiltinControls() {
    char address[MaxOscAddressChars + 1];
    char name[MaxMidiTargetChars + 1];
    for (const auto& b : buttons) {
        snprintf(address, sizeof address, "/loopmixer/button/%s", b.name);
        addOscAddress(address, "i", oscButton, b.input);
        snprintf(name, sizeof name, "button %s", b.name);
        addMidiTarget(name, midiButton, nullptr, b.input);
    }
    addOscAddress("/loopmixer/key", "ii", oscKey);
    addOscAddress("/loopmixer/touch", "ff", oscTouch);
    addOscAddress("/loopmixer/release", "p", oscRelease);
    addOscAddress("/loopmixer/fade", "f", oscFade);
    addOscAddress("/loopmixer/flash", "p", oscFlash);
    addOscAddress("/loopmixer/blend", "i", oscBlend);
    for (int k = 0; k < EffectSlots; k++) {
        snprintf(address, sizeof address, "/loopmixer/slot/%d", k);
        addOscAddress(address, "i", oscSlot, k);
        addOscFeedback(address, 'i', slotValue, k);
        snprintf(address, sizeof address, "/loopmixer/slot/%d/value", k);
        addOscAddress(address, "i", oscSlotValue, k);
        addOscFeedback(address, 'i', slotLevelValue, k);
    }
    for (int d = 0; d < 2; d++) {
        snprintf(address, sizeof address, "/loopmixer/deck/%d/track", d);
        addOscAddress(address, "i", oscDeckTrack, d);
        addOscFeedback(address, 'i', deckTrackValue, d);
    }
    addOscAddress("/loopmixer/clip", "i", oscClip);
    addOscAddress("/loopmixer/playlist", "i", oscPlaylist);
    addOscAddress("/loopmixer/refresh", "", oscRefresh);

    addOscFeedback("/loopmixer/screen", 's', screenName);
    addOscFeedback("/loopmixer/fade", 'f', fadeValue);
    addOscFeedback("/loopmixer/blend", 'i', blendValue);
    addOscFeedback("/loopmixer/mode", 's', modeValue);
    addOscFeedback("/loopmixer/deck", 'i', selectedDeckValue);
    addOscFeedback("/loopmixer/playlist", 'i', playlistValue);
    addOscFeedback("/loopmixer/playlist/name", 's', playlistNameValue);
    addOscFeedback("/loopmixer/tracks", 'i', tracksValue);
    addOscFeedback("/loopmixer/fps", 'i', fpsValue);

    addMidiTarget("fade", midiFade);
    addMidiTarget("flash", midiFlash);
    addMidiTarget("wait", midiWait, waitState);
    for (int k = 0; k < EffectSlots; k++) {
        snprintf(name, sizeof name, "slot %d", k);
        addMidiTarget(name, midiSlot, slotState, k);
    }
    for (int pad = 1; pad <= ClipPads; pad++) {
        snprintf(name, sizeof name, "clip %d", pad);
        addMidiTarget(name, midiClip, clipState, pad);
    }
}
