#include "web/WebSurface.h"

#include <qrencode.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <iostream>
#include <netinet/in.h>
#include <sys/random.h>
#include <vector>

#include "core/AppState.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "library/SafeSave.h"
#include "remote/OscFeedback.h"
#include "remote/RemoteSettings.h"
#include "tracks/Track.h"
#include "web/Thumbnails.h"
#include "web/WebControls.h"
#include "web/WebServer.h"

namespace {

const char* const SettingsFile = "data/remote.xml";
constexpr uint32_t PreviewIntervalMs = 40;  // 25 pictures a second at most

std::string address;
bool pictureTaken = false;
uint32_t nextPictureAt = 0;

// The QR code of the address: modules across, one byte per module (1 dark).
int qrWidth = 0;
std::vector<uint8_t> qrModules;

// The feedback values as last sent to the pages, by address.
struct SentValue {
    std::string address;
    std::string json;
};
std::vector<SentValue> sent;
std::vector<std::string> changed;

// What the clips list was made from: rebuilt when the playlist or the loaded count changes.
int32_t listedPlaylist = -1, listedTracks = -1, listedPosition = -1;
bool thumbnailTried[TrackSlots];

std::string makeToken() {
    uint8_t bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        FILE* f = fopen("/dev/urandom", "rb");
        if (f) {
            if (fread(bytes, 1, sizeof bytes, f) != sizeof bytes) memset(bytes, 0, sizeof bytes);
            fclose(f);
        }
    }
    char text[17];
    for (int i = 0; i < 8; i++) snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

// The address a phone can reach: for a wildcard, the first IPv4 address of an interface that is up
// and not the loopback.
std::string reachableHost(const std::string& host) {
    if (host != "0.0.0.0" && host != "::" && host != "[::]") return host;
    ifaddrs* list = nullptr;
    std::string found = host;
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        const in_addr ip = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr;
        if ((ntohl(ip.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN];
        if (inet_ntop(AF_INET, &ip, text, sizeof text)) {
            found = text;
            break;
        }
    }
    freeifaddrs(list);
    return found;
}

void makeQrCode(const std::string& text) {
    qrWidth = 0;
    qrModules.clear();
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    if (!code) return;
    qrWidth = code->width;
    qrModules.resize(size_t(qrWidth) * qrWidth);
    for (size_t i = 0; i < qrModules.size(); i++) qrModules[i] = code->data[i] & 1;
    QRcode_free(code);
}

void collectFeedback(const char* name, char type, const OscArg& value) {
    const std::string json = webMessageJson(name, type, value);
    for (SentValue& v : sent)
        if (v.address == name) {
            if (v.json != json) {
                v.json = json;
                changed.push_back(json);
            }
            return;
        }
    sent.push_back({name, json});
    changed.push_back(json);
}

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c < 0x20) {
            char e[8];
            snprintf(e, sizeof e, "\\u%04x", c);
            out += e;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The loaded playlist's entries in order: each loaded one with its track (the slot it plays from),
// those that did not load as missing, those not loaded (yet) as loading.
void publishClips() {
    const Playlist& playlist = mix.playlists[mix.loadingPlaylist];
    const int used = std::min(std::max(playlist.trackCount, 0), MaxPlaylistTracks);
    std::string json = "{\"playlist\":" + jsonText(mix.playlistCount > 0 ? playlist.name : "") + ",\"clips\":[";
    std::vector<std::string> thumbs;
    int slot = 0;
    for (int j = 0; j < used && mix.playlistCount > 0; j++) {
        const std::string& file = playlist.tracks[j].file;
        if (j) json += ",";
        json += "{\"name\":" + jsonText(file);
        if (slot < mix._totalTracks && tracks[slot].name == file) {
            json += ",\"track\":" + std::to_string(slot);
            thumbs.push_back(thumbnailCurrent(tracks[slot].path) ? thumbnailPath(tracks[slot].path) : "");
            json += thumbs.back().empty() ? "" : ",\"thumb\":" + std::to_string(slot);
            slot++;
        } else {
            // Passed by the loading run without loading, or missing at the last scan; else not loaded yet.
            json += j < mix.loadPosition || playlist.tracks[j].missing ? ",\"missing\":true" : ",\"loading\":true";
        }
        json += "}";
    }
    setWebClips(json + "]}", thumbs);
}

}  // namespace

void openWebSurface() {
    closeWebSurface();
    registerWebControls();
    RemoteSettings settings;
    const bool hadFile = settings.load(SettingsFile);
    settings.applyLaunchOptions();
    if (settings.webPort <= 0) return;
    if (!hadFile) saveFileSafely(SettingsFile, RemoteSettings().content());

    // Only this machine's own address goes without a token.
    const bool local = settings.webHost == "127.0.0.1" || settings.webHost == "localhost";
    const std::string token = local ? "" : makeToken();
    std::string error;
    if (!startWebServer(settings.webHost, settings.webPort, token, error)) {
        std::cout << "web: cannot listen on " << settings.webHost << " port " << settings.webPort << ": " << error << std::endl;
        char text[64];
        snprintf(text, sizeof text, "browser: port %d is not free", settings.webPort);
        postNotice(text);
        return;
    }
    address = "http://" + reachableHost(settings.webHost) + ":" + std::to_string(webServerPort()) + "/";
    if (!token.empty()) address += "?token=" + token;
    makeQrCode(address);
    std::cout << "web: " << address << std::endl;
    // On the terminal as well, where the performer started the program.
    printf("web: %s\n", address.c_str());
    fflush(stdout);
    sent.clear();
    listedPlaylist = listedTracks = listedPosition = -1;
    memset(thumbnailTried, 0, sizeof thumbnailTried);
    nextPictureAt = 0;
}

void closeWebSurface() {
    stopWebServer();
    address.clear();
    qrWidth = 0;
    qrModules.clear();
}

bool webSurfaceOpen() { return webServerRunning(); }
const std::string& webSurfaceAddress() { return address; }

void pollWebSurface() {
    if (!webServerRunning()) return;
    static WebMessage messages[WebQueueMessages];
    uint32_t dropped = 0;
    const int n = takeWebMessages(messages, WebQueueMessages, dropped);
    for (int i = 0; i < n; i++) dispatchWebMessage(messages[i]);
    if (dropped) std::cout << "web: " << dropped << " messages dropped (queue full)" << std::endl;
}

void takeWebPicture(const uint16_t* pixels, int stride) {
    if (pictureTaken || !webServerRunning()) return;
    pictureTaken = true;
    const uint32_t now = platform::ticks();
    // A frame up to 2 ms early still counts; the schedule itself keeps 40 ms steps, so that at
    // most 25 pictures a second go out whatever the frame rate.
    const int32_t late = int32_t(now - nextPictureAt);
    if (late < -2 || !webClientsConnected()) return;
    nextPictureAt = late < int32_t(PreviewIntervalMs) ? nextPictureAt + PreviewIntervalMs : now + PreviewIntervalMs;
    postWebPicture(pixels, stride);
}

void sendWebSurface() {
    pictureTaken = false;
    if (!webServerRunning()) return;
    changed.clear();
    pollOscFeedback(true, collectFeedback);
    if (!changed.empty()) {
        publishWebMessages(changed);
        std::vector<std::string> whole;
        for (const SentValue& v : sent) whole.push_back(v.json);
        setWebState(whole);
    }

    if (mix.loadingPlaylist != listedPlaylist || mix._totalTracks < listedTracks) memset(thumbnailTried, 0, sizeof thumbnailTried);
    // One thumbnail a frame at most, for the first loaded clip without a current one.
    bool made = false;
    for (int s = 0; s < mix._totalTracks && s < TrackSlots && !made; s++) {
        if (thumbnailTried[s] || tracks[s].ready != Ready) continue;
        // Tried once per load: a folder that cannot be written is not tried every frame.
        thumbnailTried[s] = true;
        if (!thumbnailCurrent(tracks[s].path)) made = makeThumbnail(tracks[s]);
    }
    if (made || mix.loadingPlaylist != listedPlaylist || mix._totalTracks != listedTracks || mix.loadPosition != listedPosition) {
        listedPlaylist = mix.loadingPlaylist;
        listedTracks = mix._totalTracks;
        listedPosition = mix.loadPosition;
        publishClips();
    }
}

void drawWebAddress(SDL_Surface* screen) {
    if (!webServerRunning() || address.find("?token=") == std::string::npos || qrWidth == 0) return;
    // Over the logo's panel (x 8..102, y 8..108): white with the code in the middle, 2 pixels a
    // module where it fits, a quiet zone of white around it.
    constexpr int PanelX = 8, PanelY = 8, PanelW = 95, PanelH = 101;
    const int scale = qrWidth * 2 + 8 <= PanelW ? 2 : 1;
    fillRect(screen, PanelX, PanelY, PanelW, PanelH, 0xFFFF);
    const int left = PanelX + (PanelW - qrWidth * scale) / 2, top = PanelY + (PanelH - qrWidth * scale) / 2;
    for (int y = 0; y < qrWidth; y++)
        for (int x = 0; x < qrWidth; x++)
            if (qrModules[size_t(y) * qrWidth + x]) fillRect(screen, left + x * scale, top + y * scale, scale, scale, 0);
    drawLabel(uiFonts, screen, fitText(uiFonts, 0, address, 300, false).c_str(), 10, 205, uiBlack, 0, uiGrey);
}
