// The browser surface's server: civetweb on threads of its own serves the page's compiled-in files,
// the loaded clips' list and thumbnails, and the WebSocket /ws. Messages from the sockets wait in a
// bounded queue that the main loop drains once a frame; what the main loop publishes (state as
// JSON, preview pictures) is written to the sockets by a sender thread, so the main loop never
// waits on the network.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "web/WebMessage.h"

constexpr int MaxWebClients = 8;
constexpr int WebQueueMessages = 256;
constexpr int MaxWebRequestBytes = 8192;  // request line and headers
constexpr int PreviewQuality = 60;

// Listens on host:port (port 0 picks a free one). With a token, every request must carry it (the
// query parameter or the cookie "token"); without, only the addresses of this machine are
// accepted as Host. False with error set when the address cannot be used.
bool startWebServer(const std::string& host, int port, const std::string& token, std::string& error);
void stopWebServer();
bool webServerRunning();
int webServerPort();

// Main loop: takes up to max waiting messages; the count of messages dropped because the queue
// was full since the last call goes to dropped.
int takeWebMessages(WebMessage* out, int max, uint32_t& dropped);

// Main loop: messages for every connected page, in order. The whole state (what a page that
// connects now needs) replaces the previous one.
void publishWebMessages(const std::vector<std::string>& messages);
void setWebState(const std::vector<std::string>& messages);
// Main loop: the clips list (JSON) and each clip's thumbnail file ("" while there is none), served
// as /clips.json and /thumb/N.
void setWebClips(const std::string& json, const std::vector<std::string>& thumbnails);
// Main loop: whether any page is connected (the preview is only taken then), and a picture for
// the preview (320x240 RGB565, stride in pixels), encoded and sent by the sender thread.
bool webClientsConnected();
void postWebPicture(const uint16_t* pixels, int stride);

// Figures for the log and the measurements: pictures and bytes sent since start.
struct WebPreviewCount {
    uint64_t pictures = 0;
    uint64_t bytes = 0;
};
WebPreviewCount webPreviewCount();
