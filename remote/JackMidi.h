// MIDI through JACK: one client "loopmixer" holding the two ports "midi_in" and "midi_out", each
// connected to as many peers as match. JACK's process thread and the main thread hand messages to
// each other through two bounded lock-free rings; a message that finds its ring full is dropped and
// counted, so neither thread ever waits for the other.
#pragma once
#include <jack/ringbuffer.h>
#include <jack/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class JackMidi {
public:
    enum OpenResult { Opened, NoServer, NameTaken, Failed };

    ~JackMidi() { close(); }
    // Never starts a server, never takes another client name.
    OpenResult open();
    void close();
    bool isOpen() const { return client != nullptr; }

    // Connects midi_in from every MIDI output port, and midi_out to every MIDI input port, of other
    // clients that wanted accepts by name or alias, up to limit peers a side; forgets (and logs)
    // peers that went away, and connects again a peer that is back (however short its absence:
    // JACK dropped the connection when it went). refused[0] (input) and refused[1] (output) get
    // the first wanted port left unconnected because its side holds limit peers, "" for none.
    void connectPeers(bool (*wanted)(const std::string& portName), int limit, std::string refused[2]);
    // True once after a port of any client was registered or unregistered: worth a new connect.
    bool portsChanged() { return portsMoved.exchange(false); }

    // The oldest message that arrived, with its time on JACK's clock in seconds since open. lost
    // says that messages were dropped just before it (the input ring was full). False when none.
    bool receive(std::vector<uint8_t>& bytes, double& seconds, bool& lost);
    // Queued for the next cycle; false (and counted) when the output ring is full.
    bool send(const uint8_t* bytes, int count);

    // True once after midi_out gained a connection (made here or by anyone else).
    bool outputConnected() { return outputNew.exchange(false); }
    // True once after the server shut down (the client is closed by then).
    bool serverGone();
    uint32_t droppedIn() const { return inDropped.load(); }
    uint32_t droppedOut() const { return outDropped.load(); }

    // Another part's ports on this client (the sound input): its work runs at the end of every
    // process cycle while set. Closing the client clears it; clearing waits for a running cycle.
    typedef void (*CycleHook)(jack_nframes_t frames, void* arg);
    void setCycleHook(CycleHook hook, void* arg);
    jack_client_t* jackClient() const { return client; }

private:
    // Runs on JACK's threads.
    static int process(jack_nframes_t frames, void* self);
    static void shutdown(void* self);
    static void portRegistration(jack_port_id_t port, int registered, void* self);

    std::string connectSide(bool output, bool (*wanted)(const std::string&), int limit);
    bool wantedByNameOrAlias(const std::string& name, bool (*wanted)(const std::string&));

    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    jack_ringbuffer_t* fromJack = nullptr;
    jack_ringbuffer_t* toJack = nullptr;
    jack_time_t openedAt = 0;
    jack_nframes_t sampleRate = 48000;
    bool lostBeforeNext = false;  // process thread only
    int outConnections = 0;       // process thread only
    std::atomic<uint32_t> inDropped{0}, outDropped{0};
    std::atomic<bool> outputNew{false}, gone{false}, portsMoved{false};
    std::vector<std::string> peers[2];  // connected by us: [0] into midi_in, [1] from midi_out
    std::atomic<CycleHook> cycleHook{nullptr};
    std::atomic<void*> cycleArg{nullptr};
    std::atomic<bool> inCycleHook{false};
};
