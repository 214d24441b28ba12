#include "remote/MidiMap.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/Notice.h"
#include "library/SafeSave.h"
#include "remote/RemoteFiles.h"

MidiMap midiMap;

namespace {

bool sameControl(const MidiMapping& m, MidiControlKind kind, int channel, int number) {
    return m.kind == kind && m.number == number && (m.channel < 0 || channel < 0 || m.channel == channel);
}

// "note any 36 clip 1" or "cc 2 7 fade": kind, channel 1-16 or any, number, target name.
bool parseLine(const std::string& text, MidiControlKind& kind, int& channel, int& number, std::string& target) {
    char kindText[8], channelText[8];
    int used = 0;
    if (sscanf(text.c_str(), " %7s %7s %d %n", kindText, channelText, &number, &used) != 3 || used <= 0) return false;
    if (strcmp(kindText, "note") == 0) kind = MidiNote;
    else if (strcmp(kindText, "cc") == 0) kind = MidiCc;
    else return false;
    if (strcmp(channelText, "any") == 0) channel = -1;
    else {
        char* end = nullptr;
        const long c = strtol(channelText, &end, 10);
        if (*end || c < 1 || c > 16) return false;
        channel = int(c) - 1;
    }
    if (number < 0 || number > 127) return false;
    target = text.substr(size_t(used));
    while (!target.empty() && (target.back() == ' ' || target.back() == '\t' || target.back() == '\r')) target.pop_back();
    return !target.empty() && target.size() <= size_t(MaxMidiTargetChars);
}

}  // namespace

void MidiMap::add(MidiControlKind kind, int channel, int number, const char* target) {
    // One control drives one target: a new mapping replaces what the control did before.
    int kept = 0;
    for (int i = 0; i < count; i++)
        if (!sameControl(mappings[i], kind, channel, number)) mappings[kept++] = mappings[i];
    count = kept;
    if (count == MaxMidiMappings) return;
    MidiMapping& m = mappings[count++];
    m.kind = kind;
    m.channel = int8_t(channel);
    m.number = uint8_t(number);
    snprintf(m.target, sizeof m.target, "%s", target);
    m.lit = -1;
}

void MidiMap::setDefaults() {
    count = 0;
    learnTarget = -1;
    for (int pad = 0; pad < 16; pad++) {
        char name[16];
        snprintf(name, sizeof name, "clip %d", pad + 1);
        add(MidiNote, -1, 36 + pad, name);
    }
    add(MidiCc, -1, 7, "fade");
}

bool MidiMap::load(const std::string& file) {
    std::string content;
    if (!readRemoteFile(file, content)) return false;
    count = 0;
    for (const std::string& line : remoteElements(content, "map", MaxMidiMappings)) {
        MidiControlKind kind;
        int channel, number;
        std::string target;
        if (parseLine(line, kind, channel, number, target)) add(kind, channel, number, target.c_str());
        else std::cout << "midi: map line not understood, skipped" << std::endl;
    }
    return true;
}

std::string MidiMap::content() const {
    std::string text = remoteFileHeader();
    for (int i = 0; i < count; i++) {
        const MidiMapping& m = mappings[i];
        char line[96];
        char channel[8] = "any";
        if (m.channel >= 0) snprintf(channel, sizeof channel, "%d", m.channel + 1);
        snprintf(line, sizeof line, "\t<map>%s %s %d %s</map>\n", m.kind == MidiNote ? "note" : "cc", channel, m.number, m.target);
        text += line;
    }
    return text + "</all>\n";
}

bool MidiMap::save() const {
    if (path.empty()) return false;
    int error = 0;
    if (saveFileSafely(path, content(), &error)) return true;
    // The learn page shows the new mapping; without a word the file would lose it at the next start.
    postNotice(("can't save MIDI map: " + saveFailureReason(error)).c_str());
    return false;
}

void MidiMap::handle(const MidiEvent& e) {
    const MidiControlKind kind = e.kind == MidiControlChange ? MidiCc : MidiNote;
    if (learnTarget >= 0 && learnTarget < midiTargetCount()) {
        if (e.kind == MidiNoteOff) return;  // the release of the control that was just learned
        const char* name = midiTarget(learnTarget).name;
        add(kind, e.channel, e.number, name);
        learnTarget = -1;
        std::cout << "midi: learned " << (kind == MidiNote ? "note " : "cc ") << int(e.number) << " channel "
                  << int(e.channel) + 1 << " for " << name << std::endl;
        save();
        return;
    }
    const int32_t value = e.kind == MidiNoteOn ? 127 : e.value;
    for (int i = 0; i < count; i++) {
        const MidiMapping& m = mappings[i];
        if (m.kind != kind || m.number != e.number || (m.channel >= 0 && m.channel != e.channel)) continue;
        const int t = findMidiTarget(m.target);
        if (t >= 0) midiTarget(t).act(midiTarget(t).param, value);
    }
}

void MidiMap::clearTarget(const char* name) {
    int kept = 0;
    for (int i = 0; i < count; i++)
        if (strcmp(mappings[i].target, name) != 0) mappings[kept++] = mappings[i];
    count = kept;
    save();
}

std::string MidiMap::describe(const char* name) const {
    std::string text;
    for (int i = 0; i < count; i++) {
        if (strcmp(mappings[i].target, name) != 0) continue;
        char item[16];
        snprintf(item, sizeof item, "%s%s%d", text.empty() ? "" : " ", mappings[i].kind == MidiNote ? "n" : "cc",
                 mappings[i].number);
        text += item;
    }
    return text;
}

void MidiMap::sendLights(bool all, MidiSend send) {
    for (int i = 0; i < count; i++) {
        MidiMapping& m = mappings[i];
        if (m.kind != MidiNote) continue;
        const int t = findMidiTarget(m.target);
        if (t < 0 || !midiTarget(t).state) continue;
        const int32_t state = midiTarget(t).state(midiTarget(t).param);
        const int8_t on = state == MidiLightDim ? int8_t(MidiLightDim) : state ? 1 : 0;
        if (on == m.lit && !all) continue;
        m.lit = on;
        const uint8_t velocity = on == MidiLightDim ? MidiDimVelocity : on ? 127 : 0;
        const uint8_t bytes[3] = {uint8_t(0x90 | (m.channel < 0 ? 0 : m.channel)), m.number, velocity};
        if (send) send(bytes, 3);
    }
}
