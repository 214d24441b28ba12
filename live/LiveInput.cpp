#include "live/LiveInput.h"

#include <iostream>

#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Platform.h"
#include "library/Mix.h"
#include "live/LiveSource.h"
#include "live/Sampler.h"
#include "mixer/Decks.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "tracks/Track.h"

namespace {

constexpr SDLKey SampleKey = SDLK_F7;
int keyTakeDeck = -1;  // the deck F7 is sampling while it is held

bool accepts(const std::string& entry) {
    LiveAddress parts;
    return parseLiveEntry(entry, parts, nullptr);
}

FrameSource* openSource(const std::string& entry) {
    LiveAddress parts;
    std::string why;
    if (!parseLiveEntry(entry, parts, &why)) {
        std::cout << "live source refused: " << entry << ": " << why << std::endl;
        return nullptr;
    }
    return new LiveSource(entry, parts);
}

bool showsLive(int deck) {
    const int32_t t = decks.decks[deck].track;
    return t >= 0 && t < TrackSlots && tracks[t].source && tracks[t].source->live();
}

bool oscSample(const OscArg* a, int32_t deck) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    sampler.set(deck, a[0].i == 1, platform::ticks());
    return true;
}

OscArg samplingValue(int32_t deck) {
    OscArg a;
    a.i = sampler.sampling(deck) ? 1 : 0;
    return a;
}

int8_t sampleLevel[2] = {};  // the control's last side of the middle: a take per press
void midiSample(int32_t deck, int32_t value) {
    const int8_t down = value >= 64 ? 1 : 0;
    if (down == sampleLevel[deck]) return;
    sampleLevel[deck] = down;
    sampler.set(deck, down, platform::ticks());
}
int32_t samplingState(int32_t deck) { return sampler.sampling(deck) ? 1 : 0; }

}  // namespace

int liveKeyDeck() {
    const int selected = decks.selectedDeck == 0 ? 0 : 1;
    return showsLive(selected) || !showsLive(1 - selected) ? selected : 1 - selected;
}

void startLiveInput() {
    frameSourceHooks.accepts = accepts;
    frameSourceHooks.open = openSource;
    sampler.reset();
    keyTakeDeck = -1;
    sampleLevel[0] = sampleLevel[1] = 0;
    liveFit = launchOptions.liveLetterbox ? LiveFit::Letterbox : LiveFit::Crop;
    // The run's sources, as a playlist listed first and never saved.
    mix.runPlaylist = Playlist();
    mix.runPlaylist.name = "Live";
    for (const std::string& s : launchOptions.liveSources) {
        if (mix.runPlaylist.trackCount >= MaxPlaylistTracks) break;
        mix.runPlaylist.tracks[mix.runPlaylist.trackCount++].file = isLiveEntry(s) ? s : LivePrefix + s;
    }
    addOscAddress("/loopmixer/deck/0/sample", "i", oscSample, 0);
    addOscAddress("/loopmixer/deck/1/sample", "i", oscSample, 1);
    addOscFeedback("/loopmixer/deck/0/sampling", 'i', samplingValue, 0);
    addOscFeedback("/loopmixer/deck/1/sampling", 'i', samplingValue, 1);
    addMidiTarget("sample deck 0", midiSample, samplingState, 0);
    addMidiTarget("sample deck 1", midiSample, samplingState, 1);
    platform::setKeyAction(SampleKey, [] {
        if (appState.screen != Screen::Mix) return;
        keyTakeDeck = liveKeyDeck();
        sampler.press(keyTakeDeck, platform::ticks());
    });
}

void stepLiveInput() {
    const uint32_t now = platform::ticks();
    if (keyTakeDeck >= 0 && !platform::keyActionHeld(SampleKey)) {
        sampler.release(keyTakeDeck, now);
        keyTakeDeck = -1;
    }
    if (appState.screen == Screen::Mix) sampler.step(now);
    sampler.pollSaves();
}

void stopLiveInput() {
    sampler.finishSaves();
    for (Track& t : tracks)
        if (t.source) t.clear();
    if (mix.preview && mix.preview->source) mix.preview->clear();  // the editor's preview of a source
}
