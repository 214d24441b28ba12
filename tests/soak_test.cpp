// The soak: thousands of frames of seeded random buttons, stick moves, touches, drags and keys over
// every screen, with the demo set and with a hostile one (missing clips, malformed clips, a playlists
// file at its limits). After every frame the state's indices must be in range and the decks inside
// their clips; every write of playlists.xml, prefs.xml and glove.xml must hold exactly the state the
// performer made; after the run the program starts again and reads the files back as written.
//
// LOOPMIXER_SOAK_FRAMES sets the frames per set (the default is short in the normal build and about
// a minute in the sanitizer build); LOOPMIXER_SOAK_SEED replays a run. The seed is always printed.
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Startup.h"
#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "tracks/Track.h"

#ifndef LOOPMIXER_SOAK_FRAMES_DEFAULT
#define LOOPMIXER_SOAK_FRAMES_DEFAULT 2000
#endif

namespace {

long fromEnvironment(const char* name, long fallback) {
    const char* text = getenv(name);
    return text && *text ? strtol(text, nullptr, 10) : fallback;
}

// What the program writes for the state it holds now, file by file.
std::string expectedPlaylists() { return mix.playlistsText(); }
std::string expectedPrefs() { return options.currentPrefs(); }
std::string expectedGlove() { return gloveContent(options.keys); }

struct WatchedFile {
    const char* name;
    std::string (*expected)();
    struct timespec changed = {};
    off_t size = -1;
    ino_t inode = 0;
    bool written = false;  // by the program during the run
};

// The hostile set: fifty playlists of up to 51 entries with names at the reader's limits, clips that
// are missing, truncated or not clips at all, beside a few good ones.
std::string hostilePlaylists(const std::string& dir) {
    const std::string run = builtRunDir();
    std::system(("cp '" + run + "/videos/'*.q1? '" + dir + "/videos/' 2>/dev/null").c_str());
    std::mt19937 bytes(7);
    std::string junk(3000, '\0');
    for (char& c : junk) c = char(bytes());
    FILE* f = fopen((dir + "/videos/junk.q18").c_str(), "wb");
    if (f) fwrite(junk.data(), 1, junk.size(), f), fclose(f);
    std::system(("for c in '" + dir + "/videos/'*.q1?; do head -c 700 \"$c\" > \"" + dir +
                 "/videos/cut-$(basename \"$c\")\"; break; done").c_str());
    std::string good;
    if (FILE* l = popen(("ls '" + run + "/videos' | grep '\\.q1[78]$' | head -1").c_str(), "r")) {
        char line[256] = {};
        if (fgets(line, sizeof line, l)) good = std::string(line).substr(0, std::string(line).find('\n'));
        pclose(l);
    }
    std::string s = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    for (int p = 0; p < 52; p++) {
        s += "\t<playlist>\n\t\t<name>" + (p % 7 == 0 ? std::string(91, char('a' + p % 26)) : "list " + std::to_string(p)) +
             "</name>\n";
        const int entries = p % 5 == 0 ? 53 : p % 4;
        for (int t = 0; t < entries; t++) {
            const char* kinds[] = {"missing.q18", "junk.q18", "sub/none.q17", ""};
            std::string file = kinds[t % 4];
            if (file.empty()) file = t % 8 == 3 ? "cut-" + good : good;
            s += "\t\t<track>" + file + "</track>\n";
        }
        s += "\t</playlist>\n";
    }
    return s + "</all>\n";
}

class Soak {
public:
    Soak(Harness& h, unsigned seed) : h(h), rng(seed) {}

    // One frame of random controls.
    void randomInput() {
        if (chance(18)) h.tap(Input(pick(InputCount)));
        if (chance(4)) {
            const Input in = Input(pick(InputCount));
            held[in] = !held[in];
            h.setDown(in, held[in]);
        }
        if (!touching && chance(15)) {
            x = pick(320), y = pick(240);
            // Half of the touches aim at the rows and the bottom bars, where most of the editor is.
            if (chance(50)) y = chance(50) ? 20 + pick(200) : 215 + pick(25);
            h.touchDown(x, y);
            touching = true;
        } else if (touching && chance(60)) {
            x = clamp(x + pick(81) - 40, 319), y = clamp(y + pick(81) - 40, 239);
            // Some drags go straight to the bottom bar, where the drop targets are.
            if (chance(10)) y = 220 + pick(20);
            h.touchMove(x, y);
        } else if (touching && chance(30)) {
            h.touchUp();
            touching = false;
        }
        if (chance(5)) {
            const int sym = chance(50) ? SDLK_a + pick(26) : SDLK_0 + pick(10);
            h.keyDown(sym);
            h.keyUp(sym);
        }
    }

    unsigned pick(unsigned n) { return unsigned(rng() % n); }
    bool chance(unsigned percent) { return pick(100) < percent; }
    static int clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

    Harness& h;
    std::mt19937 rng;
    bool held[InputCount] = {};
    bool touching = false;
    int x = 0, y = 0;
};

// The invariants after a frame; the first one broken, or "".
std::string brokenInvariant() {
    char why[160] = {};
    auto fail = [&](const char* what, long value) {
        snprintf(why, sizeof why, "%s (%ld)", what, value);
        return std::string(why);
    };
    if (appState.screen < 0 || appState.screen > 5) return fail("screen", appState.screen);
    if (appState.mixView != Performing && appState.mixView != ChoosingPlaylist) return fail("mixView", appState.mixView);
    if (mix.playlistCount < 0 || mix.playlistCount > MaxPlaylists) return fail("playlistCount", mix.playlistCount);
    for (int p = 0; p < MaxPlaylists; p++)
        if (mix.playlists[p].trackCount < 0 || mix.playlists[p].trackCount > MaxPlaylistTracks)
            return fail("trackCount of playlist", p);
    const int lastPlaylist = mix.playlistCount > 0 ? mix.playlistCount - 1 : 0;
    if (mix.editPlaylist < 0 || mix.editPlaylist > lastPlaylist) return fail("editPlaylist", mix.editPlaylist);
    if (mix.loadingPlaylist < 0 || mix.loadingPlaylist >= MaxPlaylists) return fail("loadingPlaylist", mix.loadingPlaylist);
    // The chooser marks the last playlist when the editor deleted the one it had marked.
    if (chooserSelection < 0 || chooserSelection >= MaxPlaylists) return fail("chooserSelection", chooserSelection);
    if (mix._totalTracks < 0 || mix._totalTracks > TrackSlots) return fail("_totalTracks", mix._totalTracks);
    if (mix.keyCursor < 0 || mix.keyCursor > 41) return fail("keyCursor", mix.keyCursor);
    if (mix.browserCount < 0 || mix.browserCount > BrowserRows) return fail("browserCount", mix.browserCount);
    for (const Scroller& s : mix.scrollers)
        if (s.top < 0 || s.top > s.maxTop) return fail("scroller top", s.top);
    // Typing stops at 20 characters; a rename starts from the stored name, which may be longer.
    if (mix.renamingPlaylist < 0 && mix.newName.size() > 20) return fail("newName length", long(mix.newName.size()));
    for (const Deck& d : decks.decks) {
        if (d.track < 0 || d.track >= TrackSlots) return fail("deck track", d.track);
        const Track& t = tracks[d.track];
        if (t.ready == Ready && (d.position < 0 || d.position >= t.frameCount)) return fail("deck position", d.position);
    }
    if (queuedTrack < 0 || queuedTrack >= TrackSlots) return fail("queuedTrack", queuedTrack);
    return "";
}

// A file that changed since the last look must hold exactly what the program's state says.
std::string checkFile(const Harness& h, WatchedFile& f) {
    struct stat info;
    if (stat((h.dir + "/data/" + f.name).c_str(), &info) != 0) return f.size < 0 ? "" : std::string(f.name) + " vanished";
    if (info.st_mtim.tv_sec == f.changed.tv_sec && info.st_mtim.tv_nsec == f.changed.tv_nsec &&
        info.st_size == f.size && info.st_ino == f.inode)
        return "";
    const bool first = f.size < 0;
    f.changed = info.st_mtim, f.size = info.st_size, f.inode = info.st_ino;
    if (first) return "";
    f.written = true;
    const std::string content = h.readFile(std::string("data/") + f.name);
    return content == f.expected() ? "" : std::string(f.name) + " holds something the performer did not make";
}

void soak(HarnessOptions options, const char* set, bool hostile) {
    const long frames = fromEnvironment("LOOPMIXER_SOAK_FRAMES", LOOPMIXER_SOAK_FRAMES_DEFAULT);
    const unsigned seed = unsigned(fromEnvironment("LOOPMIXER_SOAK_SEED", long(time(nullptr) % 100000)));
    printf("soak of the %s set: %ld frames, seed %u (replay: LOOPMIXER_SOAK_SEED=%u)\n", set, frames, seed, seed);
    const std::string replay = std::string(set) + " set, replay with LOOPMIXER_SOAK_SEED=" + std::to_string(seed);

    options.start = false;
    options.seed = seed;
    options.prefsXml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n\t<mode>0</mode>\n\t<topbar>1</topbar>\n</all>\n";
    options.gloveXml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n\t<key>97</key>\n</all>\n";
    Harness h(options);
    if (hostile) h.writeFile("data/playlists.xml", hostilePlaylists(h.dir));
    ASSERT_TRUE(h.startUp());

    WatchedFile files[] = {{"playlists.xml", expectedPlaylists}, {"prefs.xml", expectedPrefs}, {"glove.xml", expectedGlove}};
    for (WatchedFile& f : files) checkFile(h, f);
    Soak s(h, seed * 2 + (hostile ? 1 : 0));  // one seed replays both sets, each its own input
    int quits = 0;
    long seen[8] = {};  // frames per screen, the editor's three views apart
    for (long n = 0; n < frames; n++) {
        s.randomInput();
        h.frame();
        if (!running) running = 1, quits++;  // a quit from the home menu: play on
        const int screen = appState.screen;
        seen[screen < 2 ? screen : screen == 2 ? 2 + mix.editorView : screen + 2]++;
        std::string broken = brokenInvariant();
        for (WatchedFile& f : files)
            if (broken.empty()) broken = checkFile(h, f);
        if (!broken.empty()) {
            ADD_FAILURE() << "frame " << n << ", screen " << appState.screen << ": " << broken << " (" << replay << ")";
            return;
        }
    }

    // The files as written read back: a fresh start holds exactly what they say.
    tearDownForTests();
    ASSERT_EQ(chdir(h.dir.c_str()), 0);
    ASSERT_TRUE(h.startUp());
    for (const WatchedFile& f : files) {
        if (!f.written) continue;
        EXPECT_EQ(h.readFile(std::string("data/") + f.name), f.expected()) << f.name << " (" << replay << ")";
    }
    printf("  frames on splash, home, editor (playlists, keyboard, tracks), mix, options, video out:");
    for (int i = 0; i < 8; i++) printf(" %ld", seen[i]);
    printf("\n  %d quits from the home menu along the way; written back: %s%s%s\n", quits,
           files[0].written ? "playlists " : "", files[1].written ? "prefs " : "", files[2].written ? "glove" : "");
}

}  // namespace

TEST(Soak, RandomInputOverEveryScreenWithTheDemoSet) {
    HarnessOptions o;
    o.demoClips = true;
    soak(o, "demo", false);
}

TEST(Soak, RandomInputOverEveryScreenWithAHostileSet) {
    soak(HarnessOptions(), "hostile", true);
}
