// libFuzzer over the memories file reader: any bytes as data/memories.xml must read without a crash,
// with at most sixteen memories, each one whole and within its ranges.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "memories/MemoriesFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // fmemopen refuses an empty buffer: one byte stands for no bytes.
    static uint8_t none = 0;
    FILE* f = fmemopen(size ? const_cast<uint8_t*>(data) : &none, size ? size : 1, "r");
    if (!f) abort();
    static Look looks[MemoryCount];
    static int32_t stored[MemoryCount];
    const int read = readMemories(f, looks, stored);
    fclose(f);
    int count = 0;
    for (int k = 0; k < MemoryCount; k++) {
        if (!stored[k]) continue;
        count++;
        if (!looks[k].valid() || looks[k].playlist.size() > 99) abort();
        for (const DeckLook& d : looks[k].decks)
            if (d.track.size() > 99) abort();
    }
    if (read < 0 || read > MemoryCount || count > read) abort();
    return 0;
}
