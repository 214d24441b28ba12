// The sound input end to end: a JACK server with the dummy backend, a test client "player" that
// plays a drum piece (rendered from hydrogen-drumkits) on its output port, and the program
// listening on loopmixer:audio_in. The player's port appears after the program started and is
// connected by --audio-connect; the beat clock follows the sound, kicks flash, silence keeps the
// tempo; the input shares the MIDI client "loopmixer". Without a server the program plays on; a
// server that comes back gets the input back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/LaunchOptions.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "jack_server.h"
#include "mixer/Decks.h"
#include "remote/OscFeedback.h"
#include "remote/Remote.h"
#include "remote/SoundFollow.h"
#include "tempo/TempoClock.h"
#include "tests/drum_pieces.h"

namespace {

typedef std::chrono::steady_clock Clock;
const Clock::time_point origin = Clock::now();

// Runs the program on the fake clock kept on real time until done() holds or ms ran out.
template <class Done>
bool playUntil(Harness& h, int ms, Done done) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
        const uint32_t now = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count());
        h.callAfter(now > platform::ticks() ? now - platform::ticks() : 0);
        if (done()) return true;
        usleep(4000);
    }
    return false;
}

// A JACK client playing samples in a loop on its port "out" (silence while muted).
class Player {
public:
    explicit Player(const std::vector<float>& piece) : samples(piece) {
        jack_status_t status;
        client = jack_client_open("player", JackNoStartServer, &status);
        if (!client) return;
        port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, process, this);
        if (!port || jack_activate(client) != 0) {
            jack_client_close(client);
            client = nullptr;
        }
    }
    ~Player() {
        if (client) jack_client_close(client);
    }
    bool ok() const { return client != nullptr; }
    int connections() const { return port ? jack_port_connected(port) : 0; }
    std::atomic<bool> muted{false};

private:
    static int process(jack_nframes_t frames, void* self) {
        Player& p = *static_cast<Player*>(self);
        float* out = static_cast<float*>(jack_port_get_buffer(p.port, frames));
        for (jack_nframes_t i = 0; i < frames; i++) {
            out[i] = p.muted ? 0.0f : p.samples[p.at];
            p.at = (p.at + 1) % p.samples.size();
        }
        return 0;
    }
    const std::vector<float>& samples;
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    size_t at = 0;
};

// What the program sent to its OSC feedback target about the sound.
struct Heard {
    int levels = 0, levelsOutOfRange = 0, onsets = 0;
};
Heard heard;

// liblo's argument pointers are only 4-byte aligned: the values are copied out.
template <class T>
T valueAt(const lo_arg* a) {
    T v;
    std::memcpy(&v, a, sizeof v);
    return v;
}

int record(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void*) {
    if (std::string(path) == "/loopmixer/level" && argc == 3 && std::string(types) == "fff") {
        heard.levels++;
        for (int b = 0; b < 3; b++) {
            const float level = valueAt<float>(argv[b]);
            heard.levelsOutOfRange += !(level >= 0.0f && level <= 1.0f);
        }
    }
    if (std::string(path) == "/loopmixer/onset" && argc == 1 && types[0] == 'i' && valueAt<int32_t>(argv[0]) == 1)
        heard.onsets++;
    return 0;
}

float feedbackValue(const char* address) {
    static const char* wanted;
    static float value;
    wanted = address;
    value = -1;
    pollOscFeedback(true, [](const char* a, char type, const OscArg& v) {
        if (type == 'f' && std::string(a) == wanted) value = v.f;
    });
    return value;
}

TEST(SoundJack, FollowsAPlayerThatAppearsLaterAndKeepsTheTempoThroughSilence) {
    JackServer server("loopmixer-sound-test");
    ASSERT_TRUE(server.running()) << "jackd -d dummy did not start";
    // Sixteen beats at 128 BPM loop seamlessly.
    const drums::Piece piece = drums::render({"Millo-Drums_v.1", drums::FourOnFloor, 128, false, true, false, 7.5});
    ASSERT_FALSE(piece.samples.empty()) << "hydrogen-drumkits is missing";

    lo_server listener = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    ASSERT_NE(nullptr, listener);
    lo_server_add_method(listener, nullptr, nullptr, record, nullptr);
    heard = Heard();
    launchOptions = LaunchOptions();
    launchOptions.audio = true;
    launchOptions.audioConnect = {"player"};
    launchOptions.oscPort = freeUdpPort();
    launchOptions.oscFeedback = {"127.0.0.1:" + std::to_string(lo_server_get_port(listener))};
    HarnessOptions o = HarnessOptions::withoutPictures();
    o.start = false;
    Harness h(o);
    h.writeFile("data/remote.xml",
                "<all>\n\t<midi>1</midi>\n\t<midiapi>jack</midiapi>\n\t<sound>kick flash</sound>\n</all>\n");
    ASSERT_TRUE(h.startUp());
    ASSERT_TRUE(soundOpen());
    ASSERT_TRUE(remoteMidiOn());
    tempoClock.setTempo(100, platform::ticks());
    lo_address program = lo_address_new("127.0.0.1", std::to_string(launchOptions.oscPort).c_str());
    lo_send(program, "/loopmixer/follow", "i", 1);
    lo_address_free(program);
    ASSERT_TRUE(playUntil(h, 5000, [] { return tempoClock.followSound == 1; })) << "/loopmixer/follow";
    {
        // One client "loopmixer" holds both the MIDI ports and audio_in.
        jack_status_t status;
        jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
        ASSERT_NE(nullptr, probe);
        EXPECT_NE(nullptr, jack_port_by_name(probe, "loopmixer:audio_in"));
        EXPECT_NE(nullptr, jack_port_by_name(probe, "loopmixer:midi_in"));
        jack_client_close(probe);
    }

    Player player(piece.samples);
    ASSERT_TRUE(player.ok());
    bool flashed = false;
    const auto playing = Clock::now();
    const bool settled = playUntil(h, 40000, [&] {
        flashed |= decks.flash > 0;
        while (lo_server_recv_noblock(listener, 0) > 0) {
        }
        return tempoClock.source == TempoSound && std::fabs(tempoClock.bpm() - 128) < 0.5 && flashed;
    });
    EXPECT_GE(player.connections(), 1) << "--audio-connect never connected the player";
    ASSERT_TRUE(settled) << "tempo " << tempoClock.bpm() << ", source " << tempoClock.source << ", flashed " << flashed;
    EXPECT_NEAR(128.0, feedbackValue("/loopmixer/tempo"), 0.5);
    // Levels at most 25 times a second, within 0.0-1.0; an onset at kicks (one a beat here).
    const double seconds = std::chrono::duration<double>(Clock::now() - playing).count();
    EXPECT_GT(heard.levels, 0);
    EXPECT_LE(heard.levels, 25 * seconds + 2);
    EXPECT_EQ(0, heard.levelsOutOfRange);
    EXPECT_GE(heard.onsets, int(seconds * 128 / 60 / 2)) << "at least half the kicks";

    // Silence: once the analysis has caught up with it (the levels fell), the tempo runs on as it
    // was.
    player.muted = true;
    EXPECT_TRUE(playUntil(h, 10000, [] {
        float levels[3];
        soundLevels(levels);
        return levels[0] + levels[1] + levels[2] < 0.01f;
    }));
    playUntil(h, 300, [] { return false; });
    const double bpm = tempoClock.bpm();
    playUntil(h, 3500, [] { return false; });
    EXPECT_NEAR(bpm, tempoClock.bpm(), 0.01) << h.log();
    EXPECT_NEAR(128.0, tempoClock.bpm(), 1.0);
    EXPECT_EQ(TempoSound, tempoClock.source);
    launchOptions = LaunchOptions();
    lo_server_free(listener);
}

// A JACK server that shuts down and starts again gets audio_in back, on a client of its own with
// MIDI off (looked for every two seconds) or on MIDI's client with MIDI through JACK, connected
// to the player again, with the levels flowing; the program plays on meanwhile.
TEST(SoundJack, TheInputComesBackWithTheServer) {
    const drums::Piece piece = drums::render({"HardElectro1", drums::FourOnFloor, 124, false, false, false, 3.87});
    ASSERT_FALSE(piece.samples.empty()) << "hydrogen-drumkits is missing";
    auto levelsFlow = [] {
        float levels[3];
        soundLevels(levels);
        return levels[0] + levels[1] + levels[2] > 0.05f;
    };
    for (const bool midi : {false, true}) {
        SCOPED_TRACE(midi ? "on the MIDI client" : "on a client of its own");
        const std::string name = midi ? "loopmixer-sound-shared" : "loopmixer-sound-own";
        std::unique_ptr<JackServer> server(new JackServer(name));
        ASSERT_TRUE(server->running()) << "jackd -d dummy did not start";
        launchOptions = LaunchOptions();
        launchOptions.audio = true;
        launchOptions.audioConnect = {"player"};
        HarnessOptions o = HarnessOptions::withoutPictures();
        o.start = false;
        Harness h(o);
        h.writeFile("data/remote.xml",
                    midi ? "<all>\n\t<midi>1</midi>\n\t<midiapi>jack</midiapi>\n</all>\n" : "<all>\n</all>\n");
        ASSERT_TRUE(h.startUp());
        ASSERT_TRUE(soundOpen());
        ASSERT_EQ(midi, remoteMidiOn());
        {
            Player player(piece.samples);
            ASSERT_TRUE(player.ok());
            ASSERT_TRUE(playUntil(h, 10000, [&] { return player.connections() >= 1 && levelsFlow(); }));
            server->stop();
            ASSERT_TRUE(playUntil(h, 10000, [] { return !soundOpen(); }));
            EXPECT_TRUE(h.frame(10)) << "plays on without the server";
        }
        server.reset(new JackServer(name));
        ASSERT_TRUE(server->running());
        Player player(piece.samples);
        ASSERT_TRUE(player.ok());
        EXPECT_TRUE(playUntil(h, 15000, [&] { return soundOpen() && player.connections() >= 1 && levelsFlow(); }))
            << h.log();
        const std::string log = h.log(), back = "sound: back on JACK";
        EXPECT_NE(std::string::npos, log.find(back));
        EXPECT_EQ(log.find(back), log.rfind(back)) << "said once";
        EXPECT_EQ(midi, remoteMidiOn());
        jack_status_t status;
        jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
        ASSERT_NE(nullptr, probe);
        EXPECT_NE(nullptr, jack_port_by_name(probe, "loopmixer:audio_in"));
        EXPECT_EQ(midi, jack_port_by_name(probe, "loopmixer:midi_in") != nullptr) << "one client loopmixer";
        jack_client_close(probe);
        launchOptions = LaunchOptions();
    }
}

TEST(SoundJack, WithoutAServerTheProgramPlaysOn) {
    setenv("JACK_DEFAULT_SERVER", ("loopmixer-none-" + std::to_string(getpid())).c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    launchOptions = LaunchOptions();
    launchOptions.audio = true;
    HarnessOptions o = HarnessOptions::withoutPictures();
    Harness h(o);
    EXPECT_FALSE(soundOpen());
    EXPECT_NE(std::string::npos, h.log().find("sound: no JACK server running"));
    EXPECT_TRUE(h.frame(10));
    launchOptions = LaunchOptions();
}

}  // namespace
