#include "remote/JackAudio.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <iostream>

#include "remote/JackMidi.h"

namespace {

const char* const ClientName = "loopmixer";
const char* const PortName = "audio_in";
// About 1.4 s of sound at 48 kHz: the analysis may fall that far behind before cycles are lost.
constexpr size_t RingBytes = 1 << 18;
constexpr jack_nframes_t MaxCycleFrames = 8192;

struct CycleHeader {
    jack_time_t usecs;  // when the cycle's first sample was heard
    uint32_t frames;
};

std::string lower(std::string s) {
    for (char& c : s) c = char(tolower(uint8_t(c)));
    return s;
}

bool matches(const std::string& name, const std::vector<std::string>& patterns) {
    const std::string n = lower(name);
    for (const std::string& p : patterns)
        if (!p.empty() && n.find(lower(p)) != std::string::npos) return true;
    return false;
}

}  // namespace

JackAudio::OpenResult JackAudio::open(JackMidi* shared) {
    close();
    if (shared) {
        client = shared->jackClient();
        if (!client) return Failed;
    } else {
        jack_status_t status;
        client = jack_client_open(ClientName, jack_options_t(JackNoStartServer | JackUseExactName), &status);
        if (!client) {
            if (status & JackNameNotUnique) return NameTaken;
            if (status & JackServerFailed) return NoServer;
            // A taken exact name shows as a server error: a client of another name looks.
            jack_client_t* probe = jack_client_open("loopmixer-probe", JackNoStartServer, &status);
            if (!probe) return NoServer;
            char* uuid = jack_get_uuid_for_client_name(probe, ClientName);
            jack_client_close(probe);
            if (!uuid) return Failed;
            jack_free(uuid);
            return NameTaken;
        }
    }
    midi = shared;
    port = jack_port_register(client, PortName, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    ring = jack_ringbuffer_create(RingBytes);
    semaphoreMade = sem_init(&wake, 0, 0) == 0;
    if (!port || !ring || !semaphoreMade) {
        close();
        return Failed;
    }
    jack_ringbuffer_mlock(ring);
    sampleRate = jack_get_sample_rate(client);
    if (sampleRate == 0) sampleRate = 48000;
    published = false;
    dropped = 0;
    tapUs = 0;
    stopping = false;
    worker = std::thread(&JackAudio::analyse, this);
    if (shared) {
        shared->setCycleHook([](jack_nframes_t frames, void* self) { static_cast<JackAudio*>(self)->copyCycle(frames); },
                             this);
        return Opened;
    }
    jack_set_process_callback(client, process, this);
    jack_on_shutdown(client, shutdown, this);
    if (jack_activate(client) != 0) {
        close();
        return Failed;
    }
    return Opened;
}

void JackAudio::close() {
    // JACK's side stops first (the hook cleared, or the own client closed), then the thread, and
    // only then may the ring go.
    if (midi) {
        midi->setCycleHook(nullptr, nullptr);
        if (port && midi->jackClient() == client) jack_port_unregister(client, port);
    } else if (client) {
        jack_client_close(client);
    }
    midi = nullptr;
    client = nullptr;
    port = nullptr;
    stopping = true;
    if (semaphoreMade) sem_post(&wake);
    if (worker.joinable()) worker.join();
    if (semaphoreMade) sem_destroy(&wake);
    semaphoreMade = false;
    if (ring) jack_ringbuffer_free(ring);
    ring = nullptr;
    peers.clear();
    gone = false;
}

bool JackAudio::serverGone() {
    if (!gone.exchange(false)) return false;
    close();
    return true;
}

int JackAudio::process(jack_nframes_t frames, void* self) {
    static_cast<JackAudio*>(self)->copyCycle(frames);
    return 0;
}

void JackAudio::shutdown(void* self) { static_cast<JackAudio*>(self)->gone = true; }

// JACK's thread: the cycle's samples heard during the period that ends as the cycle wakes, timed
// from the wake read on the clock (as the MIDI input times its events).
void JackAudio::copyCycle(jack_nframes_t frames) {
    if (!port || !ring || frames == 0 || frames > MaxCycleFrames) return;
    const float* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
    const jack_time_t period = jack_time_t(frames) * 1000000u / sampleRate;
    const CycleHeader h{jack_get_time() - period, uint32_t(frames)};
    const size_t bytes = frames * sizeof(float);
    if (!samples || jack_ringbuffer_write_space(ring) < sizeof h + bytes) {
        dropped++;
        return;
    }
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&h), sizeof h);
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(samples), bytes);
    sem_post(&wake);
}

// The analysis thread: reads whole cycles, keeps the newest cycle's time to place the readings on
// JACK's clock, hands taps over and publishes after each batch.
void JackAudio::analyse() {
    SoundAnalyser analyser{int(sampleRate)};
    std::vector<float> block(MaxCycleFrames);
    double refSample = 0, refUs = 0;
    const double usPerSample = 1e6 / sampleRate;
    while (!stopping) {
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 100 * 1000000L;
        if (until.tv_nsec >= 1000000000L) until.tv_sec++, until.tv_nsec -= 1000000000L;
        sem_timedwait(&wake, &until);
        bool fed = false;
        CycleHeader h;
        while (!stopping && jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&h), sizeof h) == sizeof h &&
               jack_ringbuffer_read_space(ring) >= sizeof h + h.frames * sizeof(float)) {
            jack_ringbuffer_read_advance(ring, sizeof h);
            jack_ringbuffer_read(ring, reinterpret_cast<char*>(block.data()), h.frames * sizeof(float));
            refSample = double(analyser.reading().samples);
            refUs = double(h.usecs);
            analyser.feed(block.data(), h.frames);
            fed = true;
        }
        const double tap = tapUs.exchange(0);
        if (tap > 0 && fed) {
            const double length = tapLengthUs.exchange(0);
            if (length > 0) analyser.tapPeriod(length / usPerSample);
            analyser.tapBeat(refSample + (tap - refUs) / usPerSample);
        } else if (tap > 0) {
            tapUs = tap;  // kept until there is sound to place it in
        }
        if (!fed) continue;
        const SoundReading& r = analyser.reading();
        AudioReading a;
        a.sound = r;
        a.beatUs = refUs + (r.beatSample - refSample) * usPerSample;
        a.beatLengthUs = r.bpm > 0 ? 60e6 / r.bpm : 0;
        a.lastKickUs = refUs + (double(r.lastKickSample) - refSample) * usPerSample;
        std::lock_guard<std::mutex> lock(publish);
        reading = a;
        published = true;
    }
}

bool JackAudio::latest(AudioReading& out) {
    std::lock_guard<std::mutex> lock(publish);
    if (!published) return false;
    out = reading;
    return true;
}

void JackAudio::tap(double usecs, double beatLengthUs) {
    tapLengthUs = beatLengthUs;
    tapUs = usecs;
}

void JackAudio::connectPeers(const std::vector<std::string>& patterns, int limit) {
    if (!client || !port) return;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    std::vector<std::string> present;
    for (const char** n = names; n && *n; n++) present.push_back(*n);
    jack_free(names);
    for (size_t k = peers.size(); k-- > 0;) {
        if (std::find(present.begin(), present.end(), peers[k]) != present.end()) continue;
        std::cout << "sound: input from " << peers[k] << " gone" << std::endl;
        peers.erase(peers.begin() + long(k));
    }
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    std::vector<char> storage(2 * size_t(jack_port_name_size()));
    for (const std::string& name : present) {
        if (int(peers.size()) >= limit) break;
        if (name.compare(0, own.size(), own) == 0) continue;
        if (std::find(peers.begin(), peers.end(), name) != peers.end()) continue;
        bool wanted = matches(name, patterns);
        if (!wanted) {
            // The server's own ports carry the device's name only in an alias.
            char* aliases[2] = {storage.data(), storage.data() + storage.size() / 2};
            jack_port_t* p = jack_port_by_name(client, name.c_str());
            const int count = p ? jack_port_get_aliases(p, aliases) : 0;
            for (int i = 0; i < count && i < 2; i++) wanted |= matches(aliases[i], patterns);
        }
        if (!wanted) continue;
        const int result = jack_connect(client, name.c_str(), jack_port_name(port));
        if (result != 0 && result != EEXIST) {
            std::cout << "sound: cannot connect input from " << name << std::endl;
            continue;
        }
        peers.push_back(name);
        std::cout << "sound: input from " << name << std::endl;
    }
}
