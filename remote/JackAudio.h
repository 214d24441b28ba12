// Sound input through JACK: the port "audio_in" on the client that holds the MIDI ports, or
// on a client "loopmixer" of its own when MIDI does not use JACK. JACK's process thread only
// copies each cycle's samples, with the time of the first, into a lock-free ring; a thread of its
// own runs the analysis and publishes readings on JACK's clock, which the main thread reads once
// per frame. Neither JACK's thread nor the main thread ever waits for the analysis.
#pragma once
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/SoundAnalyser.h"

class JackMidi;

// A reading with its times on JACK's clock (microseconds, as jack_get_time gives them).
struct AudioReading {
    SoundReading sound;
    double beatUs = 0;      // where the latest beat fell
    double beatLengthUs = 0;
    double lastKickUs = 0;  // where the latest kick began
};

class JackAudio {
public:
    enum OpenResult { Opened, NoServer, NameTaken, Failed };

    ~JackAudio() { close(); }
    // shared: the MIDI client to add the port to; nullptr opens a client "loopmixer" of its own
    // (never starting a server, never under another name).
    OpenResult open(JackMidi* shared);
    void close();
    bool isOpen() const { return client != nullptr; }
    // The client the port lives on (the MIDI one when shared).
    jack_client_t* jackClient() const { return client; }
    bool sharesMidiClient() const { return midi != nullptr; }

    // Connects audio_in from every audio output port of other clients whose name or alias contains
    // one of the patterns (letter case ignored), up to limit; forgets (and logs) ports gone away.
    void connectPeers(const std::vector<std::string>& patterns, int limit);
    // True once after the server shut down under a client of its own (closed by then).
    bool serverGone();

    // The latest reading; false before the first hop was analysed.
    bool latest(AudioReading& out);
    // A performer's tap at this JACK time; with a previous tap, the beat's length too.
    void tap(double usecs, double beatLengthUs);
    uint32_t droppedCycles() const { return dropped.load(); }

private:
    static int process(jack_nframes_t frames, void* self);
    static void shutdown(void* self);
    void copyCycle(jack_nframes_t frames);
    void analyse();

    JackMidi* midi = nullptr;
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* ring = nullptr;
    jack_nframes_t sampleRate = 48000;
    sem_t wake;
    bool semaphoreMade = false;
    std::thread worker;
    std::atomic<bool> stopping{false}, gone{false};
    std::atomic<uint32_t> dropped{0};
    std::vector<std::string> peers;

    // Taps for the analysis thread: JACK times in microseconds, 0 when none waits.
    std::atomic<double> tapUs{0}, tapLengthUs{0};

    std::mutex publish;  // guards reading
    AudioReading reading;
    bool published = false;
};
