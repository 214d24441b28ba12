// The instrument's own OSC namespace, MIDI learn targets and feedback values, registered into the
// remote seam's tables like any other part's.
#pragma once

void registerBuiltinControls();
