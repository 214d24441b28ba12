#include "remote/JackMidi.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <unistd.h>

namespace {

const char* const ClientName = "loopmixer";
// Powers of two (JACK rounds up to them): the input holds about 860 three-byte messages, a few
// frames' worth of a dense controller; the output all the lights many times over.
constexpr size_t InRingBytes = 16384;
constexpr size_t OutRingBytes = 8192;

// Record headers in the rings, each followed by its message's bytes.
struct InRecord {
    jack_time_t usecs;  // the event's time on JACK's clock
    uint32_t size;
    uint32_t lost;  // 1: messages were dropped just before this one
};

struct OutRecord {
    uint32_t size;
};

// A complete record waits at the ring's read side: its header is copied to header.
template <class Record>
bool peekRecord(jack_ringbuffer_t* ring, Record& header) {
    return jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&header), sizeof header) == sizeof header &&
           jack_ringbuffer_read_space(ring) >= sizeof header + header.size;
}

// Writes header and bytes when both fit (the reader takes a record only once all of it is there).
template <class Record>
bool writeRecord(jack_ringbuffer_t* ring, const Record& header, const void* bytes, size_t size) {
    if (jack_ringbuffer_write_space(ring) < sizeof header + size) return false;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&header), sizeof header);
    jack_ringbuffer_write(ring, static_cast<const char*>(bytes), size);
    return true;
}

// JACK reports a taken name as a server error rather than JackNameNotUnique when the exact name was
// asked for: a client of another name then looks.
JackMidi::OpenResult whyNotOpen(jack_status_t status) {
    if (status & JackNameNotUnique) return JackMidi::NameTaken;
    if (status & JackServerFailed) return JackMidi::NoServer;
    jack_client_t* probe = jack_client_open("loopmixer-probe", JackNoStartServer, &status);
    if (!probe) return JackMidi::NoServer;
    char* uuid = jack_get_uuid_for_client_name(probe, ClientName);
    jack_client_close(probe);
    if (!uuid) return JackMidi::Failed;
    jack_free(uuid);
    return JackMidi::NameTaken;
}

}  // namespace

// The server's own MIDI ports carry the device's name only in an alias ("system:midi_capture_1"
// is also "alsa_pcm:nanoPAD2/midi_capture_1"): an alias that matches counts.
bool JackMidi::wantedByNameOrAlias(const std::string& name, bool (*wanted)(const std::string&)) {
    if (wanted(name)) return true;
    jack_port_t* port = jack_port_by_name(client, name.c_str());
    if (!port) return false;
    std::vector<char> storage(2 * size_t(jack_port_name_size()));
    char* aliases[2] = {storage.data(), storage.data() + storage.size() / 2};
    const int count = jack_port_get_aliases(port, aliases);
    for (int i = 0; i < count && i < 2; i++)
        if (wanted(aliases[i])) return true;
    return false;
}

JackMidi::OpenResult JackMidi::open() {
    close();
    jack_status_t status;
    client = jack_client_open(ClientName, jack_options_t(JackNoStartServer | JackUseExactName), &status);
    if (!client) return whyNotOpen(status);
    in = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    fromJack = jack_ringbuffer_create(InRingBytes);
    toJack = jack_ringbuffer_create(OutRingBytes);
    if (!in || !out || !fromJack || !toJack) {
        close();
        return Failed;
    }
    // Kept in memory if allowed: a page fault on JACK's thread would be a late cycle.
    jack_ringbuffer_mlock(fromJack);
    jack_ringbuffer_mlock(toJack);
    lostBeforeNext = false;
    outConnections = 0;
    inDropped = outDropped = 0;
    openedAt = jack_get_time();
    sampleRate = jack_get_sample_rate(client);
    if (sampleRate == 0) sampleRate = 48000;
    jack_set_process_callback(client, process, this);
    jack_on_shutdown(client, shutdown, this);
    jack_set_port_registration_callback(client, portRegistration, this);
    if (jack_activate(client) != 0) {
        close();
        return Failed;
    }
    return Opened;
}

void JackMidi::close() {
    // Closing stops JACK's threads first: only then may the rings go.
    if (client) jack_client_close(client);
    client = nullptr;
    in = out = nullptr;
    if (fromJack) jack_ringbuffer_free(fromJack);
    if (toJack) jack_ringbuffer_free(toJack);
    fromJack = toJack = nullptr;
    peers[0].clear();
    peers[1].clear();
    cycleHook = nullptr;
    gone = false;
    outputNew = false;
    portsMoved = false;
}

bool JackMidi::serverGone() {
    if (!gone.exchange(false)) return false;
    close();
    return true;
}

int JackMidi::process(jack_nframes_t frames, void* self) {
    JackMidi& m = *static_cast<JackMidi*>(self);
    void* inBuffer = jack_port_get_buffer(m.in, frames);
    // A cycle's input arrived during the period that ends as the cycle wakes: the wake time read
    // on the clock, less the period, places each event by its frame. Read rather than derived
    // from the frame counter, whose smoothed times drift from the senders' clocks when a loaded
    // server wakes late.
    const jack_time_t wake = jack_get_time();
    const jack_time_t period = jack_time_t(frames) * 1000000u / m.sampleRate;
    const uint32_t count = jack_midi_get_event_count(inBuffer);
    for (uint32_t i = 0; i < count; i++) {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, inBuffer, i) != 0) continue;
        const InRecord r{wake - period + jack_time_t(e.time) * 1000000u / m.sampleRate, uint32_t(e.size), m.lostBeforeNext};
        if (writeRecord(m.fromJack, r, e.buffer, e.size)) {
            m.lostBeforeNext = false;
        } else {
            m.inDropped++;
            m.lostBeforeNext = true;
        }
    }

    // A connection counts once this cycle's data flows through it: what is sent in reply (the
    // lights) cannot reach the peer before.
    const int connections = jack_port_connected(m.out);
    if (connections > m.outConnections) m.outputNew = true;
    m.outConnections = connections;

    void* outBuffer = jack_port_get_buffer(m.out, frames);
    jack_midi_clear_buffer(outBuffer);
    bool empty = true;
    OutRecord r;
    while (peekRecord(m.toJack, r)) {
        jack_midi_data_t* place = jack_midi_event_reserve(outBuffer, 0, r.size);
        if (!place && !empty) break;  // this cycle's buffer is full: the rest goes in the next
        jack_ringbuffer_read_advance(m.toJack, sizeof r);
        if (!place) {
            // Larger than a whole cycle's buffer: it would never go, and hold up the rest.
            jack_ringbuffer_read_advance(m.toJack, r.size);
            m.outDropped++;
            continue;
        }
        jack_ringbuffer_read(m.toJack, reinterpret_cast<char*>(place), r.size);
        empty = false;
    }

    m.inCycleHook = true;
    if (CycleHook hook = m.cycleHook.load()) hook(frames, m.cycleArg.load());
    m.inCycleHook = false;
    return 0;
}

void JackMidi::setCycleHook(CycleHook hook, void* arg) {
    cycleHook = nullptr;
    while (inCycleHook) usleep(100);  // a cycle still running the old hook
    cycleArg = arg;
    cycleHook = hook;
}

void JackMidi::shutdown(void* self) { static_cast<JackMidi*>(self)->gone = true; }

void JackMidi::portRegistration(jack_port_id_t, int, void* self) { static_cast<JackMidi*>(self)->portsMoved = true; }

bool JackMidi::receive(std::vector<uint8_t>& bytes, double& seconds, bool& lost) {
    InRecord r;
    if (!fromJack || !peekRecord(fromJack, r)) return false;
    jack_ringbuffer_read_advance(fromJack, sizeof r);
    bytes.resize(r.size);
    jack_ringbuffer_read(fromJack, reinterpret_cast<char*>(bytes.data()), r.size);
    seconds = double(int64_t(r.usecs - openedAt)) * 1e-6;
    lost = r.lost != 0;
    return true;
}

bool JackMidi::send(const uint8_t* bytes, int count) {
    if (!toJack || count <= 0) return false;
    if (writeRecord(toJack, OutRecord{uint32_t(count)}, bytes, size_t(count))) return true;
    outDropped++;
    return false;
}

void JackMidi::connectPeers(bool (*wanted)(const std::string&), int limit, std::string refused[2]) {
    refused[0] = refused[1] = "";
    if (!client) return;
    refused[0] = connectSide(false, wanted, limit);
    refused[1] = connectSide(true, wanted, limit);
}

std::string JackMidi::connectSide(bool output, bool (*wanted)(const std::string&), int limit) {
    // midi_in's peers are the MIDI output ports of other clients, midi_out's their input ports.
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, output ? JackPortIsInput : JackPortIsOutput);
    std::vector<std::string> present;
    for (const char** n = names; n && *n; n++) present.push_back(*n);
    jack_free(names);

    std::vector<std::string>& side = peers[output];
    const char* direction = output ? "output to " : "input from ";
    jack_port_t* ourPort = output ? out : in;
    const char* ours = jack_port_name(ourPort);
    auto connect = [&](const std::string& name) {
        const int result = output ? jack_connect(client, ours, name.c_str()) : jack_connect(client, name.c_str(), ours);
        return result == 0 ? 1 : result == EEXIST ? 0 : -1;  // made, was there, failed
    };
    // JACK drops the connections of a port that goes away; only the list is left to tidy. A port
    // that went and came back under its name since the last look is here again, unconnected.
    // (A connection just made may not show yet: connecting again tells.)
    for (size_t k = side.size(); k-- > 0;) {
        const bool here = std::find(present.begin(), present.end(), side[k]) != present.end();
        if (here && jack_port_connected_to(ourPort, side[k].c_str())) continue;
        const int result = here ? connect(side[k]) : -1;
        if (result == 0) continue;
        std::cout << "midi: " << direction << side[k] << " gone" << std::endl;
        if (result == 1) std::cout << "midi: " << direction << side[k] << std::endl;
        else side.erase(side.begin() + long(k));
    }
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    for (const std::string& name : present) {
        if (name.compare(0, own.size(), own) == 0 || !wantedByNameOrAlias(name, wanted)) continue;
        if (std::find(side.begin(), side.end(), name) != side.end()) continue;
        if (int(side.size()) >= limit) return name;
        if (connect(name) < 0) {
            std::cout << "midi: cannot connect " << direction << name << std::endl;
            continue;
        }
        side.push_back(name);
        std::cout << "midi: " << direction << name << std::endl;
    }
    return "";
}
