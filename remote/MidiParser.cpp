#include "remote/MidiParser.h"

#include "remote/MidiSystem.h"

namespace {

// Data bytes of a channel message by its high nibble: 0xC0 and 0xD0 take one, the rest two.
uint8_t channelLength(uint8_t status) {
    const uint8_t high = status & 0xF0;
    return (high == 0xC0 || high == 0xD0) ? 1 : 2;
}

uint8_t commonLength(uint8_t status) { return status == 0xF2 ? 2 : 1; }

void emitChannel(uint8_t status, const uint8_t* data, MidiEventSink sink) {
    if (!sink) return;
    const uint8_t high = status & 0xF0;
    MidiEvent e;
    e.channel = status & 0x0F;
    e.number = data[0];
    e.value = data[1];
    if (high == 0x90 && data[1] > 0) e.kind = MidiNoteOn;
    else if (high == 0x90 || high == 0x80) {
        e.kind = MidiNoteOff;
        e.value = 0;
    } else if (high == 0xB0) e.kind = MidiControlChange;
    else return;  // aftertouch, program change, pitch bend: nothing uses them
    sink(e);
}

}  // namespace

void MidiParser::reset() { *this = MidiParser(); }

void MidiParser::feed(const uint8_t* bytes, size_t count, double seconds, uint32_t ticks, MidiEventSink sink) {
    for (size_t i = 0; i < count; i++) {
        const uint8_t b = bytes[i];
        if (b >= 0xF8) {
            // Realtime: acts at once, wherever it falls, and leaves every other state alone.
            if (b == MidiClock || b == MidiStart || b == MidiContinue || b == MidiStop)
                deliverMidiSystem(MidiSystemMessage{b, 0, seconds, ticks});
            continue;
        }
        if (b >= 0x80) {
            // Any other status byte ends a SysEx and an unfinished message. The channel running
            // status survives SysEx and system common messages, so that a sender interleaving them
            // with running status is still understood.
            sysex = false;
            common = 0;
            have = 0;
            if (b < 0xF0) status = b;
            else if (b == 0xF0) sysex = true;
            else if (b == 0xF1 || b == 0xF2 || b == 0xF3) {
                common = b;
                commonHave = 0;
            }
            // 0xF4, 0xF5, 0xF6 and the closing 0xF7 carry nothing.
            continue;
        }
        if (sysex) continue;
        if (common) {
            commonData[commonHave++] = b;
            if (commonHave == commonLength(common)) {
                if (common == MidiSongPosition)
                    deliverMidiSystem(MidiSystemMessage{MidiSongPosition, uint16_t(commonData[0] | commonData[1] << 7), seconds, ticks});
                common = 0;
            }
            continue;
        }
        if (!status) continue;  // a data byte with no status to belong to
        data[have++] = b;
        if (have == channelLength(status)) {
            if (have == 1) data[1] = 0;
            emitChannel(status, data, sink);
            have = 0;
        }
    }
}
