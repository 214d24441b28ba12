// Drum pieces rendered from the real samples of the hydrogen-drumkits package, for the sound
// analysis's tests and benchmark: a style's pattern of kick, snare and hat at a tempo (that may
// change once), optionally with humanised timing (+-5 ms), a synthetic bass line and noise. The
// beats that were rendered come with the samples.
#pragma once
#include <aubio/aubio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace drums {

const char* const KitFolder = "/usr/share/hydrogen/data/drumkits/";

struct Kit {
    const char* folder;
    const char* kick;
    const char* snare;
    const char* hat;
};

const Kit Kits[] = {
    {"Millo-Drums_v.1", "bd1.flac", "snare1.flac", "closehihat3.flac"},
    {"HardElectro1", "PowR_BD_1.flac", "PowR_SN_1.flac", "CHH_1.flac"},
    {"ElectricEmpireKit", "EE_Kick_Hard_1.flac", "EE_Snare_1.flac", "EE_Hat_Cl_Dirty.flac"},
    {"VariBreaks", "VP Kick 1.flac", "VP Snare 1.flac", "VP Hat 1 Cl.flac"},
    {"ColomboAcousticDrumkit", "bassdrum-4mics-br-stereo-normal3.flac", "snare-opaque-normal-mic-normal_shot2.flac",
     "hihat-closed-1.flac"},
    {"Millo_MultiLayered3", "bd_01.flac", "sd_01.flac", "hh_01.flac"},
};

enum Style { FourOnFloor, Breakbeat, HalfTime, Swing, HipHop };

// Sixteen steps a bar: kick, snare, hat.
const char* const Patterns[][3] = {
    {"x...x...x...x...", "....x.......x...", "..x...x...x...x."},
    {"x.x.......x.....", "....x.......x...", "x.x.x.x.x.x.x.x."},
    {"x.........x.....", "........x.......", "x.x.x.x.x.x.x.x."},
    {"x.......x.......", "....x.......x...", "x.x.x.x.x.x.x.x."},
    {"x......x..x.....", "....x.......x...", "x.x.x.x.x.x.x.x."},
};
const char* const StyleNames[] = {"four-on-the-floor", "breakbeat", "half-time", "swing", "hip-hop"};

struct PiecePlan {
    const char* kit;  // one of Kits' folders
    Style style;
    double bpm;
    bool humanise = false;
    bool bass = false;
    bool noise = false;
    double seconds = 20;
    double bpmAfter = 0;  // a tempo change to this at changeAt seconds (0: none)
    double changeAt = 0;
};

struct Piece {
    std::vector<float> samples;
    std::vector<double> beats;  // rendered beat times, seconds
    std::vector<double> kicks;  // rendered kick times (where each file's hit begins), seconds
    int rate = 48000;
};

// One mono sample file, resampled to rate (linear: these are drum hits); empty if unreadable.
inline std::vector<float> loadSample(const std::string& path, int rate) {
    std::vector<float> out;
    aubio_source_t* s = new_aubio_source(path.c_str(), 0, 512);
    if (!s) return out;
    const double native = aubio_source_get_samplerate(s);
    fvec_t* block = new_fvec(512);
    std::vector<float> raw;
    uint_t read = 0;
    do {
        aubio_source_do(s, block, &read);
        raw.insert(raw.end(), block->data, block->data + read);
    } while (read == 512);
    del_fvec(block);
    del_aubio_source(s);
    const double step = native / rate;
    for (double at = 0; at + 1 < raw.size(); at += step) {
        const size_t i = size_t(at);
        out.push_back(float(raw[i] + (raw[i + 1] - raw[i]) * (at - i)));
    }
    return out;
}

// Where a hit begins: its first sample at a tenth of its peak (some files start quiet).
inline size_t attackOf(const std::vector<float>& hit) {
    float peak = 0;
    for (float s : hit) peak = std::max(peak, std::fabs(s));
    size_t at = 0;
    while (at < hit.size() && std::fabs(hit[at]) < 0.1f * peak) at++;
    return at;
}

inline const Kit* kitNamed(const char* folder) {
    for (const Kit& k : Kits)
        if (std::string(k.folder) == folder) return &k;
    return nullptr;
}

inline void addAt(std::vector<float>& to, const std::vector<float>& hit, double seconds, int rate, float gain) {
    const int64_t start = int64_t(std::llround(seconds * rate));
    for (size_t i = 0; i < hit.size(); i++) {
        const int64_t at = start + int64_t(i);
        if (at >= 0 && at < int64_t(to.size())) to[size_t(at)] += gain * hit[i];
    }
}

// Renders the piece; samples empty when the kit's files cannot be read.
inline Piece render(const PiecePlan& plan, int rate = 48000, uint32_t seed = 1) {
    Piece p;
    p.rate = rate;
    const Kit* kit = kitNamed(plan.kit);
    if (!kit) return p;
    const std::string dir = std::string(KitFolder) + kit->folder + "/";
    const std::vector<float> hits[3] = {loadSample(dir + kit->kick, rate), loadSample(dir + kit->snare, rate),
                                        loadSample(dir + kit->hat, rate)};
    for (const auto& h : hits)
        if (h.empty()) return p;
    p.samples.assign(size_t(plan.seconds * rate), 0.0f);
    auto random = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / double(1u << 24);
    };
    const char* const* pattern = Patterns[plan.style];
    const float gains[3] = {1.0f, 0.8f, 0.35f};
    static const double bassHz[4] = {55.0, 55.0, 65.4, 49.0};
    int64_t beat = 0;
    for (double t = 0; t < plan.seconds; beat++) {
        p.beats.push_back(t);
        const double bpm = plan.bpmAfter > 0 && t >= plan.changeAt ? plan.bpmAfter : plan.bpm;
        const double length = 60.0 / bpm;
        for (int step = 0; step < 4; step++) {
            const int inBar = int(beat % 4) * 4 + step;
            double at = t + length * step / 4;
            // Swing: the second eighth note of each beat comes at two thirds of the beat.
            if (plan.style == Swing && step == 2) at = t + length * 2 / 3;
            for (int v = 0; v < 3; v++) {
                if (pattern[v][inBar] != 'x') continue;
                const double shift = plan.humanise ? (random() * 2 - 1) * 0.005 : 0.0;
                addAt(p.samples, hits[v], at + shift, rate, gains[v] * float(0.8 + 0.2 * random()));
                if (v == 0) p.kicks.push_back(at + shift + double(attackOf(hits[0])) / rate);
            }
            // The bass: a decaying low note on the kick's steps and on the last eighth of the bar.
            if (plan.bass && (pattern[0][inBar] == 'x' || inBar == 14)) {
                const double hz = bassHz[(beat / 4) % 4];
                const int64_t from = int64_t(at * rate), count = int64_t(0.3 * rate);
                for (int64_t i = 0; i < count && from + i < int64_t(p.samples.size()); i++) {
                    const double s = double(i) / rate;
                    const double tone = std::sin(2 * M_PI * hz * s) + 0.3 * std::sin(4 * M_PI * hz * s);
                    p.samples[size_t(from + i)] += float(0.35 * tone * std::exp(-s / 0.12) * std::min(1.0, s / 0.01));
                }
            }
        }
        t += length;
    }
    if (plan.noise)
        for (float& s : p.samples) s += float((random() * 2 - 1) * 0.05);
    float peak = 1e-6f;
    for (float s : p.samples) peak = std::max(peak, std::fabs(s));
    for (float& s : p.samples) s *= 0.9f / peak;
    while (!p.beats.empty() && p.beats.back() >= plan.seconds) p.beats.pop_back();
    while (!p.kicks.empty() && p.kicks.back() >= plan.seconds) p.kicks.pop_back();
    return p;
}

// A 16-bit mono WAV file of the samples (for tools that read files).
inline bool writeWav(const std::string& path, const std::vector<float>& samples, int rate) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    auto u32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const uint32_t bytes = uint32_t(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16), u16(1), u16(1), u32(uint32_t(rate)), u32(uint32_t(rate) * 2), u16(2), u16(16);
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    for (float s : samples) u16(uint16_t(int16_t(std::lround(std::max(-1.0f, std::min(1.0f, s)) * 32767))));
    return std::fclose(f) == 0;
}

}  // namespace drums
