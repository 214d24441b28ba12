// libFuzzer over the browser's message parser: any bytes a WebSocket text frame can carry must be
// parsed without a crash or a hang; what it accepts must be a well-formed message, and running it
// through the OSC address table (built-in, tempo and page addresses) must keep the state in range.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/AppState.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "remote/BuiltinControls.h"
#include "remote/TempoControls.h"
#include "web/WebControls.h"
#include "web/WebMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cout.setstate(std::ios::failbit);  // one log line per address: not the fuzzer's output
    registerBuiltinControls();
    registerTempoControls();
    registerWebControls();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WebMessage m;
    if (!parseWebMessage(reinterpret_cast<const char*>(data), size, m)) return 0;
    if (m.address[0] != '/' || m.argc < 0 || m.argc > MaxOscArgs || int(strlen(m.types)) != m.argc) abort();
    for (int k = 0; k < m.argc; k++)
        if (!strchr("ifs", m.types[k]) || strlen(m.strings[k]) > size_t(MaxWebStringChars)) abort();
    decks.trackCount = 3;  // so that deck track changes are accepted
    dispatchWebMessage(m);
    if (decks.fade < 0 || decks.fade > 15 || decks.blendMode < 0 || decks.blendMode > 6) abort();
    if (decks.selectedDeck < 0 || decks.selectedDeck > 1 || (appState.mode != ModeA && appState.mode != ModeB)) abort();
    for (const Deck& d : decks.decks)
        if (d.track < 0 || d.track >= 50) abort();
    for (const auto& deck : effectTable.slots)
        for (const EffectSlot& s : deck)
            if (s.value < 0 || s.value > 3) abort();
    return 0;
}
