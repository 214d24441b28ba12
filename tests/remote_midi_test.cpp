// MIDI controllers: the byte parser (running status, SysEx and clock in between, malformed input),
// the map and learn with injected messages, and the whole road through a real JACK server (dummy
// backend) with RtMidi on the test's side: the one client and its two ports, pad lights, hot-plug,
// a taken client name and the server going away.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Notice.h"
#include "controls/Screens.h"
#include "harness/Harness.h"
#include "jack_server.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "remote/LearnPage.h"
#include "remote/MidiMap.h"
#include "remote/MidiParser.h"
#include "remote/MidiPorts.h"
#include "remote/MidiSystem.h"
#include "remote/Remote.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::vector<std::string> seen;  // what the parser and the system hook handed out, as text

void recordEvent(const MidiEvent& e) {
    static const char* kinds[] = {"off", "on", "cc"};
    seen.push_back(std::string(kinds[e.kind]) + " " + std::to_string(e.channel) + " " + std::to_string(e.number) + " " +
                   std::to_string(e.value));
}

void recordSystem(const MidiSystemMessage& m) {
    seen.push_back("sys " + std::to_string(m.status) + (m.status == MidiSongPosition ? " " + std::to_string(m.songPosition) : ""));
}

TEST(MidiParser, RunningStatusSysExClockAndMalformedInput) {
    ASSERT_TRUE(addMidiSystemHook(recordSystem));
    const struct {
        Bytes bytes;
        std::vector<std::string> expected;
    } cases[] = {
        {{0x90, 36, 100, 37, 0}, {"on 0 36 100", "off 0 37 0"}},               // running status, velocity 0
        {{0xB3, 7, 0xF8, 64}, {"sys 248", "cc 3 7 64"}},                      // clock inside a message
        {{0x91, 36, 1, 0xF0, 1, 2, 3, 0xF7, 38, 90}, {"on 1 36 1", "on 1 38 90"}},  // SysEx in between
        {{0x92, 40, 0xF2, 0x10, 0x02, 41, 5}, {"sys 242 272", "on 2 41 5"}},  // song position in between
        {{0xFA, 0xFB, 0xFC}, {"sys 250", "sys 251", "sys 252"}},
        {{0x40, 0x24, 0x80, 0x24}, {}},                                      // stray data, cut message
        {{0xC0, 5, 0xE0, 1, 2, 0xF4, 0x90, 48, 16}, {"on 0 48 16"}},         // unused kinds and status
        {{0x85, 60, 99}, {"off 5 60 0"}},
    };
    for (const auto& c : cases) {
        seen.clear();
        MidiParser parser;
        parser.feed(c.bytes.data(), c.bytes.size(), 0.0, 0, recordEvent);
        EXPECT_EQ(seen, c.expected) << "case starting " << int(c.bytes[0]);
    }
    // A message split across two reads still completes.
    seen.clear();
    MidiParser parser;
    const uint8_t a[] = {0x90, 50}, b[] = {60};
    parser.feed(a, 2, 0.0, 0, recordEvent);
    parser.feed(b, 1, 0.0, 0, recordEvent);
    EXPECT_EQ(seen, std::vector<std::string>{"on 0 50 60"});
    removeMidiSystemHook(recordSystem);
}

const char* PrefsModeB =
    "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n\t<mode>1</mode>\n\t<topbar>0</topbar>\n"
    "\t<filter>1</filter>\n\t<filter>2</filter>\n\t<filter>3</filter>\n\t<filter>0</filter>\n"
    "\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n\t<filter>0</filter>\n</all>\n";

// A run folder in mode B with the demo playlist (five clips) loaded and playing.
void openPlaying(Harness& h) {
    ASSERT_TRUE(h.startUp());
    h.frame(41);
    appState.screen = Screen::Mix;
    loadChosenPlaylist(0);
    for (int i = 0; i < 400 && mix.loading; i++) h.frame();
    ASSERT_EQ(mix._totalTracks, 5);
}

HarnessOptions modeBDemo() {
    HarnessOptions o;
    o.demoClips = true;
    o.prefsXml = PrefsModeB;
    o.start = false;
    return o;
}

void inject(Bytes bytes) { injectMidi(bytes.data(), unsigned(bytes.size())); }

std::vector<Bytes> lights;
void recordLight(const uint8_t* bytes, int count) { lights.push_back(Bytes(bytes, bytes + count)); }

TEST(MidiMap, DefaultPadsPlayClipsTheFaderFadesAndLightsFollow) {
    launchOptions = LaunchOptions();
    Harness h(modeBDemo());
    openPlaying(h);
    midiMap.setDefaults();

    inject({0x99, 38, 100});  // pad 3 on channel 10: the third clip, while held
    h.frame();
    EXPECT_EQ(decks.decks[1].track, 2);
    lights.clear();
    midiMap.sendLights(false, recordLight);
    EXPECT_EQ(lights, (std::vector<Bytes>{{0x90, 36, 0}, {0x90, 37, 0}, {0x90, 38, 127}, {0x90, 39, 0},
                                          {0x90, 40, 0}, {0x90, 41, 0}, {0x90, 42, 0}, {0x90, 43, 0},
                                          {0x90, 44, 0}, {0x90, 45, 0}, {0x90, 46, 0}, {0x90, 47, 0},
                                          {0x90, 48, 0}, {0x90, 49, 0}, {0x90, 50, 0}, {0x90, 51, 0}}))
        << "every pad's light once, then only changes";
    h.frame(30);
    EXPECT_EQ(decks.decks[1].track, 2) << "a held pad keeps its clip looping";
    inject({38, 0});  // running status: velocity 0 releases the pad
    for (int i = 0; i < 1000 && decks.decks[1].track != 0; i++) h.frame();
    EXPECT_EQ(decks.decks[1].track, 0) << "released, deck 1 returns to the first clip at the clip's end";
    lights.clear();
    midiMap.sendLights(false, recordLight);
    EXPECT_EQ(lights, (std::vector<Bytes>{{0x90, 36, 127}, {0x90, 38, 0}}));

    inject({0xB0, 7, 64});
    h.frame(3);
    EXPECT_EQ(decks.fade, 8) << "CC 7: 0-127 onto the fade levels 0-15";
    inject({0xB0, 7, 127});
    h.frame();
    EXPECT_EQ(decks.fade, 15);

    appState.mode = ModeA;
    inject({0xB0, 7, 0});
    h.frame();
    EXPECT_EQ(decks.fade, 0);
    inject({0xB0, 7, 127});
    h.frame(5);
    EXPECT_EQ(decks.fade, 15) << "in mode A the fader's level holds while ButtonA is up";
    inject({0x90, 36, 100});
    h.frame();
    EXPECT_EQ(queuedTrack, 0) << "pads are mode-B triggers only";
}

TEST(MidiMap, LearnAControlOnTheOptionsScreenThenClearIt) {
    launchOptions = LaunchOptions();
    Harness h(modeBDemo());
    ASSERT_TRUE(h.startUp());
    h.frame(41);
    midiMap.setDefaults();
    midiMap.path = "data/midimap.xml";
    installLearnPage();  // MIDI is on in a real run; here no port is open
    auto touch = [&](int x, int y) {
        h.touchDown(x, y);
        h.frame();
        h.touchUp();
        h.frame();
    };
    const int slot1 = findMidiTarget("slot 1");
    ASSERT_GE(slot1, 0);
    const int cellX = 4 + (slot1 / LearnRows) * LearnColumnWidth + 5, cellY = LearnTop + (slot1 % LearnRows) * LearnRowHeight + 4;

    inject({0xB1, 20, 127});  // not learning: an unmapped control does nothing
    h.frame();
    EXPECT_EQ(midiMap.describe("slot 1"), "");

    appState.screen = Screen::Options;
    options.view = FiltersView;
    h.frame();
    touch(100, 225);  // "MIDI learn"
    ASSERT_EQ(options.view, LearnView);
    const uint32_t before = h.screenChecksum();
    touch(cellX, cellY);
    EXPECT_EQ(midiMap.learnTarget, slot1);
    EXPECT_NE(h.screenChecksum(), before) << "the waiting target is marked";
    inject({0xB1, 20, 127});
    h.frame();
    EXPECT_EQ(midiMap.learnTarget, -1);
    EXPECT_EQ(midiMap.describe("slot 1"), "cc20");
    EXPECT_NE(h.readFile("data/midimap.xml").find("\t<map>cc 2 20 slot 1</map>\n"), std::string::npos);

    // A fresh start reads the learned map back.
    MidiMap reread;
    ASSERT_TRUE(reread.load("data/midimap.xml"));
    EXPECT_EQ(reread.describe("slot 1"), "cc20");
    EXPECT_EQ(reread.describe("clip 16"), "n51");

    touch(100, 225);  // "back"
    ASSERT_EQ(options.view, FiltersView);
    inject({0xB1, 20, 127});
    inject({0xB1, 20, 0});
    h.frame();
    EXPECT_EQ(effectTable.slots[decks.selectedDeck][1].on, 1) << "the learned CC toggles slot 1";
    inject({0xB0, 20, 127});
    h.frame();
    EXPECT_EQ(effectTable.slots[decks.selectedDeck][1].on, 1) << "learned on channel 2 only";

    touch(100, 225);
    touch(cellX, cellY);
    touch(20, 225);  // "clear"
    EXPECT_EQ(midiMap.describe("slot 1"), "");
    EXPECT_EQ(midiMap.learnTarget, -1);
    EXPECT_EQ(h.readFile("data/midimap.xml").find("slot 1"), std::string::npos);
    removeLearnPage();
}

// Reads what the program sent to the test's input until want shows up or the wait runs out.
bool receive(RtMidiIn& in, Harness& h, const Bytes& want) {
    std::vector<unsigned char> m;
    for (int i = 0; i < 300; i++) {
        h.frame();
        while (in.getMessage(&m), !m.empty())
            if (Bytes(m.begin(), m.end()) == want) return true;
        usleep(5000);
    }
    return false;
}

TEST(MidiJack, PadsThroughAJackServerPlayClipsAndLightThePads) {
    JackServer server("loopmixer-midi-test");
    ASSERT_TRUE(server.running()) << "jackd -d dummy did not start";
    RtMidiOut pads(RtMidi::UNIX_JACK, "padbox");
    pads.openVirtualPort("out");
    RtMidiIn padLights(RtMidi::UNIX_JACK, "padbox-lights");
    padLights.openVirtualPort("in");

    launchOptions = LaunchOptions();
    launchOptions.midi = true;
    launchOptions.midiConnect = {"padbox"};
    HarnessOptions o = modeBDemo();
    Harness h(o);
    h.writeFile("data/remote.xml", "<all>\n\t<midiapi>jack</midiapi>\n</all>\n");
    openPlaying(h);
    ASSERT_TRUE(remoteMidiOn());
    jack_status_t status;
    jack_client_t* observer = jack_client_open("observer", JackNoStartServer, &status);
    ASSERT_NE(observer, nullptr);
    // The program's JACK ports, or the connections of one port: sorted, one name a line.
    auto list = [](const char** names) {
        std::vector<std::string> sorted;
        for (const char** n = names; n && *n; n++) sorted.push_back(*n);
        jack_free(names);
        std::sort(sorted.begin(), sorted.end());
        std::string all;
        for (const std::string& n : sorted) all += n + "\n";
        return all;
    };
    auto programPorts = [&] { return list(jack_get_ports(observer, "loopmixer", nullptr, 0)); };
    auto connections = [&](const char* port) { return list(jack_port_get_all_connections(observer, jack_port_by_name(observer, port))); };
    EXPECT_EQ(programPorts(), "loopmixer:midi_in\nloopmixer:midi_out\n");
    EXPECT_EQ(connections("loopmixer:midi_in"), "padbox:out\n");
    EXPECT_EQ(connections("loopmixer:midi_out"), "padbox-lights:in\n");
    EXPECT_NE(h.readFile("data/midimap.xml").find("<map>note any 36 clip 1</map>"), std::string::npos)
        << "the default map is written on first run";

    EXPECT_TRUE(receive(padLights, h, {0x90, 36, 127})) << "after connecting every light is sent: clip 1 plays";
    const std::vector<unsigned char> pad2 = {0x90, 37, 110};
    pads.sendMessage(&pad2);
    EXPECT_TRUE(receive(padLights, h, {0x90, 37, 127})) << "pad 2's light follows its clip";
    EXPECT_EQ(decks.decks[1].track, 1);
    const std::vector<unsigned char> release = {0x80, 37, 0};
    pads.sendMessage(&release);
    EXPECT_TRUE(receive(padLights, h, {0x90, 36, 127})) << "released, clip 1 returns at the clip's end";
    EXPECT_EQ(decks.decks[1].track, 0);

    // A controller plugged in while the program runs is connected at the next scan of the ports, and
    // so is a port whose alias matches (as the server's own MIDI ports name their device).
    RtMidiOut late(RtMidi::UNIX_JACK, "padbox-late");
    late.openVirtualPort("out");
    RtMidiOut hardware(RtMidi::UNIX_JACK, "hw");
    hardware.openVirtualPort("midi_capture_1");
    ASSERT_EQ(jack_port_set_alias(jack_port_by_name(observer, "hw:midi_capture_1"), "alsa_pcm:padbox-hw/midi_capture_1"), 0);
    h.frame(60);  // more than two seconds of frames
    // The server makes new ports and connections known in its own time: on a loaded machine the
    // scan can run before it has, and the next one comes two (fake) seconds later.
    for (int i = 0; i < 400 && connections("loopmixer:midi_in") != "hw:midi_capture_1\npadbox-late:out\npadbox:out\n"; i++) {
        h.frame();
        usleep(5000);
    }
    const std::vector<unsigned char> pad3 = {0x90, 38, 90};
    late.sendMessage(&pad3);
    EXPECT_TRUE(receive(padLights, h, {0x90, 38, 127})) << "pad 3 of the late controller plays clip 3";
    EXPECT_EQ(connections("loopmixer:midi_in"), "hw:midi_capture_1\npadbox-late:out\npadbox:out\n")
        << "every peer on the one input";
    EXPECT_EQ(programPorts(), "loopmixer:midi_in\nloopmixer:midi_out\n") << "still one client, two ports";

    // Another program holding the client name: no MIDI, said so, and no client under another name.
    closeMidiPorts();
    jack_client_t* squatter = jack_client_open("loopmixer", jack_options_t(JackNoStartServer | JackUseExactName), &status);
    ASSERT_NE(squatter, nullptr);
    EXPECT_FALSE(openMidiPorts("jack", {"padbox"}));
    EXPECT_STREQ(notice.text, "MIDI: JACK client loopmixer exists already");
    EXPECT_NE(h.log().find("midi: JACK client loopmixer exists already\n"), std::string::npos) << "the same words in the log";
    EXPECT_EQ(list(jack_get_ports(observer, "^loopmixer-", nullptr, 0)), "");
    jack_client_close(squatter);
    ASSERT_TRUE(openMidiPorts("jack", {"padbox"}));
    // The server shows new connections from its next cycle on: a loaded machine may take a while.
    for (int i = 0; i < 500 && connections("loopmixer:midi_in") != "hw:midi_capture_1\npadbox-late:out\npadbox:out\n"; i++)
        usleep(10000);
    EXPECT_EQ(connections("loopmixer:midi_in"), "hw:midi_capture_1\npadbox-late:out\npadbox:out\n");

    // The server going away closes MIDI with a notice; the instrument plays on.
    jack_client_close(observer);
    server.stop();
    for (int i = 0; i < 200 && remoteMidiOn(); i++) {
        h.frame();
        usleep(10000);
    }
    EXPECT_STREQ(notice.text, "MIDI: the JACK server shut down");
    EXPECT_FALSE(remoteMidiOn());
    inject({0x99, 39, 100});
    h.frame();
    EXPECT_EQ(decks.decks[1].track, 3) << "injected pads still act";
    launchOptions = LaunchOptions();
}

// No server: said so. A burst larger than the input queue while the program is not reading: the
// excess is dropped and logged, nothing waits, and what comes after is read as before.
TEST(MidiJack, ABurstBeyondTheQueueIsDroppedCountedAndLaterPadsPlay) {
    setenv("JACK_DEFAULT_SERVER", "loopmixer-no-such-server", 1);
    EXPECT_FALSE(openMidiPorts("jack", {"flood"}));
    EXPECT_STREQ(notice.text, "MIDI: no JACK server running");

    JackServer server("loopmixer-flood-test");
    ASSERT_TRUE(server.running()) << "jackd -d dummy did not start";
    RtMidiOut flood(RtMidi::UNIX_JACK, "flood");
    flood.openVirtualPort("out");

    launchOptions = LaunchOptions();
    launchOptions.midi = true;
    launchOptions.midiConnect = {"flood"};
    Harness h(modeBDemo());
    h.writeFile("data/remote.xml", "<all>\n\t<midiapi>jack</midiapi>\n</all>\n");
    openPlaying(h);
    ASSERT_TRUE(remoteMidiOn());
    // 3000 note-offs of an unmapped note, in bursts that fit the sender's cycle buffer.
    for (int burst = 0; burst < 30; burst++) {
        for (int i = 0; i < 100; i++) {
            const std::vector<unsigned char> off = {0x80, 100, 0};
            flood.sendMessage(&off);
        }
        usleep(10000);
    }
    usleep(50000);
    h.frame(70);  // more than two seconds of frames: the drops are reported
    EXPECT_NE(h.log().find(" incoming messages dropped (queue full)"), std::string::npos) << h.log();
    const std::vector<unsigned char> pad3 = {0x99, 38, 100};
    flood.sendMessage(&pad3);
    for (int i = 0; i < 300 && decks.decks[1].track != 2; i++) {
        h.frame();
        usleep(5000);
    }
    EXPECT_EQ(decks.decks[1].track, 2) << "a pad after the burst plays its clip";
    launchOptions = LaunchOptions();
}

// A controller whose client goes and comes back between two looks at the ports is connected again;
// past eight peers a side the program says so once; a JACK server that shuts down and starts
// again gets the one client loopmixer back.
TEST(MidiJack, ControllersAndTheServerComeBack) {
    std::unique_ptr<JackServer> server(new JackServer("loopmixer-return-test"));
    ASSERT_TRUE(server->running()) << "jackd -d dummy did not start";
    std::unique_ptr<RtMidiOut> pads(new RtMidiOut(RtMidi::UNIX_JACK, "padbox"));
    pads->openVirtualPort("out");
    launchOptions = LaunchOptions();
    launchOptions.midi = true;
    launchOptions.midiConnect = {"padbox"};
    Harness h(modeBDemo());
    h.writeFile("data/remote.xml", "<all>\n\t<midiapi>jack</midiapi>\n</all>\n");
    openPlaying(h);
    ASSERT_TRUE(remoteMidiOn());

    jack_status_t status;
    jack_client_t* observer = jack_client_open("observer", JackNoStartServer, &status);
    ASSERT_NE(observer, nullptr);
    auto peersOfInput = [&] {
        const char** names = jack_port_get_all_connections(observer, jack_port_by_name(observer, "loopmixer:midi_in"));
        int n = 0;
        for (const char** p = names; p && *p; p++) n++;
        jack_free(names);
        return n;
    };
    // Frames on the program's clock and the wall's, until done() or about ten seconds.
    auto frameUntil = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); i++) {
            h.frame();
            usleep(20000);
        }
        return done();
    };
    ASSERT_TRUE(frameUntil([&] { return peersOfInput() == 1; }));

    pads.reset();
    pads.reset(new RtMidiOut(RtMidi::UNIX_JACK, "padbox"));
    pads->openVirtualPort("out");
    EXPECT_TRUE(frameUntil([&] { return peersOfInput() == 1; })) << "back at once, connected again";
    const std::vector<unsigned char> pad3 = {0x90, 38, 90};
    pads->sendMessage(&pad3);
    EXPECT_TRUE(frameUntil([&] { return decks.decks[1].track == 2; })) << "and its pads play";

    std::vector<std::unique_ptr<RtMidiOut>> more;
    for (int i = 0; i < MaxMidiConnections + 1; i++) {
        more.emplace_back(new RtMidiOut(RtMidi::UNIX_JACK, "padbox-" + std::to_string(i)));
        more.back()->openVirtualPort("out");
    }
    EXPECT_TRUE(frameUntil([&] { return peersOfInput() == MaxMidiConnections; }));
    h.frame(60);  // more than one look at the ports
    EXPECT_EQ(peersOfInput(), MaxMidiConnections);
    EXPECT_STREQ(notice.text, "MIDI: more than 8 inputs, the rest ignored");
    const std::string log = h.log(), told = "not connected: at most 8 connections a direction";
    EXPECT_NE(log.find(told), std::string::npos);
    EXPECT_EQ(log.find(told), log.rfind(told)) << "said once";
    more.clear();

    jack_client_close(observer);
    pads.reset();
    server->stop();
    ASSERT_TRUE(frameUntil([] { return !remoteMidiOn(); }));
    server.reset(new JackServer("loopmixer-return-test"));
    ASSERT_TRUE(server->running());
    EXPECT_TRUE(frameUntil([] { return remoteMidiOn(); })) << "checked every two seconds";
    EXPECT_STREQ(notice.text, "MIDI: back on JACK");
    observer = jack_client_open("observer", JackNoStartServer, &status);
    ASSERT_NE(observer, nullptr);
    pads.reset(new RtMidiOut(RtMidi::UNIX_JACK, "padbox"));
    pads->openVirtualPort("out");
    EXPECT_TRUE(frameUntil([&] { return peersOfInput() == 1; })) << "controllers on the new server connected";
    const char** ours = jack_get_ports(observer, "^loopmixer", nullptr, 0);
    int count = 0;
    for (const char** p = ours; p && *p; p++) count++;
    jack_free(ours);
    EXPECT_EQ(count, 2) << "one client loopmixer, its two ports";
    jack_client_close(observer);
    pads.reset();
    launchOptions = LaunchOptions();
}

}  // namespace
