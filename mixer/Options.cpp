// The options object and its two settings files, data/prefs.xml and data/glove.xml.
#include "mixer/Options.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "core/AppState.h"
#include "core/Notice.h"
#include "library/SafeSave.h"
#include "library/XmlReader.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "tempo/TempoClock.h"

Options options;

namespace {

const char* const declaration = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";

// atoi's reading (leading blanks, a sign, the digits up to the first other byte, 0 for none),
// but a number too large for an int32 saturates instead of being undefined.
int32_t parseNumber(const std::string& text) {
    long n = std::strtol(text.c_str(), nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return int32_t(n);
}

std::string header() { return std::string(declaration) + "\n<all>\n"; }

std::string element(const char* name, int32_t n) {
    return std::string("\t<") + name + ">" + std::to_string(n) + "</" + name + ">\n";
}

// A small setting: the text must be one of the digits 0 to last, else the setting stays.
void readChoice(FILE* f, const char* name, int32_t last, int32_t& setting) {
    const std::string t = XmlReader::readElement(f, name);
    if (t.size() == 1 && t[0] >= '0' && t[0] <= '0' + last) setting = t[0] - '0';
}

void closeLog() {
    std::cout << "end XML loading" << std::endl;
    std::cout << " " << std::endl;
}

}  // namespace

std::string prefsContent(int32_t mode, int32_t showTopLine, const int32_t filterIds[8], const BeatSettings& beat,
                         const ProjectorSettings& projector) {
    std::string s = header();
    if (mode == 0 || mode == 1) s += element("mode", mode);
    if (showTopLine == 0 || showTopLine == 1) s += element("topbar", showTopLine);
    for (int i = 0; i < 8; i++) s += element("filter", filterIds[i]);
    char bpm[32];
    std::snprintf(bpm, sizeof bpm, "%.2f", beat.bpm);
    s += std::string("\t<tempo>") + bpm + "</tempo>\n";
    s += element("quantise", beat.quantise);
    s += element("beatflash", beat.beatFlash);
    for (int d = 0; d < 2; d++) s += element("sync", beat.sync[d]);
    s += element("projectorfit", projector.fit);
    s += element("projectorlook", projector.look);
    if (beat.follow == 1) s += element("follow", 1);
    return s + "</all>\n";
}

std::string gloveContent(const int32_t keys[16]) {
    std::string s = header();
    for (int i = 0; i < 16; i++) s += element("key", keys[i]);
    return s + "</all>\n";
}

void Options::initOptions() {
    pickedFilter = 0;
    abxyImage = loadPicture("data/abxy.png");
    dragging = 0;
    baseDir = currentDirectory();
    if (baseDir.empty()) baseDir = ".";
    showTopLine = 0;
    beatFlash = BeatFlashOff;
    projectorFit = projectorLook = 0;
    loadPrefs();
    for (int32_t& k : keys) k = 0;
    loadGlove();
}

void Options::loadPrefs() {
    std::cout << "start XML loading options" << std::endl;
    xmlFile = std::fopen("./data/prefs.xml", "r");
    if (!xmlFile) {
        std::cout << "can't find options XML file" << std::endl;
        closeLog();
        return;
    }
    XmlReader::readPrologue(xmlFile);
    std::string t = XmlReader::readElement(xmlFile, "mode");
    if (t == "0") appState.mode = ModeA;
    else if (t == "1") appState.mode = ModeB;
    t = XmlReader::readElement(xmlFile, "topbar");
    if (t == "0") showTopLine = 0;
    else if (t == "1") showTopLine = 1;
    for (int i = 0; i < 8; i++) {
        const int32_t n = parseNumber(XmlReader::readElement(xmlFile, "filter"));
        effectTable.slots[0][i].effectId = n;
        effectTable.slots[1][i].effectId = n;
    }
    // The beat's settings came later: a file written before them ends here, and every one keeps
    // its default.
    t = XmlReader::readElement(xmlFile, "tempo");
    char* end = nullptr;
    const double bpm = std::strtod(t.c_str(), &end);
    if (!t.empty() && end == t.c_str() + t.size()) tempoClock.setTempo(bpm, 0);
    readChoice(xmlFile, "quantise", QuantiseBar, appState.quantise);
    readChoice(xmlFile, "beatflash", BeatFlashEveryBar, beatFlash);
    for (int d = 0; d < 2; d++) readChoice(xmlFile, "sync", 1, decks.sync[d]);
    readChoice(xmlFile, "projectorfit", 2, projectorFit);
    readChoice(xmlFile, "projectorlook", 1, projectorLook);
    readChoice(xmlFile, "follow", 1, tempoClock.followSound);
    std::fclose(xmlFile);
    xmlFile = nullptr;
    closeLog();
}

void Options::loadGlove() {
    std::cout << "start XML loading glove options" << std::endl;
    xmlFile = std::fopen("./data/glove.xml", "r");
    if (!xmlFile) {
        std::cout << "can't find options XML file" << std::endl;
        closeLog();
        return;
    }
    XmlReader::readPrologue(xmlFile);
    for (int i = 0; i < 16; i++) keys[i] = parseNumber(XmlReader::readElement(xmlFile, "key"));
    std::fclose(xmlFile);
    xmlFile = nullptr;
    closeLog();
}

// Both files are built in memory and replace the old ones only once written and synced, so a
// full card or a crash mid-save leaves the previous settings intact.
std::string Options::currentPrefs() const {
    int32_t ids[8];
    for (int i = 0; i < 8; i++) ids[i] = effectTable.slots[0][i].effectId;
    BeatSettings beat;
    beat.bpm = tempoClock.bpm();
    beat.quantise = appState.quantise;
    beat.beatFlash = beatFlash;
    for (int d = 0; d < 2; d++) beat.sync[d] = decks.sync[d];
    beat.follow = tempoClock.followSound;
    ProjectorSettings projector;
    projector.fit = projectorFit;
    projector.look = projectorLook;
    return prefsContent(appState.mode, showTopLine, ids, beat, projector);
}

void Options::savePrefs() {
    std::cout << "saveXML options" << std::endl;
    int error = 0;
    if (!saveFileSafely(baseDir + "/data/prefs.xml", currentPrefs(), &error))
        postNotice(("can't save options: " + saveFailureReason(error)).c_str());
}

void Options::saveGlove() {
    std::cout << "save glove XML options" << std::endl;
    int error = 0;
    if (!saveFileSafely(baseDir + "/data/glove.xml", gloveContent(keys), &error))
        postNotice(("can't save glove keys: " + saveFailureReason(error)).c_str());
}

void Options::saveAndLeave() {
    // A filter still on the stylus is put back: otherwise the first release on the next visit
    // would drop it into a slot.
    dragging = 0;
    savePrefs();
    if (appState.mode == ModeB) saveGlove();
    appState.screen = Screen::Home;
}
