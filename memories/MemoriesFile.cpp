#include "memories/MemoriesFile.h"

#include <cstdlib>

#include "core/Utf8.h"
#include "library/XmlReader.h"

namespace {

// Both 44 bytes with their line end, the length the reader discards; UTF-8 only when every name
// is UTF-8 and one is not ASCII, as in the playlists file.
const char* const Latin1Declaration = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";
const char* const Utf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"     ?>\n";

const std::string EndOfDocument = "</all>";

std::string element(const char* indent, const char* name, const std::string& text) {
    return std::string(indent) + "<" + name + ">" + text + "</" + name + ">\n";
}

std::string element(const char* indent, const char* name, int32_t n) { return element(indent, name, std::to_string(n)); }

// "on:value" for the eight slots, one space between.
std::string effectsText(const DeckLook& d) {
    std::string s;
    for (int i = 0; i < LookSlots; i++) {
        if (i) s += ' ';
        s += std::to_string(d.on[i]) + ":" + std::to_string(d.value[i]);
    }
    return s;
}

bool readEffects(const std::string& t, DeckLook& d) {
    if (t.size() != LookSlots * 4 - 1) return false;
    for (int i = 0; i < LookSlots; i++) {
        const char* p = t.c_str() + 4 * i;
        if (p[0] < '0' || p[0] > '9' || p[1] != ':' || p[2] < '0' || p[2] > '9') return false;
        if (i < LookSlots - 1 && p[3] != ' ') return false;
        d.on[i] = p[0] - '0';
        d.value[i] = p[2] - '0';
    }
    return true;
}

// Whole decimal numbers only: "", signs, blanks and anything after the digits are refused.
bool readNumber(FILE* f, const char* name, int32_t& out) {
    const std::string t = XmlReader::readElement(f, name);
    if (t.empty() || t.size() > 6) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    out = int32_t(std::atoi(t.c_str()));
    return true;
}

bool readName(FILE* f, const char* name, std::string& out) {
    out = XmlReader::readElement(f, name);
    return out.find('<') == std::string::npos && !feof(f) && !ferror(f);
}

bool readDeck(FILE* f, DeckLook& d) {
    if (XmlReader::readUntil(f, "<deck>") == EndOfDocument) return false;
    std::string effects;
    return readName(f, "track", d.track) && readNumber(f, "slot", d.slot) && readNumber(f, "frame", d.frame) &&
           readNumber(f, "direction", d.direction) && readNumber(f, "sync", d.sync) &&
           readNumber(f, "beats", d.beats) && readName(f, "effects", effects) && readEffects(effects, d);
}

bool fits(const std::string& name, const char* element) {
    if (name.size() > XmlReader::longestText(element)) return false;
    for (unsigned char c : name)
        if (c == '<' || c == '>' || c == '&' || c < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

std::string memoriesText(const Look looks[MemoryCount], const int32_t stored[MemoryCount]) {
    bool ascii = true, utf8 = true;
    for (int k = 0; k < MemoryCount; k++) {
        if (!stored[k]) continue;
        const std::string names = looks[k].playlist + looks[k].decks[0].track + looks[k].decks[1].track;
        ascii = ascii && isAscii(names);
        utf8 = utf8 && isUtf8(names);
    }
    std::string s = std::string(!ascii && utf8 ? Utf8Declaration : Latin1Declaration) + "\n<all>\n";
    for (int k = 0; k < MemoryCount; k++) {
        if (!stored[k]) continue;
        const Look& l = looks[k];
        s += "\t<memory>\n";
        s += element("\t\t", "number", k + 1);
        s += element("\t\t", "playlist", l.playlist);
        s += element("\t\t", "mode", l.mode);
        s += element("\t\t", "wait", l.wait);
        s += element("\t\t", "selected", l.selectedDeck);
        s += element("\t\t", "blend", l.blendMode);
        s += element("\t\t", "fade", l.fade);
        s += element("\t\t", "rate", l.rate);
        s += element("\t\t", "freeze", l.frozen);
        for (const DeckLook& d : l.decks) {
            s += "\t\t<deck>\n";
            s += element("\t\t\t", "track", d.track);
            s += element("\t\t\t", "slot", d.slot);
            s += element("\t\t\t", "frame", d.frame);
            s += element("\t\t\t", "direction", d.direction);
            s += element("\t\t\t", "sync", d.sync);
            s += element("\t\t\t", "beats", d.beats);
            s += element("\t\t\t", "effects", effectsText(d));
            s += "\t\t</deck>\n";
        }
        s += "\t</memory>\n";
    }
    return s + "</all>\n";
}

int readMemories(FILE* f, Look looks[MemoryCount], int32_t stored[MemoryCount]) {
    for (int k = 0; k < MemoryCount; k++) {
        looks[k] = Look();
        stored[k] = 0;
    }
    XmlReader::readPrologue(f);
    int read = 0;
    // At most one entry per memory is read: a file cannot hold the reader longer than that.
    for (int entry = 0; entry < MemoryCount; entry++) {
        if (XmlReader::readUntil(f, "<memory>") == EndOfDocument || feof(f) || ferror(f)) break;
        Look l;
        int32_t number = 0;
        const bool whole = readNumber(f, "number", number) && number >= 1 && number <= MemoryCount &&
                           readName(f, "playlist", l.playlist) && readNumber(f, "mode", l.mode) &&
                           readNumber(f, "wait", l.wait) && readNumber(f, "selected", l.selectedDeck) &&
                           readNumber(f, "blend", l.blendMode) && readNumber(f, "fade", l.fade) &&
                           readNumber(f, "rate", l.rate) && readNumber(f, "freeze", l.frozen) &&
                           readDeck(f, l.decks[0]) && readDeck(f, l.decks[1]);
        if (!whole || !l.valid()) break;
        looks[number - 1] = l;
        stored[number - 1] = 1;
        read++;
    }
    return read;
}

bool namesStorable(const Look& look) {
    return fits(look.playlist, "playlist") && fits(look.decks[0].track, "track") && fits(look.decks[1].track, "track");
}
