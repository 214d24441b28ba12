// Memories, whole frames with the harness: a stored look comes back field by field, a waiting
// recall lands on its beat, a recall loads its playlist first, a look whose playlist or clip is gone,
// data/memories.xml across a restart and beside another program's changes, and the controls
// (OSC, MIDI with its pad lights, the desktop keys, the options page).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "memories/LookOnStage.h"
#include "memories/Memories.h"
#include "memories/MemoriesFile.h"
#include "memories/MemoriesPage.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "remote/LearnPage.h"
#include "remote/MidiMap.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "remote/Remote.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

namespace {

const char* const ClipNames[3] = {"a.q18", "sub/b.q18", "c.q18"};

// A playlist "Set" of three clips in the slots; they are never decoded, only named and counted.
class Memory : public ::testing::Test {
protected:
    Harness h{HarnessOptions::withoutPictures()};
    void SetUp() override {
        mix.playlistCount = 1;
        mix.playlists[0].name = "Set";
        mix.loadingPlaylist = 0;
        mix._totalTracks = 3;
        for (int i = 0; i < 3; i++) {
            tracks[i].name = ClipNames[i];
            tracks[i].frameCount = 50;
        }
        appState.screen = Screen::Mix;
        appState.mixView = Performing;
        h.frame();
    }
    void TearDown() override {
        for (int i = 0; i < 3; i++) tracks[i].clear(), tracks[i].frameCount = 0;
        mix._totalTracks = 0;
        mix.playlistCount = 0;
    }
    static double now() { return platform::ticks(); }
    static double beat() { return tempoClock.beatAt(now()); }
};

std::string pair(int32_t a, int32_t b) { return std::to_string(a) + "," + std::to_string(b); }

// Each part of a look: set to its stored value (0) or to another (1), and read back.
struct Field {
    const char* name;
    std::function<void(int)> set;
    std::function<std::string()> get;
};

const std::vector<Field>& lookFields() {
    static const std::vector<Field> fields = {
        {"deck tracks", [](int v) { decks.decks[1].track = v ? 0 : 2, decks.decks[0].track = v ? 2 : 1; },
         [] { return pair(decks.decks[1].track, decks.decks[0].track); }},
        {"frames", [](int v) { decks.decks[1].position = v ? 3 : 17, decks.decks[0].position = v ? 40 : 9; },
         [] { return pair(decks.decks[1].position, decks.decks[0].position); }},
        {"directions", [](int v) { decks.decks[1].direction = v ? 0 : 1, decks.decks[0].direction = v ? 0 : 1; },
         [] { return pair(decks.decks[1].direction, decks.decks[0].direction); }},
        // Unlocked in the look, so that its frames stand still while the check runs.
        {"sync", [](int v) { decks.sync[0] = decks.sync[1] = v; }, [] { return pair(decks.sync[0], decks.sync[1]); }},
        // At 240 BPM the 50-frame clips would loop over 8 beats; the look keeps its 4.
        {"beats per loop", [](int v) { tempoClock.setTempo(v ? 240 : 120, platform::ticks()); },
         [] { return pair(int32_t(beatLock.sharedBeats(0)), int32_t(beatLock.sharedBeats(1))); }},
        {"effect slots",
         [](int v) {
             for (int d = 0; d < 2; d++)
                 for (int s = 0; s < 8; s++) {
                     effectTable.slots[d][s].on = (d + s + v) % 2;
                     effectTable.slots[d][s].value = (3 * d + s + v) % 4;
                 }
         },
         [] {
             std::string t;
             for (int d = 0; d < 2; d++)
                 for (int s = 0; s < 8; s++) t += pair(effectTable.slots[d][s].on, effectTable.slots[d][s].value) + " ";
             return t;
         }},
        {"selected deck", [](int v) { decks.selectedDeck = v ? 1 : 0; }, [] { return std::to_string(decks.selectedDeck); }},
        {"blend mode", [](int v) { decks.blendMode = v ? 6 : 3; }, [] { return std::to_string(decks.blendMode); }},
        {"fade", [](int v) { decks.fade = decks.fadeRest = v ? 0 : 9; }, [] { return std::to_string(decks.fade); }},
        {"rate", [](int v) { decks.targetFps = decks.restFps = v ? 25 : 40; }, [] { return std::to_string(decks.targetFps); }},
        {"freeze", [](int v) { decks.paused = decks.frozenLook = v ? 0 : 1; }, [] { return std::to_string(decks.paused); }},
        {"mode", [](int v) { appState.mode = v ? ModeB : ModeA; }, [] { return std::to_string(appState.mode); }},
        // Wait for the bar in the look; the clip's end (a recall at once) while it is changed.
        {"wait", [](int v) { appState.waitForClipEnd = 1, appState.quantise = v ? QuantiseClipEnd : QuantiseBar; },
         [] { return pair(appState.waitForClipEnd, appState.quantise); }},
    };
    return fields;
}

TEST_F(Memory, StoreChangeEverythingRecallEveryPartOfTheLookIsBack) {
    const std::vector<Field>& fields = lookFields();
    for (const Field& f : fields) f.set(0);
    ASSERT_TRUE(memories.store(1));
    std::vector<std::string> stored;
    for (const Field& f : fields) stored.push_back(f.get());
    for (size_t i = 0; i < fields.size(); i++) {
        fields[i].set(1);
        EXPECT_NE(stored[i], fields[i].get()) << fields[i].name << ": the change must show";
    }
    h.frame();
    EXPECT_EQ(0, memories.current) << "the look changed";

    memories.recall(1, now());
    h.frame(3);  // and it holds while the controls run
    for (size_t i = 0; i < fields.size(); i++) EXPECT_EQ(stored[i], fields[i].get()) << fields[i].name;
    EXPECT_EQ(1, memories.current);
}

TEST_F(Memory, AWaitingRecallLandsOnTheFirstFrameAtOrAfterTheBeatOrBar) {
    ASSERT_TRUE(tempoClock.setTempo(128, now()));
    for (int32_t q : {QuantiseBeat, QuantiseBar}) {
        decks.blendMode = 2;
        ASSERT_TRUE(memories.store(2));
        decks.blendMode = 0;
        appState.waitForClipEnd = 1;
        appState.quantise = q;
        const double start = std::floor(beat()) + 5.3;
        while (beat() < start) h.frame();
        memories.recall(2, now());
        const double unit = q == QuantiseBar ? BeatsPerBar : 1;
        const double target = std::ceil(beat() / unit) * unit;
        double before = beat();
        while (decks.blendMode != 2 && beat() < target + 1) {
            before = beat();
            h.frame();
        }
        EXPECT_EQ(2, decks.blendMode) << q;
        EXPECT_LT(before, target) << q << ": not before the beat";
        EXPECT_GE(beat(), target) << q;
        EXPECT_LE((beat() - target) * tempoClock.beatMs, 1000.0 / 26 + 1) << q << ": within one frame";
    }
}

TEST_F(Memory, APlaylistOrClipThatIsGoneLeavesTheDecksAndSaysSo) {
    const struct {
        const char* gone;
        std::function<void(bool)> remove;  // true removes, false puts back
        const char* says;
        int32_t deck0Track;  // deck 0 comes back unless the whole playlist is gone
    } cases[] = {
        {"playlist", [](bool r) { mix.playlists[0].name = r ? "Renamed" : "Set"; }, "memory 1: playlist Set is gone", 2},
        {"clip", [](bool r) { tracks[0].name = r ? "other.q18" : ClipNames[0]; }, "memory 1: a.q18 is gone, deck 1 kept", 1},
    };
    for (const auto& c : cases) {
        decks.decks[1].track = 0;
        decks.decks[0].track = 1;
        decks.blendMode = 1;
        ASSERT_TRUE(memories.store(1));
        decks.decks[1].track = 1;
        decks.decks[0].track = 2;
        decks.blendMode = 0;
        c.remove(true);
        memories.recall(1, now());
        EXPECT_STREQ(c.says, notice.text) << c.gone;
        EXPECT_EQ(1, decks.decks[1].track) << c.gone << ": deck 1 as it was";
        EXPECT_EQ(c.deck0Track, decks.decks[0].track) << c.gone;
        EXPECT_EQ(1, decks.blendMode) << c.gone << ": the rest of the look is back";
        c.remove(false);
    }
}

TEST_F(Memory, TheFileIsReadBackAfterARestartAndKeepsAnotherProgramsChanges) {
    for (int k = 0; k < MemoryCount; k++) EXPECT_EQ(0, memories.stored[k]) << "no file: every memory empty";
    decks.decks[1].track = 1;
    decks.decks[1].position = 33;
    effectTable.slots[0][5].on = 1;
    effectTable.slots[0][5].value = 2;
    ASSERT_TRUE(memories.store(1));
    decks.blendMode = 4;
    decks.fade = 7;
    ASSERT_TRUE(memories.store(5));
    const Look first = memories.looks[0], fifth = memories.looks[4];

    tearDownForTests();
    ASSERT_TRUE(h.startUp());
    for (int k = 0; k < MemoryCount; k++) EXPECT_EQ(k == 0 || k == 4, memories.stored[k] != 0) << k + 1;
    for (const auto& c : {std::make_pair(first, 0), std::make_pair(fifth, 4)}) {
        const Look& back = memories.looks[c.second];
        EXPECT_TRUE(c.first.sameSettings(back)) << c.second + 1;
        EXPECT_EQ(c.first.decks[1].frame, back.decks[1].frame);
        EXPECT_EQ("sub/b.q18", back.decks[1].track);
    }

    // Another program adds memory 9 (a text editor, a copy from another set) while this one runs.
    Look looks[MemoryCount];
    int32_t stored[MemoryCount];
    for (int k = 0; k < MemoryCount; k++) looks[k] = memories.looks[k], stored[k] = memories.stored[k];
    looks[8] = fifth;
    looks[8].playlist = "Elsewhere";
    stored[8] = 1;
    h.writeFile("data/memories.xml", memoriesText(looks, stored));
    ASSERT_TRUE(memories.store(2));

    FILE* f = std::fopen((h.dir + "/data/memories.xml").c_str(), "r");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(4, readMemories(f, looks, stored));
    std::fclose(f);
    for (int k = 0; k < MemoryCount; k++) EXPECT_EQ(k == 0 || k == 1 || k == 4 || k == 8, stored[k] != 0) << k + 1;
    EXPECT_EQ("Elsewhere", looks[8].playlist);
}

TEST(MemoryFile, BrokenFilesKeepTheMemoriesBeforeTheFaultAndNeverMore) {
    Look looks[MemoryCount];
    int32_t stored[MemoryCount] = {};
    Look a;
    a.playlist = "Demo";
    a.decks[1].track = "orb.q18";
    a.decks[1].beats = 4;
    stored[2] = stored[6] = 1;
    looks[2] = looks[6] = a;
    const std::string good = memoriesText(looks, stored);
    const size_t second = good.find("<memory>", good.find("<memory>") + 1);
    struct Case {
        const char* what;
        std::string text;
        int read;
    } cases[] = {
        {"whole", good, 2},
        {"cut in the second memory", good.substr(0, second + 60), 1},
        {"a value out of range", std::string(good).replace(good.find("<fade>0<"), 8, "<fade>16<"), 0},
        {"a number that is not one", std::string(good).replace(good.find("<rate>25<"), 9, "<rate>+25<"), 0},
        {"beats not a power of two", std::string(good).replace(good.find("<beats>4<"), 9, "<beats>3<"), 0},
        {"memory 17", std::string(good).replace(good.find("<number>7<"), 10, "<number>17<"), 1},
        {"no declaration", good.substr(44), 0},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        FILE* f = fmemopen(const_cast<char*>(c.text.data()), c.text.size() + 1, "r");
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(c.read, readMemories(f, looks, stored)) << c.what;
        std::fclose(f);
        int count = 0;
        for (int k = 0; k < MemoryCount; k++) count += stored[k];
        EXPECT_EQ(c.read, count) << c.what;
    }
}

// The fuzzer's seeds, as the reader meets them in a run folder: within limits, and the whole one
// read whole.
TEST(MemoryFile, TheFuzzSeedsReadWithinLimits) {
    const std::string corpus = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/memories_fuzz";
    DIR* folder = opendir(corpus.c_str());
    ASSERT_NE(nullptr, folder) << corpus;
    int files = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        FILE* f = std::fopen((corpus + "/" + entry->d_name).c_str(), "r");
        ASSERT_NE(nullptr, f);
        Look looks[MemoryCount];
        int32_t stored[MemoryCount];
        const int read = readMemories(f, looks, stored);
        std::fclose(f);
        files++;
        EXPECT_LE(read, MemoryCount) << entry->d_name;
        for (int k = 0; k < MemoryCount; k++) EXPECT_TRUE(!stored[k] || looks[k].valid()) << entry->d_name;
        if (std::string(entry->d_name) == "two_memories.xml") {
            EXPECT_EQ(2, read);
            EXPECT_EQ("mandelbrot.q18", looks[15].decks[1].track);
        }
    }
    closedir(folder);
    EXPECT_GE(files, 3);
}

// OSC arguments as liblo hands them over.
bool osc(const char* address, const char* types, float f = 0, int32_t i = 0) {
    void* argv[1] = {types[0] == 'f' ? static_cast<void*>(&f) : static_cast<void*>(&i)};
    return handleOscMessage(address, types, argv, int(std::string(types).size()));
}

std::vector<std::vector<uint8_t>> lights;
void recordLight(const uint8_t* bytes, int count) { lights.push_back(std::vector<uint8_t>(bytes, bytes + count)); }

int32_t fedBack = -1;
void recordFeedback(const char* address, char, const OscArg& v) {
    if (std::string(address) == "/loopmixer/memory") fedBack = v.i;
}

void pushFunctionKey(Uint8 type, int number, int mod) {
    SDL_Event e = {};
    e.type = type;
    e.key.keysym.sym = SDLKey(SDLK_F1 + number - 1);
    e.key.keysym.mod = SDLMod(mod);
    SDL_PushEvent(&e);
}

TEST_F(Memory, OscMidiKeysAndThePageStoreAndRecall) {
    // OSC: no argument or a non-zero number acts; a tablet's release (0) does nothing.
    decks.blendMode = 1;
    EXPECT_TRUE(osc("/loopmixer/memory/3/store", ""));
    decks.blendMode = 2;
    EXPECT_TRUE(osc("/loopmixer/memory/4/store", "f", 0.0f));
    EXPECT_EQ(0, memories.stored[3]);
    EXPECT_TRUE(osc("/loopmixer/memory/4/store", "i", 0, 1));
    EXPECT_FALSE(osc("/loopmixer/memory/4", "s")) << "a string is no button";
    EXPECT_TRUE(osc("/loopmixer/memory/3", "f", 1.0f));
    EXPECT_EQ(1, decks.blendMode);
    pollOscFeedback(true, recordFeedback);
    EXPECT_EQ(3, fedBack);
    decks.blendMode = 0;
    h.frame();
    pollOscFeedback(false, recordFeedback);
    EXPECT_EQ(0, fedBack) << "the look changed since";

    // MIDI: "store" held with a memory pad stores; the pad alone recalls. Lights: bright for the
    // current memory, dim for the stored ones.
    midiMap.count = 0;
    midiMap.add(MidiNote, -1, 60, "store");
    midiMap.add(MidiNote, -1, 61, "memory 5");
    midiMap.add(MidiNote, -1, 62, "memory 3");
    midiMap.add(MidiNote, -1, 63, "memory 6");
    decks.blendMode = 4;
    const std::vector<uint8_t> storeFive = {0x90, 60, 127, 0x90, 61, 127, 0x80, 61, 0, 0x80, 60, 0};
    injectMidi(storeFive.data(), unsigned(storeFive.size()));
    h.frame();
    EXPECT_EQ(1, memories.stored[4]);
    decks.blendMode = 0;
    const std::vector<uint8_t> recallThree = {0x90, 62, 127, 0x80, 62, 0};
    injectMidi(recallThree.data(), unsigned(recallThree.size()));
    h.frame();
    EXPECT_EQ(1, decks.blendMode);
    lights.clear();
    midiMap.sendLights(true, recordLight);
    EXPECT_EQ(lights, (std::vector<std::vector<uint8_t>>{{0x90, 60, 0}, {0x90, 61, 32}, {0x90, 62, 127}, {0x90, 63, 0}}));

    // Keys: Ctrl+Shift+F6 stores memory 6, Shift+F6 recalls it; F6 alone stays an ordinary key.
    decks.blendMode = 6;
    pushFunctionKey(SDL_KEYDOWN, 6, KMOD_LSHIFT | KMOD_LCTRL);
    pushFunctionKey(SDL_KEYUP, 6, KMOD_LSHIFT | KMOD_LCTRL);
    h.frame();
    EXPECT_EQ(1, memories.stored[5]);
    decks.blendMode = 0;
    pushFunctionKey(SDL_KEYDOWN, 6, KMOD_LSHIFT);
    h.frame();
    EXPECT_EQ(6, decks.blendMode);
    EXPECT_EQ(0, controller.key) << "taken out of the stream";
    pushFunctionKey(SDL_KEYUP, 6, KMOD_LSHIFT);
    pushFunctionKey(SDL_KEYDOWN, 6, 0);
    h.frame();
    EXPECT_EQ(SDLK_F6, controller.key);
    pushFunctionKey(SDL_KEYUP, 6, 0);

    // The page opens from its button in OPTIONS' bottom bar; a touch recalls on release, a held
    // touch stores, "store" then a touch stores.
    appState.screen = Screen::Options;
    options.view = FiltersView;
    h.touchDown(180, 225);
    h.frame();
    h.touchUp();
    h.frame();
    ASSERT_EQ(MemoriesView, options.view);
    const int32_t x5 = MemoryCellWidth / 2, y5 = MemoryCellsTop + MemoryCellHeight + 10;  // cell 5
    ASSERT_EQ(5, memoryCellAt(x5, y5));
    decks.blendMode = 0;
    h.touchDown(x5, y5);
    h.frame();
    EXPECT_EQ(0, decks.blendMode) << "not before the release";
    h.touchUp();
    h.frame(2);
    EXPECT_EQ(4, decks.blendMode);
    decks.blendMode = 3;
    const int32_t x8 = 3 * MemoryCellWidth + 5;
    h.touchDown(x8, y5);
    for (int i = 0; i < 40 && !memories.stored[7]; i++) h.frame();
    EXPECT_EQ(1, memories.stored[7]) << "held";
    h.touchUp();
    h.frame(2);
    decks.blendMode = 2;
    h.touchDown(10, 225);  // store
    h.frame();
    h.touchUp();
    h.frame();
    h.touchDown(x8 - MemoryCellWidth, y5);  // cell 7
    h.frame();
    EXPECT_EQ(1, memories.stored[6]);
    EXPECT_EQ(0, memories.storeArmed);
    h.touchUp();
    h.frame();

    // With the memories the learn page holds more targets than its sixty rows: "more" turns on.
    installLearnPage();
    options.view = LearnView;
    ASSERT_GT(midiTargetCount(), LearnColumns * LearnRows);
    EXPECT_EQ(0, learnTargetAt(9, LearnTop + 4));
    h.touchDown(240, 225);
    h.frame();
    h.touchUp();
    h.frame();
    EXPECT_EQ(LearnColumns * LearnRows, learnTargetAt(9, LearnTop + 4));
    h.wheel(100, 100, -1);  // the mouse wheel turns the pages too
    h.frame();
    EXPECT_EQ(0, learnTargetAt(9, LearnTop + 4));
    removeLearnPage();
}

TEST(MemoryRecall, AcrossPlaylistsLoadsThePlaylistFirstAndSaysSoOnTheOverlay) {
    HarnessOptions o;
    o.demoClips = true;
    o.playlistsXml = playlistsXml({{"One", {"plasma.q18", "bars.q17"}}, {"Two", {"orb.q18", "checker.q17", "fields.q18"}}});
    Harness h(o);
    h.frame(41);
    appState.screen = Screen::Mix;
    const auto load = [&](int index) {
        loadChosenPlaylist(index);
        for (int i = 0; i < 400 && mix.loading; i++) h.frame();
    };
    load(1);
    ASSERT_EQ(3, mix._totalTracks);
    decks.decks[1].track = 2;
    decks.decks[1].position = 5;
    decks.decks[0].track = 0;
    decks.blendMode = 2;
    ASSERT_TRUE(memories.store(3));
    load(0);
    ASSERT_EQ(2, mix._totalTracks);

    memories.recall(3, platform::ticks());
    EXPECT_EQ(3, memories.loadingFor());
    h.frame();
    EXPECT_EQ(toRgb565(uiAmber), h.pixel(7, 5)) << "the note while it loads";
    for (int i = 0; i < 400 && memories.loadingFor(); i++) h.frame();
    EXPECT_EQ("Two", mix.playlists[mix.loadingPlaylist].name);
    EXPECT_EQ("fields.q18", tracks[decks.decks[1].track].name);
    EXPECT_EQ("orb.q18", tracks[decks.decks[0].track].name);
    EXPECT_EQ(2, decks.blendMode);
    EXPECT_EQ(3, memories.current);
    EXPECT_NE(toRgb565(uiAmber), h.pixel(7, 5)) << "no note once loaded";
}

}  // namespace
