// Sixteen memories of looks: stored from the decks as they stand, recalled at once or on the next
// beat or bar as the wait setting asks, loading the look's playlist first when another one is in
// RAM. Kept in data/memories.xml; a save never writes back an older copy of a file that another
// program changed since the memories read it.
#pragma once
#include <cstdint>
#include <string>

#include "library/Mix.h"
#include "memories/Look.h"
#include "memories/MemoriesFile.h"

class Memories {
public:
    Look looks[MemoryCount];
    int32_t stored[MemoryCount] = {};
    // The memory recalled (or stored) last, 1..16, while the look on the decks is still its look;
    // 0 once anything of the look changed.
    int32_t current = 0;
    // The store toggle of the memories page, or the "store" pad held: a memory touched now stores.
    int32_t storeArmed = 0;
    std::string path;
    FileStamp stamp;  // the file as the memories last read or wrote it

    // Reads folder/data/memories.xml; without it every memory is empty.
    void init(const std::string& folder);
    // Reads the file again when another program changed it since. True when it did.
    bool reloadIfChanged();
    // Memory number (1..16) takes the look on the decks and is saved; false, with a notice, when
    // a name of the look cannot be written or the file cannot be saved.
    bool store(int32_t number);
    void recall(int32_t number, double nowMs);
    // Once per frame after the controls: the waiting recall lands when its clips are in RAM and
    // its beat has come; current drops to 0 when the look changed.
    void step(double nowMs);
    // The memory waiting for its playlist to load (1..16), or 0.
    int32_t loadingFor() const { return pending && waitingForClips ? pending : 0; }
    const std::string& loadingPlaylist() const { return pendingLook.playlist; }

private:
    int32_t pending = 0;  // the memory waiting to land, 0 for none
    Look pendingLook;
    bool withDecks = true;
    bool waitingForClips = false;
    double pendingBeat = 0;
    Look recalledLook;

    void readFile();
    void schedule(double nowMs);
    void land();
};

extern Memories memories;
