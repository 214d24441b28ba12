// The OSC addresses the browser page needs beyond the built-in ones: mode A/B, the selected deck,
// the slots' filters and variants, the loaded playlist. They go into the one address and feedback
// tables, so OSC controllers have them as well.
#pragma once

void registerWebControls();
