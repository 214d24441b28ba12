// The memories' controls for MIDI and OSC controllers, registered into the remote seam's tables:
// recall and store per memory, the "store" pad, the memory recalled last as feedback, and the
// pad lights (dim for stored memories, bright for the current one).
#pragma once

void registerMemoryControls();
