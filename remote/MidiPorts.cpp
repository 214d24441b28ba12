#include "remote/MidiPorts.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <cctype>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "core/Notice.h"

namespace {

struct Input {
    std::unique_ptr<RtMidiIn> port;
    MidiParser parser;
    double seconds = 0;  // sum of RtMidi's time deltas: the input's own clock
};

std::vector<Input> inputs;
std::vector<std::unique_ptr<RtMidiOut>> outputs;
RtMidi::Api api = RtMidi::UNSPECIFIED;
bool outputsNew = false;
std::vector<unsigned char> message;

// RtMidi reports errors through this instead of throwing once a port object exists.
void quietError(RtMidiError::Type type, const std::string& text, void*) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) std::cout << "midi: " << text << std::endl;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(tolower(uint8_t(c)));
    return s;
}

bool matches(const std::string& portName, const std::vector<std::string>& patterns) {
    const std::string name = lower(portName);
    if (name.find("loopmixer") != std::string::npos) return false;  // never ourselves
    for (const std::string& p : patterns)
        if (!p.empty() && name.find(lower(p)) != std::string::npos) return true;
    return false;
}

// RtMidi's JACK ports need a running server: without one its objects hold no client and
// opening a port would use it regardless.
bool jackServerRunning() {
    jack_status_t status;
    jack_client_t* probe = jack_client_open("loopmixer-probe", JackNoStartServer, &status);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

// JACK gives every RtMidi object a client of its own, and client names are unique there.
std::string clientName(bool output, size_t index) {
    if (api == RtMidi::LINUX_ALSA) return "loopmixer";
    std::string name = output ? "loopmixer-out" : "loopmixer";
    if (index > 0) name += "-" + std::to_string(index + 1);
    return name;
}

template <class Port>
std::unique_ptr<Port> makePort(bool output, size_t index);

template <>
std::unique_ptr<RtMidiIn> makePort<RtMidiIn>(bool output, size_t index) {
    std::unique_ptr<RtMidiIn> p(new RtMidiIn(api, clientName(output, index), MidiQueueLimit));
    p->setErrorCallback(quietError, nullptr);
    return p;
}

template <>
std::unique_ptr<RtMidiOut> makePort<RtMidiOut>(bool output, size_t index) {
    std::unique_ptr<RtMidiOut> p(new RtMidiOut(api, clientName(output, index)));
    p->setErrorCallback(quietError, nullptr);
    return p;
}

// Opens the object's own port connected to each matching port (one object per connection, as
// RtMidi connects one port per object), or a port of its own that others connect to.
template <class Port>
void openSide(bool output, const std::vector<std::string>& patterns, std::vector<std::unique_ptr<Port>>& opened) {
    const char* portName = output ? "midi_out" : "midi_in";
    std::unique_ptr<Port> probe = makePort<Port>(output, 0);
    std::vector<unsigned> found;
    for (unsigned i = 0; i < probe->getPortCount() && found.size() < size_t(MaxMidiConnections); i++)
        if (matches(probe->getPortName(i), patterns)) found.push_back(i);
    if (found.empty()) {
        probe->openVirtualPort(portName);
        if (probe->isPortOpen() || api == RtMidi::LINUX_ALSA) opened.push_back(std::move(probe));
        return;
    }
    for (size_t k = 0; k < found.size(); k++) {
        std::unique_ptr<Port> p = k == 0 ? std::move(probe) : makePort<Port>(output, k);
        const std::string name = p->getPortName(found[k]);
        p->openPort(found[k], portName);
        std::cout << "midi: " << (output ? "output to " : "input from ") << name << std::endl;
        opened.push_back(std::move(p));
    }
}

}  // namespace

bool openMidiPorts(const std::string& apiName, const std::vector<std::string>& patterns) {
    closeMidiPorts();
    if (apiName == "alsa") api = RtMidi::LINUX_ALSA;
    else if (apiName == "jack") api = RtMidi::UNIX_JACK;
    else api = access("/dev/snd/seq", R_OK | W_OK) == 0 ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    try {
        if (api == RtMidi::UNIX_JACK && !jackServerRunning()) throw RtMidiError("no JACK server running");
        std::vector<std::unique_ptr<RtMidiIn>> in;
        openSide(false, patterns, in);
        for (auto& p : in) {
            p->ignoreTypes(true, false, true);  // SysEx and active sensing dropped; clock kept
            Input input;
            input.port = std::move(p);
            inputs.push_back(std::move(input));
        }
        openSide(true, patterns, outputs);
    } catch (const RtMidiError& e) {
        // Thrown by RtMidi's constructors before an error callback can be set: no server, no
        // sequencer.
        std::cout << "midi: " << e.getMessage() << std::endl;
        closeMidiPorts();
    }
    if (inputs.empty() && outputs.empty()) {
        std::cout << "midi: no MIDI through " << midiApiName() << std::endl;
        postNotice(api == RtMidi::UNIX_JACK ? "MIDI: no JACK server running" : "MIDI: cannot open the sequencer");
        return false;
    }
    outputsNew = !outputs.empty();
    std::cout << "midi: open through " << midiApiName() << std::endl;
    return true;
}

void closeMidiPorts() {
    inputs.clear();
    outputs.clear();
    outputsNew = false;
}

bool midiPortsOpen() { return !inputs.empty() || !outputs.empty(); }

const char* midiApiName() { return api == RtMidi::LINUX_ALSA ? "alsa" : "jack"; }

void pollMidiPorts(uint32_t ticks, MidiEventSink sink) {
    int budget = MaxMidiMessagesPerFrame;
    for (Input& in : inputs) {
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
    for (auto& out : outputs) out->sendMessage(bytes, size_t(count));
}

bool midiOutputsJustOpened() {
    const bool was = outputsNew;
    outputsNew = false;
    return was;
}
