// The remote seam's settings, kept in data/remote.xml and overridden for one run by the command
// line: MIDI on or off, the MIDI system, the port patterns to connect, the OSC port and address,
// the OSC feedback targets, and the sound input with what it drives.
#pragma once
#include <string>
#include <vector>

constexpr size_t MaxRemotePatterns = 8;
constexpr size_t MaxRemoteTextChars = 63;

struct RemoteSettings {
    bool midi = false;
    std::string midiApi = "auto";  // "auto", "alsa" or "jack"
    std::vector<std::string> connect;
    int oscPort = 0;  // 0: no OSC
    std::string oscHost = "127.0.0.1";
    std::vector<std::string> feedback;  // "HOST:PORT"
    int webPort = 0;  // 0: no browser surface
    std::string webHost = "127.0.0.1";
    bool audio = false;                      // the sound input
    std::vector<std::string> audioConnect;   // output ports connected to it
    std::vector<std::string> sound;          // what the sound drives: "SOURCE TARGET [FROM TO]"

    // Reads the file; values that do not parse keep their defaults (with a log line). False when
    // there is no file.
    bool load(const std::string& path);
    std::string content() const;
    // The command line's flags replace what they name.
    void applyLaunchOptions();
};
