// libFuzzer over the beat clock: any sequence of MIDI clock-family messages (with any data bytes
// and arrival times, jumps and reversals included), taps and direct settings leaves a finite tempo
// within its range and a beat of the bar from 1 to 4.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tempo/TempoClock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TempoClock c;
    double t = 1000;
    static const uint8_t statuses[] = {ClockByte::Tick, ClockByte::Start, ClockByte::Continue, ClockByte::Stop,
                                       ClockByte::SongPosition, 0xF1, 0x90, 0xFE};
    for (size_t i = 0; i + 4 <= size && i < 4 * 4096; i += 4) {
        const uint8_t kind = data[i];
        // Mostly small steps forward, sometimes a jump or a step back.
        int16_t step;
        std::memcpy(&step, data + i + 2, 2);
        t += (kind & 0x80) ? double(step) * 37.0 : double(uint8_t(step)) / 8.0;
        switch (kind & 3) {
        case 0:
        case 1: c.midiMessage(statuses[data[i + 1] & 7], data[i + 2], data[i + 3], t); break;
        case 2: c.tap(t); break;
        default: c.setTempo(double(data[i + 1]) * 1.5 + double(data[i + 3]) / 100.0, t); break;
        }
        const double bpm = c.bpm();
        if (!std::isfinite(bpm) || bpm < MinBpm - 1e-9 || bpm > MaxBpm + 1e-9) abort();
        if (!std::isfinite(c.originMs)) abort();
        const int32_t beat = c.beatInBar(t);
        if (beat < 1 || beat > BeatsPerBar) abort();
    }
    return 0;
}
