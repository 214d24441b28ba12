// libFuzzer over the sound analysis and the lines that say what it drives: the bytes up to the
// first newline are a <sound> line, the rest raw 32-bit samples (not-a-number, infinities and
// huge values included) fed in blocks of any length, with taps in between. The reading stays
// finite, its tempo in range, its levels within 0.0-1.0.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sound/SoundAnalyser.h"
#include "remote/SoundBindings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
    const size_t lineBytes = newline ? size_t(newline - data) : size;
    SoundBinding b;
    if (parseSoundBinding(std::string(reinterpret_cast<const char*>(data), lineBytes), b)) {
        if (b.from < 0 || b.from > 127 || b.to < 0 || b.to > 127 || !b.target[0]) abort();
        const int32_t v = soundBindingValue(b, float(lineBytes % 7) / 5.0f);
        if (v < 0 || v > 127) abort();
    }
    if (!newline) return 0;
    const uint8_t* at = newline + 1;
    size_t left = size - lineBytes - 1;
    // Small rates make many frames of few samples; the first byte picks one.
    static const int rates[] = {8000, 22050, 44100, 48000};
    SoundAnalyser a(rates[left ? at[0] % 4 : 0]);
    float block[4096];
    while (left >= 8) {
        const size_t count = std::min<size_t>(1 + at[0] % 4096, (left - 4) / 4);
        std::memcpy(block, at + 4, count * 4);
        if (at[1] % 16 == 0) a.tapBeat(double(a.reading().samples) - at[2] * 100.0);
        if (at[1] % 16 == 1) a.tapPeriod(double(at[2]) * at[3]);
        a.feed(block, count);
        // Each block again a few times, so that short inputs still reach the tracker.
        for (int r = 0; r < at[3] % 8; r++) a.feed(block, count);
        at += 4 + count * 4;
        left -= 4 + count * 4;
        const SoundReading& s = a.reading();
        if (s.tempoKnown && !(s.bpm >= MinTrackBpm * 0.9 && s.bpm <= MaxTrackBpm * 1.1)) abort();
        if (!std::isfinite(s.beatSample) || !std::isfinite(s.clarity)) abort();
        for (float l : s.level)
            if (!(l >= 0.0f && l <= 1.0f)) abort();
    }
    return 0;
}
