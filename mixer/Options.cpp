// The options object and its two settings files, data/prefs.xml and data/glove.xml.
#include "mixer/Options.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>

#include "core/AppState.h"
#include "core/Notice.h"
#include "library/SafeSave.h"
#include "library/XmlReader.h"
#include "mixer/EffectTable.h"

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

void closeLog() {
    std::cout << "end XML loading" << std::endl;
    std::cout << " " << std::endl;
}

}  // namespace

std::string prefsContent(int32_t mode, int32_t showTopLine, const int32_t filterIds[8]) {
    std::string s = header();
    if (mode == 0 || mode == 1) s += element("mode", mode);
    if (showTopLine == 0 || showTopLine == 1) s += element("topbar", showTopLine);
    for (int i = 0; i < 8; i++) s += element("filter", filterIds[i]);
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
void Options::savePrefs() {
    std::cout << "saveXML options" << std::endl;
    int32_t ids[8];
    for (int i = 0; i < 8; i++) ids[i] = effectTable.slots[0][i].effectId;
    int error = 0;
    if (!saveFileSafely(baseDir + "/data/prefs.xml", prefsContent(appState.mode, showTopLine, ids), &error))
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
