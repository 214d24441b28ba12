// The look as it stands on the decks now, and putting a look back on them.
#pragma once
#include "memories/Look.h"

Look lookOnStage();
// The playlist whose clips are in the slots (or arriving), "" when none is.
std::string loadedPlaylist();

// Which decks a look left as they were because their clip is not in RAM.
struct LookApplied {
    bool gone[2] = {false, false};
};

// Sets everything the look holds. withDecks false: the decks' clips, frames, directions, sync,
// beats and effects stay as they are (the look's playlist is gone). A deck whose clip is not
// loaded (found by name, at its old slot first) stays as it is too.
LookApplied applyLook(const Look& look, bool withDecks);

// The track slot holding the loaded clip of that name (the given slot first), or -1.
int32_t loadedSlot(const std::string& track, int32_t slot);
