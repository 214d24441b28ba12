// OSC controllers end to end: real UDP on 127.0.0.1 with liblo on the test's side. The program is
// navigated home -> mix, a playlist loaded and the fade set over OSC, and the feedback it sends
// back is read; wrong messages are ignored and logged once per address.
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "remote/MidiMap.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "remote/OscPattern.h"
#include "remote/OscPort.h"
#include "tempo/TempoClock.h"

namespace {

// The last value received per feedback address, as text.
std::map<std::string, std::string> feedback;
int feedbackMessages = 0;

// user: the map to fill (the feedback target's when null).
int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* user) {
    std::map<std::string, std::string>& values = user ? *static_cast<std::map<std::string, std::string>*>(user) : feedback;
    if (!user) feedbackMessages++;
    if (argc != 1) return 0;
    if (types[0] == 'i') values[path] = std::to_string(argv[0]->i);
    else if (types[0] == 'f') values[path] = std::to_string(argv[0]->f);
    else if (types[0] == 's') values[path] = &argv[0]->s;
    return 0;
}

class OscEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        listener = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        ASSERT_NE(listener, nullptr);
        lo_server_add_method(listener, nullptr, nullptr, record, nullptr);
        const int port = freeUdpPort();
        launchOptions = LaunchOptions();
        launchOptions.oscPort = port;
        launchOptions.oscFeedback = {"127.0.0.1:" + std::to_string(lo_server_get_port(listener))};
        HarnessOptions o;
        o.demoClips = true;
        h.reset(new Harness(o));
        ASSERT_TRUE(h->started);
        ASSERT_EQ(oscPortNumber(), port);
        app = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    }
    void TearDown() override {
        h.reset();
        launchOptions = LaunchOptions();
        lo_address_free(app);
        lo_server_free(listener);
        feedback.clear();
    }
    // Takes in everything the program has sent so far.
    void readFeedback() {
        while (lo_server_recv_noblock(listener, 20) > 0) {
        }
    }
    std::unique_ptr<Harness> h;
    lo_server listener = nullptr;
    lo_address app = nullptr;
};

TEST_F(OscEndToEnd, NavigateLoadAPlaylistSetTheFadeAndReadTheFeedback) {
    h->frame();
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/screen"], "splash") << "all of the state once at start";
    EXPECT_EQ(feedback["/loopmixer/mode"], "A");
    EXPECT_EQ(feedback["/loopmixer/slot/3"], "0");
    h->frame(41);
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/screen"], "home");

    // Press and release in one bundle: the press still counts once, in the next frame.
    lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_message down = lo_message_new(), up = lo_message_new();
    lo_message_add_int32(down, 1);
    lo_message_add_int32(up, 0);
    lo_bundle_add_message(b, "/loopmixer/button/b", down);
    lo_bundle_add_message(b, "/loopmixer/button/b", up);
    ASSERT_GT(lo_send_bundle(app, b), 0);
    lo_bundle_free_recursive(b);
    h->frame();
    EXPECT_EQ(appState.screen, Screen::Mix);
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);

    lo_send(app, "/loopmixer/playlist", "i", 1);
    h->frame();
    EXPECT_EQ(appState.mixView, Performing);
    for (int i = 0; i < 200 && mix.loading; i++) h->frame();
    EXPECT_EQ(mix.loadingPlaylist, 1);
    EXPECT_EQ(mix._totalTracks, 2);

    lo_send(app, "/loopmixer/fade", "f", 0.6f);
    lo_send(app, "/loopmixer/deck/0/track", "i", 1);
    lo_send(app, "/loopmixer/slot/2", "i", 1);
    h->frame(3);
    EXPECT_EQ(decks.fade, 9) << "0.6 of the 15 levels, held in mode A";
    EXPECT_EQ(decks.decks[0].track, 1);
    EXPECT_EQ(effectTable.slots[decks.selectedDeck][2].on, 1);
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/screen"], "mix");
    EXPECT_EQ(feedback["/loopmixer/fade"], std::to_string(9 / 15.0f));
    EXPECT_EQ(feedback["/loopmixer/deck/0/track"], "1");
    EXPECT_EQ(feedback["/loopmixer/slot/2"], "1");
    feedbackMessages = 0;
    h->frame(2);
    readFeedback();
    EXPECT_EQ(feedbackMessages, 0) << "nothing changed, nothing sent";

    lo_send(app, "/loopmixer/playlist", "i", 0);
    h->frame(2);
    EXPECT_EQ(decks.fade, 9) << "a new playlist leaves the fader where it stands";
    for (int i = 0; i < 200 && mix.loading; i++) h->frame();

    // The state a tablet's toggles show.
    lo_send(app, "/loopmixer/quantise", "i", 2);
    lo_send(app, "/loopmixer/deck/1/sync", "i", 1);
    lo_send(app, "/loopmixer/beatflash", "i", 1);
    lo_send(app, "/loopmixer/slot/5/value", "i", 3);
    h->frame(2);
    readFeedback();
    const std::map<std::string, std::string> expected = {
        {"/loopmixer/quantise", "2"},     {"/loopmixer/deck/0/sync", "0"},
        {"/loopmixer/deck/1/sync", "1"},  {"/loopmixer/beatflash", "1"},
        {"/loopmixer/deck", std::to_string(decks.selectedDeck)},
        {"/loopmixer/slot/5/value", "3"}, {"/loopmixer/playlist", "0"},
        {"/loopmixer/playlist/name", mix.playlists[0].name},
        {"/loopmixer/tracks", std::to_string(decks.trackCount)},
        {"/loopmixer/fps", "25"},
    };
    for (const auto& e : expected) EXPECT_EQ(feedback[e.first], e.second) << e.first;
    EXPECT_GT(decks.trackCount, 0);
}

// A tablet's buttons send 1 on press and 0 on release, its XY pads fractions, and some senders
// 64-bit numbers.
TEST_F(OscEndToEnd, TabletButtonsXyPadsAndWideNumbers) {
    h->frame(41);
    ASSERT_EQ(appState.screen, Screen::Home);
    lo_send(app, "/loopmixer/touch", "ff", 260.4f, 59.6f);  // EDIT
    h->frame();
    EXPECT_EQ(controller.touchX, 260);
    EXPECT_EQ(controller.touchY, 60);
    lo_send(app, "/loopmixer/release", "f", 0.0f);
    h->frame();
    EXPECT_FALSE(controller.touchUp()) << "a button's 0 is ignored";
    lo_send(app, "/loopmixer/release", "f", 1.0f);
    h->frame(2);
    EXPECT_TRUE(controller.touchUp());
    EXPECT_EQ(appState.screen, Screen::Editor);

    decks.flash = 0;
    lo_send(app, "/loopmixer/flash", "f", 0.0f);
    h->frame();
    EXPECT_EQ(decks.flash, 0);
    lo_send(app, "/loopmixer/flash", "i", 1);
    h->frame();
    EXPECT_GT(decks.flash, 0);

    // Four taps 400 ms apart in four spellings, each with its release.
    lo_send(app, "/loopmixer/tap", "f", 1.0f);
    h->callAfter(400);
    lo_send(app, "/loopmixer/tap", "f", 0.0f);
    lo_send(app, "/loopmixer/tap", "d", 1.0);
    h->callAfter(400);
    lo_send(app, "/loopmixer/tap", "h", int64_t(0));
    lo_send(app, "/loopmixer/tap", "h", int64_t(1));
    h->callAfter(400);
    lo_send(app, "/loopmixer/tap", "");
    h->callAfter(400);
    EXPECT_NEAR(tempoClock.bpm(), 150.0, 0.5);

    lo_send(app, "/loopmixer/fade", "d", 0.6);
    lo_send(app, "/loopmixer/blend", "h", int64_t(2));
    h->frame();
    EXPECT_EQ(decks.fadeRest, 9);
    EXPECT_EQ(decks.blendMode, 2);
    lo_send(app, "/loopmixer/blend", "d", 1.5);
    lo_send(app, "/loopmixer/blend", "h", int64_t(1) << 40);
    h->frame();
    EXPECT_EQ(decks.blendMode, 2) << "not a whole 32-bit number: ignored";
}

// OSC address patterns run every address of the namespace they match, and nothing else.
TEST_F(OscEndToEnd, AddressPatternsReachEveryMatchingAddress) {
    h->frame(42);
    lo_send(app, "/loopmixer/slot/[0-3]", "i", 1);
    lo_send(app, "/loopmixer/slot/{5,7}/value", "i", 2);
    lo_send(app, "/loopmixer/deck/?/sync", "i", 1);
    lo_send(app, "/loopmixer/fl*h", "");
    lo_send(app, "/loopmixer/nothing/*", "i", 1);
    decks.flash = 0;
    h->frame();
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(effectTable.slots[decks.selectedDeck][k].on, k <= 3 ? 1 : 0) << k;
        EXPECT_EQ(effectTable.slots[decks.selectedDeck][k].value, k == 5 || k == 7 ? 2 : 0) << k;
    }
    EXPECT_EQ(decks.sync[0] + decks.sync[1], 2);
    EXPECT_GT(decks.flash, 0);
    EXPECT_NE(h->log().find("osc: unknown address /loopmixer/nothing/*"), std::string::npos);
}

// A controller that connects late asks for the whole state: it gets it, and so does every target.
TEST_F(OscEndToEnd, RefreshSendsEveryValueToTheTargetsAndTheAsker) {
    h->frame(42);
    lo_server tablet = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    ASSERT_NE(tablet, nullptr);
    std::map<std::string, std::string> tabletValues;
    lo_server_add_method(tablet, nullptr, nullptr, record, &tabletValues);
    readFeedback();
    feedbackMessages = 0;
    h->frame();
    readFeedback();
    ASSERT_EQ(feedbackMessages, 0);

    lo_send_from(app, tablet, LO_TT_IMMEDIATE, "/loopmixer/refresh", "");
    h->frame();
    readFeedback();
    while (lo_server_recv_noblock(tablet, 20) > 0) {
    }
    EXPECT_GE(feedbackMessages, 30) << "every value to the target";
    EXPECT_EQ(int(tabletValues.size()), feedbackMessages) << "and each once to the tablet";
    EXPECT_EQ(tabletValues["/loopmixer/screen"], "home");
    EXPECT_EQ(tabletValues["/loopmixer/fps"], "25");
    lo_server_free(tablet);
}

TEST(OscPatterns, MatchAsOsc10Says) {
    const struct {
        const char* pattern;
        const char* address;
        bool matches;
    } cases[] = {
        {"/a/?", "/a/b", true},           {"/a/?", "/a/bc", false},
        {"/a/*", "/a/", true},            {"/a/*", "/a/b/c", false},  // a star never crosses '/'
        {"/*/c", "/ab/c", true},          {"/a*b*c", "/aXbYc", true},
        {"/s/[0-3]", "/s/3", true},       {"/s/[0-3]", "/s/4", false},
        {"/s/[!0-3]", "/s/4", true},      {"/s/[!0-3]", "/s/0", false},
        {"/s/[ab-]", "/s/-", true},       {"/s/[0-3", "/s/1", false},  // unterminated
        {"/s/{4,5}/v", "/s/5/v", true},   {"/s/{4,5}/v", "/s/6/v", false},
        {"/s/{x,}y", "/s/y", true},       {"/s/{4,5", "/s/4", false},
        {"/a/*a*a*a*a*a*a*a*a*a*b", "/a/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
    };
    for (const auto& c : cases) EXPECT_EQ(oscPatternMatches(c.pattern, c.address), c.matches) << c.pattern << " " << c.address;
    EXPECT_FALSE(oscPatternMatches(("/" + std::string(300, '*')).c_str(), "/a")) << "longer than the cap";
}

TEST_F(OscEndToEnd, WrongMessagesAreIgnoredAndLoggedOncePerAddress) {
    h->frame(42);
    decks.fade = 3;
    lo_send(app, "/loopmixer/fade", "s", "loud");
    lo_send(app, "/loopmixer/fade", "f", 1.5f);
    lo_send(app, "/loopmixer/fade", "ff", 0.1f, 0.2f);
    lo_send(app, "/loopmixer/blend", "i", 5);
    lo_send(app, "/loopmixer/deck/1/track", "i", 0);  // nothing loaded
    lo_send(app, "/loopmixer/nowhere", "i", 1);
    lo_send(app, "/loopmixer/nowhere", "i", 1);
    h->frame();
    EXPECT_EQ(decks.blendMode, 0);
    const std::string log = h->log();
    auto count = [&](const std::string& s) {
        int n = 0;
        for (size_t at = log.find(s); at != std::string::npos; at = log.find(s, at + 1)) n++;
        return n;
    };
    EXPECT_EQ(count("osc: ignored /loopmixer/fade "), 1);
    EXPECT_EQ(count("osc: ignored /loopmixer/blend "), 1);
    EXPECT_EQ(count("osc: ignored /loopmixer/deck/1/track "), 1);
    EXPECT_EQ(count("osc: unknown address /loopmixer/nowhere"), 1);
    EXPECT_LE(decks.fade, 3) << "no wrong message set the fade";
}

TEST_F(OscEndToEnd, TempoTapsQuantiseSyncAndTheBeatSentBack) {
    h->frame(42);
    lo_send(app, "/loopmixer/tempo", "f", 90.0f);
    h->frame();
    EXPECT_NEAR(tempoClock.bpm(), 90.0, 1e-3);
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/tempo"], std::to_string(90.0f));
    const std::string beat = feedback["/loopmixer/beat"];
    EXPECT_TRUE(beat == "1" || beat == "2" || beat == "3" || beat == "4") << beat;

    for (int i = 0; i < 4; i++) {  // four taps 500 ms apart on the program's clock
        lo_send(app, "/loopmixer/tap", "");
        h->callAfter(500);
    }
    EXPECT_NEAR(tempoClock.bpm(), 120.0, 0.5);
    readFeedback();
    const std::string tapped = feedback["/loopmixer/tempo"];
    lo_send(app, "/loopmixer/tempo", "f", float(tempoClock.bpm() + 0.05));
    h->frame();
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/tempo"], tapped) << "a change under 0.1 BPM is not sent";
    lo_send(app, "/loopmixer/tempo", "f", 121.0f);
    h->frame();
    readFeedback();
    EXPECT_EQ(feedback["/loopmixer/tempo"], std::to_string(121.0f));

    lo_send(app, "/loopmixer/quantise", "i", 3);
    lo_send(app, "/loopmixer/deck/0/sync", "i", 1);
    h->frame();
    EXPECT_EQ(appState.waitForClipEnd, 1);
    EXPECT_EQ(appState.quantise, QuantiseBar);
    EXPECT_EQ(decks.sync[0], 1);
    lo_send(app, "/loopmixer/quantise", "i", 0);
    lo_send(app, "/loopmixer/tempo", "f", 400.0f);
    h->frame();
    EXPECT_EQ(appState.waitForClipEnd, 0);
    EXPECT_NEAR(tempoClock.bpm(), 121.0, 1e-3) << "out of range: ignored";
}

TEST(OscSettings, TheFileKeepsOscOnFlagsOverrideItAndATakenPortIsShown) {
    const int filePort = freeUdpPort();
    HarnessOptions o;
    o.pictures = false;
    o.start = false;
    launchOptions = LaunchOptions();
    {
        Harness h(o);
        ASSERT_TRUE(h.startUp());
        EXPECT_FALSE(oscPortOpen()) << "no controller asked for: nothing opened";
        EXPECT_EQ(h.readFile("data/remote.xml"), "") << "and no settings file written";
    }
    {
        Harness h(o);
        h.writeFile("data/remote.xml", "<all>\n\t<oscport>" + std::to_string(filePort) + "</oscport>\n</all>\n");
        ASSERT_TRUE(h.startUp());
        EXPECT_EQ(oscPortNumber(), filePort);
    }
    {
        // Someone else holds the port the flag names: the program plays on and says so.
        const int taken = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        getsockname(taken, reinterpret_cast<sockaddr*>(&a), &n);
        launchOptions.oscPort = ntohs(a.sin_port);
        Harness h(o);
        h.writeFile("data/remote.xml", "<all>\n\t<oscport>" + std::to_string(filePort) + "</oscport>\n</all>\n");
        ASSERT_TRUE(h.startUp());
        EXPECT_FALSE(oscPortOpen()) << "the flag replaces the file's port";
        ASSERT_NE(noticeShown(platform::ticks()), nullptr);
        EXPECT_EQ(std::string(noticeShown(platform::ticks())), "OSC: port " + std::to_string(ntohs(a.sin_port)) + " is not free");
        close(taken);
    }
    {
        launchOptions.oscPort = freeUdpPort();
        Harness h(o);
        ASSERT_TRUE(h.startUp());
        EXPECT_NE(h.readFile("data/remote.xml").find("<oscport>0</oscport>"), std::string::npos)
            << "first run with a controller: the file is written with its defaults";
    }
    launchOptions = LaunchOptions();
}

// What another part (tempo, recording) plugs in: its own address, feedback value and MIDI target.
int taps = 0, beat = 0, recordValue = -1;
bool tap(const OscArg*, int32_t) { return ++taps > 0; }
int level = 0;
bool setLevel(const OscArg* a, int32_t) { return (level = a[0].i) >= 0; }
OscArg beatValue(int32_t) {
    OscArg a;
    a.i = beat;
    return a;
}
void recordAction(int32_t, int32_t value) { recordValue = value; }
std::vector<std::string> sent;
void sendRecorded(const char* address, char, const OscArg& v) {
    if (std::string(address).rfind("/ext/", 0) == 0) sent.push_back(std::string(address) + " " + std::to_string(v.i));
}

TEST(RemoteExtensions, AnotherPartsAddressFeedbackAndMidiTargetWork) {
    ASSERT_TRUE(addOscAddress("/ext/tap", "", tap));
    const uint8_t packet[] = {'/', 'e', 'x', 't', '/', 't', 'a', 'p', 0, 0, 0, 0, ',', 0, 0, 0};
    handleOscPacket(packet, sizeof packet);
    EXPECT_EQ(taps, 1);
    // The way in for arguments parsed elsewhere (a browser's JSON numbers are doubles).
    const OscValue half = {'d', 0.5, nullptr}, two = {'d', 2.0, nullptr};
    EXPECT_TRUE(handleOscValues("/ext/tap", nullptr, 0));
    EXPECT_FALSE(handleOscValues("/ext/tap", &two, 1)) << "one argument too many";
    ASSERT_TRUE(addOscAddress("/ext/level", "i", setLevel));
    EXPECT_TRUE(handleOscValues("/ext/level", &two, 1));
    EXPECT_FALSE(handleOscValues("/ext/level", &half, 1)) << "not a whole number";
    EXPECT_EQ(taps, 2);
    EXPECT_EQ(level, 2);

    ASSERT_TRUE(addOscFeedback("/ext/beat", 'i', beatValue));
    sent.clear();
    pollOscFeedback(false, sendRecorded);
    pollOscFeedback(false, sendRecorded);
    beat = 3;
    pollOscFeedback(false, sendRecorded);
    EXPECT_EQ(sent, (std::vector<std::string>{"/ext/beat 0", "/ext/beat 3"})) << "once at first, then on change";

    const int target = addMidiTarget("ext record", recordAction);
    ASSERT_GE(target, 0);
    MidiMap map;
    map.learnTarget = target;
    map.handle(MidiEvent{MidiControlChange, 4, 64, 100});
    EXPECT_EQ(map.describe("ext record"), "cc64");
    map.handle(MidiEvent{MidiControlChange, 4, 64, 90});
    EXPECT_EQ(recordValue, 90);
}

TEST(OscFuzzCorpus, EveryKeptInputIsHandledSafely) {
    HarnessOptions o;
    o.pictures = false;
    Harness h(o);
    const std::string folder = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/osc_fuzz";
    DIR* d = opendir(folder.c_str());
    ASSERT_NE(d, nullptr);
    int replayed = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(folder + "/" + e->d_name, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string packet = bytes.str();
        handleOscPacket(reinterpret_cast<const uint8_t*>(packet.data()), packet.size());
        h.frame();
        replayed++;
    }
    closedir(d);
    EXPECT_GT(replayed, 0);
    EXPECT_TRUE(decks.fade >= 0 && decks.fade <= 15);
}

}  // namespace
