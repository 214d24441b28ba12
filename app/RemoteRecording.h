// Recording from a controller: OSC /loopmixer/record i (1 starts, 0 stops), the feedback value
// /loopmixer/recording i, and the MIDI-learnable target "record" (a press starts or stops; its pad
// lights while recording). app/ wires the two seams together; neither knows the other.
#pragma once

// Registers into the remote control's tables; called before they are opened at start-up.
void registerRecordingControls();
