// libFuzzer over the OSC message handler: any datagram (a message, a bundle, nested bundles, address
// patterns) must be parsed and dispatched to the built-in addresses without a crash, a hang or
// growing memory, and the state it may change must stay inside its ranges. The same bytes, split
// at their first zero into a pattern and an address, go through the pattern matcher on their own.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>

#include "core/AppState.h"
#include "memories/Memories.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "remote/BuiltinControls.h"
#include "remote/MemoryControls.h"
#include "remote/OscAddresses.h"
#include "remote/OscPattern.h"
#include "remote/TempoControls.h"
#include "tempo/TempoClock.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cout.setstate(std::ios::failbit);  // one log line per address: not the fuzzer's output
    registerBuiltinControls();
    registerTempoControls();
    // A stored memory is saved: into a scratch folder of its own, never the fuzzer's.
    char folder[] = "/tmp/loopmixer-osc-fuzz-XXXXXX";
    if (!mkdtemp(folder) || mkdir((std::string(folder) + "/data").c_str(), 0777) != 0) abort();
    memories.init(folder);
    registerMemoryControls();
    return 0;
}

// A pattern with none of the pattern characters matches exactly the same text.
void matchPattern(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t zero = bytes.find('\0');
    if (zero == std::string::npos) return;
    const std::string pattern = bytes.substr(0, zero), address = bytes.substr(zero + 1);
    const bool matches = oscPatternMatches(pattern.c_str(), address.c_str());
    if (!isOscPattern(pattern.c_str()) && pattern.size() <= MaxOscPatternChars &&
        matches != (pattern == std::string(address.c_str())))
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decks.trackCount = 3;  // so that deck track changes are accepted
    handleOscPacket(data, size);
    matchPattern(data, size);
    if (decks.fade < 0 || decks.fade > 15 || decks.blendMode < 0 || decks.blendMode > 6) abort();
    for (const Deck& d : decks.decks)
        if (d.track < 0 || d.track >= 50) abort();
    for (const auto& deck : effectTable.slots)
        for (const EffectSlot& s : deck)
            if (s.value < 0 || s.value > 3) abort();
    if (!(tempoClock.bpm() >= MinBpm && tempoClock.bpm() <= MaxBpm) || appState.quantise < 0 || appState.quantise > 2 ||
        options.beatFlash < 0 || options.beatFlash > 2 || (decks.sync[0] | decks.sync[1]) > 1 || decks.sync[0] < 0 ||
        decks.sync[1] < 0 || memories.current < 0 || memories.current > MemoryCount)
        abort();
    return 0;
}
