#include "remote/MemoryControls.h"

#include <cstdio>

#include "core/Platform.h"
#include "memories/Memories.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

// A tablet button sends a number on press and 0 on release (or nothing at all): only the press acts.
bool oscRecall(const OscArg* a, int32_t number) {
    if (a[0].i != 0) memories.recall(number, platform::ticks());
    return true;
}

bool oscStore(const OscArg* a, int32_t number) {
    if (a[0].i != 0) memories.store(number);
    return true;
}

OscArg currentMemory(int32_t) {
    OscArg a;
    a.i = memories.current;
    return a;
}

int8_t padLevel[MemoryCount + 1];
int8_t storeHeld = 0;

// With "store" held, a memory pad stores; otherwise it recalls.
void midiMemory(int32_t number, int32_t value) {
    if (!midiPressed(padLevel[number], value)) return;
    if (storeHeld || memories.storeArmed) {
        memories.storeArmed = 0;
        memories.store(number);
    } else {
        memories.recall(number, platform::ticks());
    }
}

int32_t memoryLight(int32_t number) {
    if (memories.current == number) return 1;
    return memories.stored[number - 1] ? MidiLightDim : 0;
}

void midiStore(int32_t, int32_t value) { storeHeld = value >= 64 ? 1 : 0; }
int32_t storeLight(int32_t) { return storeHeld || memories.storeArmed; }

}  // namespace

void registerMemoryControls() {
    char address[MaxOscAddressChars + 1];
    char name[MaxMidiTargetChars + 1];
    storeHeld = 0;
    for (int32_t k = 1; k <= MemoryCount; k++) {
        padLevel[k] = 0;
        snprintf(address, sizeof address, "/loopmixer/memory/%d", int(k));
        addOscAddress(address, "p", oscRecall, k);
        snprintf(address, sizeof address, "/loopmixer/memory/%d/store", int(k));
        addOscAddress(address, "p", oscStore, k);
        snprintf(name, sizeof name, "memory %d", int(k));
        addMidiTarget(name, midiMemory, memoryLight, k);
    }
    addMidiTarget("store", midiStore, storeLight);
    addOscFeedback("/loopmixer/memory", 'i', currentMemory);
}
