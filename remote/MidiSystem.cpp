#include "remote/MidiSystem.h"

namespace {

MidiSystemHook hooks[MaxMidiSystemHooks];

}  // namespace

bool addMidiSystemHook(MidiSystemHook hook) {
    if (!hook) return false;
    for (MidiSystemHook h : hooks)
        if (h == hook) return true;
    for (MidiSystemHook& h : hooks)
        if (!h) {
            h = hook;
            return true;
        }
    return false;
}

void removeMidiSystemHook(MidiSystemHook hook) {
    for (MidiSystemHook& h : hooks)
        if (h == hook) h = nullptr;
}

void deliverMidiSystem(const MidiSystemMessage& message) {
    for (MidiSystemHook h : hooks)
        if (h) h(message);
}
