// The MIDI clock end to end: a sequencer's clock (RtMidi on the test's side) through a JACK server
// with the dummy backend into the program's MIDI input, whose system-message hook drives the beat
// clock: Start, a steady clock with jitter, Stop (free-running), Song Position and Continue.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/LaunchOptions.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "jack_server.h"
#include "remote/Remote.h"
#include "remote/TempoControls.h"
#include "tempo/TempoClock.h"

namespace {

typedef std::chrono::steady_clock Clock;

// Sends count clocks at bpm in real time, each up to 2 ms early or late (deterministic), from a
// thread of its own while the program runs frames.
class Sequencer {
public:
    explicit Sequencer(RtMidiOut& port) : out(port) {}
    void send(std::vector<unsigned char> bytes) { out.sendMessage(&bytes); }
    void clocks(int count, double bpm) {
        wait();
        done = false;
        worker = std::thread([this, count, bpm] {
            const auto start = Clock::now();
            const double stepMs = 60000.0 / bpm / ClocksPerBeat;
            for (int i = 0; i < count; i++) {
                seed = seed * 1103515245u + 12345u;
                const double jitter = double((seed >> 8) % 4001) / 1000.0 - 2.0;
                std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t((i * stepMs + jitter) * 1000)));
                send({ClockByte::Tick});
            }
            done = true;
        });
    }
    void wait() {
        if (worker.joinable()) worker.join();
    }
    std::atomic<bool> done{true};

private:
    RtMidiOut& out;
    std::thread worker;
    unsigned seed = 7;
};

// Runs the program on the fake clock kept on real time, reading its inputs every 2 ms and making
// frames when they are due, until done() holds (then a few milliseconds more) or ms ran out.
const Clock::time_point origin = Clock::now();  // the fake clock's 0 (one for every caller)

template <class Done>
bool playUntil(Harness& h, int ms, Done done) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    bool reached = false;
    for (int after = 0; after < 10 && Clock::now() < until;) {
        const uint32_t now = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count());
        h.callAfter(now > platform::ticks() ? now - platform::ticks() : 0);
        usleep(2000);
        if (reached || done()) reached = true, after++;
    }
    return reached;
}

// Waits until the sequencer is done, and 300 ms more for the last clocks. A JACK dummy server on a busy
// machine can lose a late cycle's events, so a few clocks may be missing, never extra.
// Returns how many were lost.
int64_t arrived(Harness& h, Sequencer& seq, int64_t from, int sent) {
    EXPECT_TRUE(playUntil(h, 8000, [&] { return bool(seq.done); }));
    seq.wait();
    playUntil(h, 300, [] { return false; });
    EXPECT_LE(tempoClock.nextClock, from + sent);
    EXPECT_GE(tempoClock.nextClock, from + sent * 9 / 10) << "most clocks arrived";
    return from + sent - tempoClock.nextClock;
}

// Within 1.5 BPM when every clock arrived. A lost clock numbers the ones after it one short, which
// bends the fitted line by up to several BPM depending on where it fell: then only a wrong clock
// rate (a tenth off) is caught.
double bpmBound(double bpm, int64_t lost) { return lost == 0 ? 1.5 : bpm / 10; }

TEST(MidiClockJack, StartSteadyStopSongPositionAndContinue) {
    JackServer server("loopmixer-clock-test");
    ASSERT_TRUE(server.running()) << "jackd -d dummy did not start";
    RtMidiOut port(RtMidi::UNIX_JACK, "clockbox");
    port.openVirtualPort("out");
    Sequencer seq(port);

    launchOptions = LaunchOptions();
    launchOptions.midi = true;
    launchOptions.midiConnect = {"clockbox"};
    HarnessOptions o = HarnessOptions::withoutPictures();
    o.start = false;
    Harness h(o);
    h.writeFile("data/remote.xml", "<all>\n\t<midiapi>jack</midiapi>\n</all>\n");
    ASSERT_TRUE(h.startUp());
    ASSERT_TRUE(remoteMidiOn());
    // Connected once a message gets through (a Stop, which a later Start overrides).
    bool connected = false;
    for (int i = 0; i < 50 && !connected; i++) {
        seq.send({ClockByte::Stop});
        connected = playUntil(h, 100, [] { return tempoClock.clockState == ClockStopped; });
    }
    ASSERT_TRUE(connected) << "the sequencer's port was never connected";

    // Start and three beats at 128 BPM: the clock rules, tap or not. The arrival times are real
    // ones through JACK on a machine that may be busy (a JACK cycle delivers what was sent during
    // a late one at once), so the bounds are wider than the scripted tests' figures.
    seq.send({ClockByte::Start});
    seq.clocks(3 * ClocksPerBeat, 128);
    const int64_t lost = arrived(h, seq, 0, 3 * ClocksPerBeat);
    EXPECT_EQ(TempoMidiClock, tempoClock.source);
    EXPECT_EQ(ClockRunning, tempoClock.clockState);
    EXPECT_NEAR(128.0, tempoClock.bpm(), bpmBound(128, lost));
    tempoClock.tap(tempoClock.lastClockMs + 1);
    EXPECT_EQ(TempoMidiClock, tempoClock.source) << "taps wait while the clock runs";

    // Stop: the tempo runs on; a stopped sequencer's clocks change nothing.
    seq.send({ClockByte::Stop});
    ASSERT_TRUE(playUntil(h, 3000, [] { return tempoClock.clockState == ClockStopped; }));
    const double bpm = tempoClock.bpm();
    seq.clocks(ClocksPerBeat, 90);
    playUntil(h, 4000, [&] { return bool(seq.done); });
    seq.wait();
    EXPECT_EQ(ClockStopped, tempoClock.clockState);
    EXPECT_EQ(bpm, tempoClock.bpm());

    // Song Position at bar 2 (16 sixteenths), Continue, two beats at 100 BPM.
    seq.send({ClockByte::SongPosition, 16, 0});
    seq.send({ClockByte::Continue});
    seq.clocks(2 * ClocksPerBeat, 100);
    const int64_t lostAfter = arrived(h, seq, 16 * 6, 2 * ClocksPerBeat);
    EXPECT_EQ(ClockRunning, tempoClock.clockState);
    EXPECT_NEAR(100.0, tempoClock.bpm(), bpmBound(100, lostAfter));
    EXPECT_NEAR((16 * 6 + 2 * ClocksPerBeat - 1) / double(ClocksPerBeat), tempoClock.beatAt(tempoClock.lastClockMs), 0.25)
        << "the last clock's place in the song";
    launchOptions = LaunchOptions();
}

}  // namespace
