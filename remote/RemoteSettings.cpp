#include "remote/RemoteSettings.h"

#include <cstdlib>
#include <iostream>

#include "core/LaunchOptions.h"
#include "remote/RemoteFiles.h"

namespace {

bool shortText(const std::string& s) {
    if (s.empty() || s.size() > MaxRemoteTextChars) return false;
    for (char c : s)
        if (uint8_t(c) < 32 || c == '<' || c == '>' || c == '&') return false;
    return true;
}

std::vector<std::string> texts(const std::string& content, const char* name) {
    std::vector<std::string> out;
    for (const std::string& s : remoteElements(content, name, MaxRemotePatterns)) {
        if (shortText(s)) out.push_back(s);
        else std::cout << "remote settings: bad <" << name << "> ignored" << std::endl;
    }
    return out;
}

}  // namespace

bool RemoteSettings::load(const std::string& path) {
    std::string content;
    if (!readRemoteFile(path, content)) return false;
    for (const std::string& s : remoteElements(content, "midi", 1)) midi = s == "1";
    for (const std::string& s : remoteElements(content, "midiapi", 1)) {
        if (s == "auto" || s == "alsa" || s == "jack") midiApi = s;
        else std::cout << "remote settings: bad <midiapi> ignored" << std::endl;
    }
    connect = texts(content, "connect");
    for (const std::string& s : remoteElements(content, "oscport", 1)) {
        char* end = nullptr;
        const long p = strtol(s.c_str(), &end, 10);
        if (!s.empty() && !*end && p >= 0 && p <= 65535) oscPort = int(p);
        else std::cout << "remote settings: bad <oscport> ignored" << std::endl;
    }
    for (const std::string& s : texts(content, "oschost")) oscHost = s;
    feedback = texts(content, "feedback");
    for (const std::string& s : remoteElements(content, "webport", 1)) {
        char* end = nullptr;
        const long p = strtol(s.c_str(), &end, 10);
        if (!s.empty() && !*end && p >= 0 && p <= 65535) webPort = int(p);
        else std::cout << "remote settings: bad <webport> ignored" << std::endl;
    }
    for (const std::string& s : texts(content, "webhost")) webHost = s;
    for (const std::string& s : remoteElements(content, "audio", 1)) audio = s == "1";
    audioConnect = texts(content, "audioconnect");
    sound = texts(content, "sound");
    return true;
}

std::string RemoteSettings::content() const {
    std::string text = remoteFileHeader();
    text += std::string("\t<midi>") + (midi ? "1" : "0") + "</midi>\n";
    text += "\t<midiapi>" + midiApi + "</midiapi>\n";
    for (const std::string& c : connect) text += "\t<connect>" + c + "</connect>\n";
    text += "\t<oscport>" + std::to_string(oscPort) + "</oscport>\n";
    text += "\t<oschost>" + oscHost + "</oschost>\n";
    for (const std::string& f : feedback) text += "\t<feedback>" + f + "</feedback>\n";
    text += "\t<webport>" + std::to_string(webPort) + "</webport>\n";
    text += "\t<webhost>" + webHost + "</webhost>\n";
    text += std::string("\t<audio>") + (audio ? "1" : "0") + "</audio>\n";
    for (const std::string& c : audioConnect) text += "\t<audioconnect>" + c + "</audioconnect>\n";
    for (const std::string& s : sound) text += "\t<sound>" + s + "</sound>\n";
    return text + "</all>\n";
}

void RemoteSettings::applyLaunchOptions() {
    const LaunchOptions& o = launchOptions;
    if (o.midi) midi = true;
    if (!o.midiConnect.empty()) connect = o.midiConnect;
    if (o.oscPort >= 0) oscPort = o.oscPort;
    if (!o.oscHost.empty()) oscHost = o.oscHost;
    if (!o.oscFeedback.empty()) feedback = o.oscFeedback;
    if (o.webPort >= 0) webPort = o.webPort;
    if (!o.webHost.empty()) webHost = o.webHost;
    if (o.audio) audio = true;
    if (!o.audioConnect.empty()) audioConnect = o.audioConnect;
}
