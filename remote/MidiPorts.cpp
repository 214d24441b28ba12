#include "remote/MidiPorts.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "core/Notice.h"
#include "remote/JackMidi.h"

namespace {

// Through ALSA the ports are RtMidi's. One RtMidi port object: the program's own port, connected to
// the peer port named (one connection per object, as RtMidi makes them), or to none.
struct InputPort {
    std::unique_ptr<RtMidiIn> port;
    bool open = false;
    std::string peer;  // "" for a port of its own, or one whose peer went away
    MidiParser parser;
    double seconds = 0;  // sum of RtMidi's time deltas: the input's own clock
};

struct OutputPort {
    std::unique_ptr<RtMidiOut> port;
    bool open = false;
    std::string peer;
};

std::vector<InputPort> inputs;
std::vector<OutputPort> outputs;
std::vector<std::string> patterns;
RtMidi::Api api = RtMidi::UNSPECIFIED;
bool outputsNew = false;
uint32_t lastScan = 0;
std::vector<unsigned char> message;

// Through JACK: one client, one parser for everything that reaches midi_in.
JackMidi jack;
MidiParser jackParser;
uint32_t reportedDrops[2];  // input, output
bool jackLost = false;      // the server shut down: its return is watched for
bool nameTakenTold = false; // since it was lost

// A side that found more matching ports than it connects says so once a run.
bool limitTold[2];

void tellLimit(bool output, const std::string& name) {
    if (name.empty() || limitTold[output]) return;
    limitTold[output] = true;
    std::cout << "midi: " << (output ? "output to " : "input from ") << name << " not connected: at most "
              << MaxMidiConnections << " connections a direction" << std::endl;
    char text[64];
    snprintf(text, sizeof text, "MIDI: more than %d %s, the rest ignored", MaxMidiConnections, output ? "outputs" : "inputs");
    postNotice(text);
}

// RtMidi reports errors through this instead of throwing once a port object exists.
void quietError(RtMidiError::Type type, const std::string& text, void*) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) std::cout << "midi: " << text << std::endl;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(tolower(uint8_t(c)));
    return s;
}

bool matches(const std::string& portName) {
    const std::string name = lower(portName);
    if (name.find("loopmixer") != std::string::npos) return false;  // never ourselves
    for (const std::string& p : patterns)
        if (!p.empty() && name.find(lower(p)) != std::string::npos) return true;
    return false;
}

void makePort(InputPort& p) {
    p.port.reset(new RtMidiIn(api, "loopmixer", MidiQueueLimit));
    p.port->setErrorCallback(quietError, nullptr);
    p.port->ignoreTypes(true, false, true);  // SysEx and active sensing dropped; clock kept
}

void makePort(OutputPort& p) {
    p.port.reset(new RtMidiOut(api, "loopmixer"));
    p.port->setErrorCallback(quietError, nullptr);
}

// Brings one side up to date with the ports there are now: connections whose peer went away are
// dropped, every matching port not yet connected gets one, and without any the first object opens
// a port of its own that others connect to. The first object stays for the whole run: it lists
// the ports.
template <class Port>
void scanSide(std::vector<Port>& side, bool output) {
    const char* portName = output ? "midi_out" : "midi_in";
    if (side.empty()) {
        side.emplace_back();
        makePort(side[0]);
    }
    std::vector<std::string> names;
    for (unsigned i = 0, n = side[0].port->getPortCount(); i < n; i++) names.push_back(side[0].port->getPortName(i));
    auto present = [&](const std::string& name) {
        for (const std::string& s : names)
            if (s == name) return true;
        return false;
    };
    for (size_t k = side.size(); k-- > 0;) {
        if (side[k].peer.empty() || present(side[k].peer)) continue;
        std::cout << "midi: " << (output ? "output to " : "input from ") << side[k].peer << " gone" << std::endl;
        if (k == 0) side[0].peer.clear();
        else side.erase(side.begin() + long(k));
    }
    for (unsigned i = 0; i < names.size(); i++) {
        if (!matches(names[i])) continue;
        bool connected = false;
        int connections = 0;
        for (const Port& p : side) {
            connected |= p.peer == names[i];
            connections += !p.peer.empty();
        }
        if (connected) continue;
        if (connections >= MaxMidiConnections) {
            tellLimit(output, names[i]);
            break;
        }
        if (side[0].open) {
            side.emplace_back();
            makePort(side.back());
        }
        Port& p = side[0].open ? side.back() : side[0];
        // The list may have changed since the first object read it.
        if (p.port->getPortName(i) != names[i]) {
            if (&p != &side[0]) side.pop_back();
            continue;
        }
        p.port->openPort(i, portName);
        p.open = true;
        p.peer = names[i];
        if (output) outputsNew = true;
        std::cout << "midi: " << (output ? "output to " : "input from ") << names[i] << std::endl;
    }
    if (!side[0].open) {
        side[0].port->openVirtualPort(portName);
        side[0].open = true;
        if (output) outputsNew = true;
    }
}

// Connects matching ports that appeared since the last scan.
void scan() {
    if (api == RtMidi::UNIX_JACK) {
        std::string refused[2];
        jack.connectPeers(matches, MaxMidiConnections, refused);
        tellLimit(false, refused[0]);
        tellLimit(true, refused[1]);
        return;
    }
    scanSide(inputs, false);
    scanSide(outputs, true);
}

// Logs the messages that found one of JACK's rings full since the last report.
void reportDrops() {
    const uint32_t dropped[2] = {jack.droppedIn(), jack.droppedOut()};
    for (int side = 0; side < 2; side++) {
        if (dropped[side] == reportedDrops[side]) continue;
        std::cout << "midi: " << dropped[side] - reportedDrops[side] << (side ? " outgoing" : " incoming")
                  << " messages dropped (queue full)" << std::endl;
        reportedDrops[side] = dropped[side];
    }
}

// Opens the one JACK client; false, with the log line and notice that say why, when it cannot.
bool openJack() {
    switch (jack.open()) {
    case JackMidi::Opened:
        return true;
    case JackMidi::NoServer:
        std::cout << "midi: no JACK server running" << std::endl;
        postNotice("MIDI: no JACK server running");
        return false;
    case JackMidi::NameTaken:
        std::cout << "midi: JACK client loopmixer exists already" << std::endl;
        postNotice("MIDI: JACK client loopmixer exists already");
        return false;
    case JackMidi::Failed:
        break;
    }
    std::cout << "midi: cannot open the JACK ports" << std::endl;
    postNotice("MIDI: cannot open the JACK ports");
    return false;
}

// Opens the JACK client again once a server is back, under the same rule as at start (its own name
// or nothing); quiet while there is no server, which libjack would otherwise report on stderr.
void retryJack() {
    void (*saved)(const char*) = jack_error_callback;
    jack_set_error_function([](const char*) {});
    const JackMidi::OpenResult result = jack.open();
    jack_set_error_function(saved);
    if (result == JackMidi::NameTaken && !nameTakenTold) {
        nameTakenTold = true;
        std::cout << "midi: JACK client loopmixer exists already" << std::endl;
        postNotice("MIDI: JACK client loopmixer exists already");
    }
    if (result != JackMidi::Opened) return;
    jackLost = false;
    jackParser.reset();
    reportedDrops[0] = reportedDrops[1] = 0;
    std::cout << "midi: back on JACK" << std::endl;
    postNotice("MIDI: back on JACK");
    scan();
}

}  // namespace

bool openMidiPorts(const std::string& apiName, const std::vector<std::string>& connect) {
    closeMidiPorts();
    patterns = connect;
    limitTold[0] = limitTold[1] = false;
    if (apiName == "alsa") api = RtMidi::LINUX_ALSA;
    else if (apiName == "jack") api = RtMidi::UNIX_JACK;
    else api = access("/dev/snd/seq", R_OK | W_OK) == 0 ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    if (api == RtMidi::UNIX_JACK) {
        if (!openJack()) return false;
        jackParser.reset();
        reportedDrops[0] = reportedDrops[1] = 0;
        scan();
        std::cout << "midi: open through jack" << std::endl;
        return true;
    }
    try {
        scan();
    } catch (const RtMidiError& e) {
        // Thrown by RtMidi's constructors before an error callback can be set: no sequencer.
        std::cout << "midi: " << e.getMessage() << std::endl;
        closeMidiPorts();
    }
    if (inputs.empty() && outputs.empty()) {
        std::cout << "midi: no MIDI through " << midiApiName() << std::endl;
        postNotice("MIDI: cannot open the sequencer");
        return false;
    }
    std::cout << "midi: open through " << midiApiName() << std::endl;
    return true;
}

void closeMidiPorts() {
    jack.close();
    jackLost = false;
    inputs.clear();
    outputs.clear();
    outputsNew = false;
}

bool midiPortsOpen() { return jack.isOpen() || !inputs.empty() || !outputs.empty(); }

JackMidi* midiJackClient() { return jack.isOpen() ? &jack : nullptr; }

const char* midiApiName() { return api == RtMidi::LINUX_ALSA ? "alsa" : "jack"; }

void pollMidiPorts(uint32_t ticks, MidiEventSink sink) {
    if (jack.serverGone()) {
        std::cout << "midi: the JACK server shut down" << std::endl;
        postNotice("MIDI: the JACK server shut down");
        jackLost = true;
        nameTakenTold = false;
        lastScan = ticks;
    }
    if (jackLost && ticks - lastScan >= MidiRescanMs) {
        lastScan = ticks;
        retryJack();
    }
    if (!midiPortsOpen()) return;
    // Controllers plugged in later are connected on the next scan; with JACK at once, when it
    // reports a port registered or gone.
    if (jack.portsChanged() && !patterns.empty()) scan();
    if (ticks - lastScan >= MidiRescanMs) {
        lastScan = ticks;
        reportDrops();
        try {
            if (!patterns.empty()) scan();
        } catch (const RtMidiError& e) {
            std::cout << "midi: " << e.getMessage() << std::endl;
        }
    }
    int budget = MaxMidiMessagesPerFrame;
    double seconds;
    bool lost;
    while (budget > 0 && jack.receive(message, seconds, lost)) {
        budget--;
        if (lost) jackParser.reset();  // what was dropped may have been half a message's context
        jackParser.feed(message.data(), message.size(), seconds, ticks, sink);
    }
    for (InputPort& in : inputs) {
        while (budget > 0) {
            const double delta = in.port->getMessage(&message);
            if (message.empty()) break;
            budget--;
            in.seconds += delta;
            in.parser.feed(message.data(), message.size(), in.seconds, ticks, sink);
        }
    }
}

void sendMidi(const uint8_t* bytes, int count) {
    jack.send(bytes, count);
    for (OutputPort& out : outputs)
        if (out.open) out.port->sendMessage(bytes, size_t(count));
}

bool midiOutputsJustOpened() {
    const bool jackNew = jack.outputConnected();
    const bool was = outputsNew || jackNew;
    outputsNew = false;
    return was;
}
