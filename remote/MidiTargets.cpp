#include "remote/MidiTargets.h"

#include <cstdio>
#include <cstring>

namespace {

MidiTarget targets[MaxMidiTargets];
int targetCount = 0;

bool validName(const char* name) {
    const size_t n = strlen(name);
    if (n == 0 || n > size_t(MaxMidiTargetChars) || name[0] == ' ' || name[n - 1] == ' ') return false;
    for (size_t i = 0; i < n; i++)
        if (uint8_t(name[i]) < 32 || name[i] == '<' || name[i] == '>' || name[i] == '&') return false;
    return true;
}

}  // namespace

bool midiPressed(int8_t& last, int32_t value) {
    const int8_t now = value >= 64 ? 1 : 0;
    const bool pressed = now && !last;
    last = now;
    return pressed;
}

int addMidiTarget(const char* name, MidiAction act, MidiState state, int32_t param) {
    if (!name || !act || !validName(name)) return -1;
    int index = findMidiTarget(name);
    if (index < 0) {
        if (targetCount == MaxMidiTargets) return -1;
        index = targetCount++;
    }
    MidiTarget& t = targets[index];
    snprintf(t.name, sizeof t.name, "%s", name);
    t.act = act;
    t.state = state;
    t.param = param;
    return index;
}

int midiTargetCount() { return targetCount; }

const MidiTarget& midiTarget(int index) { return targets[index]; }

int findMidiTarget(const char* name) {
    for (int i = 0; i < targetCount; i++)
        if (strcmp(targets[i].name, name) == 0) return i;
    return -1;
}
