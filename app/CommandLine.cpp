#include "app/CommandLine.h"

#include <cstdlib>
#include <cstring>

#include "core/LaunchOptions.h"
#include "projector/ProjectorPlace.h"
#include "projector/ProjectorScale.h"
#include "live/LiveSource.h"
#include "record/VideoWriter.h"

LaunchOptions launchOptions;

namespace {

// A flag either stands alone (takesValue false) or takes the next argument (or "--flag=value").
struct Flag {
    const char* name;
    const char* valueName;  // nullptr: the flag takes no value
    const char* help;
    // Applies the flag; value is nullptr for a flag without one. Returns false with error set.
    bool (*apply)(const char* value, std::string& error);
};

// Parses a whole decimal number in [low, high].
bool parseInt(const char* text, long low, long high, long& out) {
    if (!text || !*text) return false;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end || v < low || v > high) return false;
    out = v;
    return true;
}

const Flag flags[] = {
    {"--help", nullptr, "print this help and exit",
     [](const char*, std::string&) { return launchOptions.help = true; }},
    {"--version", nullptr, "print the version (release and commit) and exit",
     [](const char*, std::string&) { return launchOptions.version = true; }},
    {"--run-folder", "DIR", "run in DIR (made from the default set when it has no data/)",
     [](const char* v, std::string&) {
         if (!*v) return false;
         launchOptions.runFolder = v;
         return true;
     }},
    // Remote control.
    {"--midi", nullptr, "play from MIDI controllers (own ports loopmixer midi_in/midi_out)",
     [](const char*, std::string&) { return launchOptions.midi = true; }},
    {"--midi-connect", "PATTERN", "connect MIDI ports whose names contain PATTERN (repeatable)",
     [](const char* v, std::string& error) {
         if (!*v || std::strlen(v) > 63 || launchOptions.midiConnect.size() == 8) {
             error = "--midi-connect takes up to 8 patterns of 1 to 63 characters";
             return false;
         }
         launchOptions.midiConnect.push_back(v);
         return true;
     }},
    {"--osc-port", "N", "listen for OSC on UDP port N (of 127.0.0.1 unless --osc-host)",
     [](const char* v, std::string&) {
         long n;
         if (!parseInt(v, 1, 65535, n)) return false;
         launchOptions.oscPort = int(n);
         return true;
     }},
    {"--osc-host", "ADDR", "listen for OSC on address ADDR instead of 127.0.0.1",
     [](const char* v, std::string&) {
         if (!*v || std::strlen(v) > 63) return false;
         launchOptions.oscHost = v;
         return true;
     }},
    {"--osc-feedback", "HOST:PORT", "send the state over OSC to HOST:PORT (repeatable)",
     [](const char* v, std::string& error) {
         const char* colon = std::strrchr(v, ':');
         long port;
         if (!colon || colon == v || std::strlen(v) > 63 || !parseInt(colon + 1, 1, 65535, port) ||
             launchOptions.oscFeedback.size() == 8) {
             error = "--osc-feedback takes up to 8 targets HOST:PORT";
             return false;
         }
         launchOptions.oscFeedback.push_back(v);
         return true;
     }},
    // Sound input.
    {"--audio", nullptr, "listen to the sound: JACK input port loopmixer:audio_in (tempo, beats, levels)",
     [](const char*, std::string&) { return launchOptions.audio = true; }},
    {"--audio-connect", "PATTERN", "connect audio output ports whose names contain PATTERN to audio_in (repeatable)",
     [](const char* v, std::string& error) {
         if (!*v || std::strlen(v) > 63 || launchOptions.audioConnect.size() == 8) {
             error = "--audio-connect takes up to 8 patterns of 1 to 63 characters";
             return false;
         }
         launchOptions.audioConnect.push_back(v);
         return true;
     }},
    // Recording.
    {"--record", "TARGET", "record from launch on: FILE.mkv, FILE.mp4, udp://HOST:PORT, srt://..., /dev/videoN",
     [](const char* v, std::string& error) {
         if (targetKind(v) == TargetKind::Unknown) {
             error = std::string("--record: ") + v + " is not a .mkv or .mp4 file, udp://, srt:// or /dev/videoN";
             return false;
         }
         launchOptions.recordTarget = v;
         return true;
     }},
    {"--record-scale", "N", "enlarge the recorded picture N times, sharp pixels (1..8, default 1)",
     [](const char* v, std::string&) {
         long n;
         if (!parseInt(v, 1, MaxRecordScale, n)) return false;
         launchOptions.recordScale = int(n);
         return true;
     }},
    {"--record-constant-rate", nullptr, "record a steady 25 fps (frames repeated or dropped), not the presented timing",
     [](const char*, std::string&) { return launchOptions.recordConstantRate = true; }},
    {"--record-as-shown", nullptr, "on the Mix screen record the screen as shown (overlay, chooser), not the clean picture",
     [](const char*, std::string&) { return launchOptions.recordAsShown = true; }},
    // Projector.
    {"--projector", "WHERE", "open the projector picture at launch: monitor 0, 1, ..., WxH+X+Y or window",
     [](const char* v, std::string& error) {
         ProjectorPlace place;
         if (!parseProjectorPlace(v, place)) {
             error = std::string("--projector: ") + v + " is not a monitor number, WxH+X+Y or window";
             return false;
         }
         launchOptions.projector = v;
         return true;
     }},
    {"--projector-fit", "letterbox|fill|stretch", "how the projector fits the 4:3 picture (default letterbox)",
     [](const char* v, std::string&) { return (launchOptions.projectorFit = parseProjectorFit(v)) >= 0; }},
    {"--projector-look", "sharp|smooth", "projector pixels: whole factors, nearest (sharp) or bilinear (smooth)",
     [](const char* v, std::string&) { return (launchOptions.projectorLook = parseProjectorLook(v)) >= 0; }},
    // The browser surface.
    {"--web-port", "N", "serve the browser surface on port N (of 127.0.0.1 unless --web-host)",
     [](const char* v, std::string&) {
         long n;
         if (!parseInt(v, 1, 65535, n)) return false;
         launchOptions.webPort = int(n);
         return true;
     }},
    {"--web-host", "ADDR", "serve it on address ADDR (0.0.0.0: the network), with a token",
     [](const char* v, std::string&) {
         if (!*v || std::strlen(v) > 63) return false;
         launchOptions.webHost = v;
         return true;
     }},
    // Live input.
    {"--live", "SOURCE", "add a live source to the playlist \"Live\" of this run: udp://..., v4l2:/dev/video0, ... (repeatable)",
     [](const char* v, std::string& error) {
         const std::string entry = isLiveEntry(v) ? v : LivePrefix + std::string(v);
         std::string why;
         LiveAddress parts;
         if (!parseLiveEntry(entry, parts, &why) || launchOptions.liveSources.size() == 51) {
             error = std::string("--live ") + v + ": " + (why.empty() ? "at most 51 sources" : why);
             return false;
         }
         launchOptions.liveSources.push_back(v);
         return true;
     }},
    {"--live-letterbox", nullptr, "show live pictures whole inside black bars instead of cropped to 4:3",
     [](const char*, std::string&) { return launchOptions.liveLetterbox = true; }},
};

}  // namespace

bool parseCommandLine(int argc, char** argv, std::string& error) {
    launchOptions = LaunchOptions();
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        std::string inlineValue;
        bool hasInline = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        const Flag* flag = nullptr;
        for (const Flag& f : flags)
            if (arg == f.name) flag = &f;
        if (!flag) {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
        const char* value = nullptr;
        if (flag->valueName) {
            if (hasInline) value = inlineValue.c_str();
            else if (i + 1 < argc) value = argv[++i];
            else {
                error = arg + " needs " + flag->valueName;
                return false;
            }
        } else if (hasInline) {
            error = arg + " takes no value";
            return false;
        }
        if (!flag->apply(value, error)) {
            if (error.empty()) error = "bad value for " + arg + ": " + (value ? value : "");
            return false;
        }
    }
    return true;
}

std::string commandLineUsage() {
    std::string text = "usage: loopmixer [options]\n"
                       "Runs in the current folder when it holds data/, else in ~/.local/share/loopmixer\n"
                       "(made from the installed default set): reads data/ and videos/ there, writes\n"
                       "data/log.txt.\n\n";
    for (const Flag& f : flags) {
        std::string left = std::string("  ") + f.name;
        if (f.valueName) left += std::string(" ") + f.valueName;
        if (left.size() < 26) left.resize(26, ' ');
        else left += "  ";
        text += left + f.help + "\n";
    }
    return text;
}
