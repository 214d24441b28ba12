#include "app/RemoteRecording.h"

#include "record/Recorder.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

bool oscRecord(const OscArg* args, int32_t) {
    if (args[0].i != 0 && args[0].i != 1) return false;
    if (args[0].i != (recorder.recording() ? 1 : 0)) recorder.toggle();
    return true;
}

OscArg recordingValue(int32_t) {
    OscArg a;
    a.i = recorder.recording() ? 1 : 0;
    return a;
}

int8_t recordLevel = 0;  // the control's last side of the middle, so that a press acts once

void midiRecord(int32_t, int32_t value) {
    if (midiPressed(recordLevel, value)) recorder.toggle();
}

int32_t recordState(int32_t) { return recorder.recording() ? 1 : 0; }

}  // namespace

void registerRecordingControls() {
    recordLevel = 0;
    addOscAddress("/loopmixer/record", "i", oscRecord);
    addOscFeedback("/loopmixer/recording", 'i', recordingValue);
    addMidiTarget("record", midiRecord, recordState);
}
