#include "web/WebServer.h"

#include <civetweb.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "web/JpegPicture.h"
#include "web/PageFiles.h"

namespace {

constexpr int PictureWidth = 320, PictureHeight = 240;
constexpr size_t MaxThumbnailBytes = 256 * 1024;
constexpr int MaxClips = 64;

mg_context* context = nullptr;
std::atomic<int> listeningPort{0};  // read by the request threads
std::string accessToken;  // empty: local use only, checked by Host

// --- the queue from the sockets to the main loop ------------------------------------------------
std::mutex queueMutex;
WebMessage queue[WebQueueMessages];
int queueFirst = 0, queueCount = 0;
uint32_t queueDropped = 0;

// --- the connected pages -----------------------------------------------------------------------
// Each page has a writer thread of its own, so that a page that stops reading (a phone whose
// screen went off) holds up nobody else: it only misses pictures, and gets the whole state again
// when its messages pile up.
constexpr size_t MaxPendingMessages = 1024;
struct Client {
    mg_connection* connection = nullptr;  // set from the connect handler to the close handler
    std::thread writer;
    std::condition_variable wake;
    bool ready = false;    // the handshake is done
    bool fresh = false;    // the whole state is to be sent (first, or after a backlog)
    bool closing = false;  // the writer ends
    std::vector<std::string> messages;
    std::shared_ptr<const std::vector<uint8_t>> picture;  // the newest not yet written
};

// --- what the main loop hands to the encoder thread, and the pages' fields -------------------------
std::mutex outMutex;
Client clients[MaxWebClients];
std::condition_variable outSignal;
std::vector<std::string> outbox;
std::vector<std::string> state;
bool pictureWaiting = false;
uint16_t picture[PictureWidth * PictureHeight];
bool stopping = false;
bool anyClient = false;  // a page is ready
WebPreviewCount previewCount;
std::thread encoder;

std::mutex clipsMutex;
std::string clipsJson = "[]";
std::vector<std::string> thumbnailPaths;

// --- requests -----------------------------------------------------------------------------------

bool sameToken(const char* given) {
    // Compared over the whole length whatever differs, so that timing tells nothing.
    const size_t n = accessToken.size();
    if (strlen(given) != n) return false;
    unsigned diff = 0;
    for (size_t i = 0; i < n; i++) diff |= unsigned(uint8_t(given[i]) ^ uint8_t(accessToken[i]));
    return diff == 0;
}

bool carriesToken(const mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    char value[72];
    const char* query = info->query_string;
    if (query && mg_get_var(query, strlen(query), "token", value, sizeof value) > 0 && sameToken(value)) return true;
    const char* cookie = mg_get_header(conn, "Cookie");
    return cookie && mg_get_cookie(cookie, "token", value, sizeof value) > 0 && sameToken(value);
}

// Without a token only this machine's own names are taken as Host, so that a page of another
// site cannot reach the surface through a name it points at 127.0.0.1.
bool localHost(const char* host) {
    if (!host) return false;
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        const size_t n = strlen(name);
        if (strncmp(host, name, n) != 0) continue;
        if (host[n] == 0 && listeningPort == 80) return true;  // a browser leaves out port 80
        if (host[n] == ':' && strtol(host + n + 1, nullptr, 10) == listeningPort) return true;
    }
    return false;
}

// A WebSocket is only opened from the page itself: its Origin is the address the page came from.
bool sameOrigin(const mg_connection* conn) {
    const char* origin = mg_get_header(conn, "Origin");
    const char* host = mg_get_header(conn, "Host");
    if (!origin || !host || strncmp(origin, "http://", 7) != 0) return false;
    return strcmp(origin + 7, host) == 0;
}

int forbid(mg_connection* conn) {
    mg_printf(conn, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return 403;
}

bool pageSlotFree() {
    std::lock_guard<std::mutex> lock(outMutex);
    for (const Client& c : clients)
        if (!c.connection) return true;
    return false;
}

int beginRequest(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    if (accessToken.empty() ? !localHost(mg_get_header(conn, "Host")) : !carriesToken(conn)) return forbid(conn);
    if (!info->local_uri || strcmp(info->local_uri, "/ws") != 0) return 0;
    if (!sameOrigin(conn)) return forbid(conn);
    // A ninth page is told so (the connect handler still counts, for pages arriving together).
    if (!pageSlotFree()) {
        mg_printf(conn, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return 503;
    }
    return 0;
}

int logMessage(const mg_connection*, const char*) { return 1; }  // hostile input must not fill a log

void sendBytes(mg_connection* conn, const char* type, const void* bytes, size_t size) {
    // With a token, the page's own requests (its script, style, pictures) carry it as a cookie.
    const std::string cookie = accessToken.empty() ? "" : "Set-Cookie: token=" + accessToken + "; Path=/; SameSite=Strict; HttpOnly\r\n";
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\n%sConnection: close\r\n\r\n",
              type, size, cookie.c_str());
    mg_write(conn, bytes, size);
}

int notFound(mg_connection* conn) {
    mg_printf(conn, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return 404;
}

int serveThumbnail(mg_connection* conn, const char* number) {
    char* end = nullptr;
    const long n = strtol(number, &end, 10);
    if (end == number || *end || n < 0 || n >= MaxClips) return notFound(conn);
    std::string path;
    {
        std::lock_guard<std::mutex> lock(clipsMutex);
        if (size_t(n) < thumbnailPaths.size()) path = thumbnailPaths[size_t(n)];
    }
    FILE* f = path.empty() ? nullptr : fopen(path.c_str(), "rb");
    if (!f) return notFound(conn);
    std::vector<uint8_t> bytes(MaxThumbnailBytes);
    const size_t size = fread(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    if (size == 0 || size == bytes.size()) return notFound(conn);
    sendBytes(conn, "image/jpeg", bytes.data(), size);
    return 200;
}

// Every HTTP request: the page's own files by exact path, the clips and their thumbnails.
int handleRequest(mg_connection* conn, void*) {
    const mg_request_info* info = mg_get_request_info(conn);
    if (strcmp(info->request_method, "GET") != 0) {
        mg_printf(conn, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return 405;
    }
    const char* uri = info->local_uri ? info->local_uri : "";
    if (strcmp(uri, "/") == 0) uri = "/index.html";
    for (int i = 0; i < pageFileCount; i++)
        if (strcmp(uri, pageFiles[i].path) == 0) {
            sendBytes(conn, pageFiles[i].type, pageFiles[i].bytes, pageFiles[i].size);
            return 200;
        }
    if (strcmp(uri, "/clips.json") == 0) {
        std::string json;
        {
            std::lock_guard<std::mutex> lock(clipsMutex);
            json = clipsJson;
        }
        sendBytes(conn, "application/json", json.data(), json.size());
        return 200;
    }
    if (strncmp(uri, "/thumb/", 7) == 0) return serveThumbnail(conn, uri + 7);
    return notFound(conn);
}

// --- WebSocket ----------------------------------------------------------------------------------

void refreshAnyClient() {  // outMutex held
    anyClient = false;
    for (const Client& c : clients) anyClient |= c.ready;
}

void writeLoop(Client& c) {
    std::vector<std::string> messages;
    std::shared_ptr<const std::vector<uint8_t>> jpeg;
    bool working = true;  // until a write fails
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(outMutex);
            c.wake.wait(lock, [&] { return c.closing || c.fresh || !c.messages.empty() || c.picture; });
            if (c.closing) return;
            if (c.fresh) messages = state;
            else messages.swap(c.messages);
            c.messages.clear();
            c.fresh = false;
            jpeg = std::move(c.picture);
            c.picture = nullptr;
        }
        for (const std::string& m : messages)
            working = working && mg_websocket_write(c.connection, MG_WEBSOCKET_OPCODE_TEXT, m.data(), m.size()) > 0;
        if (jpeg && working) {
            working = mg_websocket_write(c.connection, MG_WEBSOCKET_OPCODE_BINARY, reinterpret_cast<const char*>(jpeg->data()), jpeg->size()) > 0;
            std::lock_guard<std::mutex> lock(outMutex);
            previewCount.pictures += working;
            previewCount.bytes += working ? jpeg->size() : 0;
        }
    }
}

int connectSocket(const mg_connection* conn, void*) {
    std::lock_guard<std::mutex> lock(outMutex);
    // civetweb reuses its connection records: a slot still naming this one (a handshake that
    // failed before the page was ready) is taken again rather than left reserved.
    Client* slot = nullptr;
    for (Client& c : clients)
        if (c.connection == conn && !c.writer.joinable()) slot = &c;
    for (Client& c : clients)
        if (!slot && !c.connection) slot = &c;
    if (!slot) return 1;  // a ninth page is refused
    slot->connection = const_cast<mg_connection*>(conn);
    slot->ready = slot->fresh = slot->closing = false;
    slot->messages.clear();
    slot->picture = nullptr;
    return 0;
}

void socketReady(mg_connection* conn, void*) {
    std::lock_guard<std::mutex> lock(outMutex);
    for (Client& c : clients)
        if (c.connection == conn && !c.writer.joinable()) {
            c.ready = c.fresh = true;
            c.writer = std::thread(writeLoop, std::ref(c));
        }
    refreshAnyClient();
}

int socketData(mg_connection*, int bits, char* data, size_t size, void*) {
    const int opcode = bits & 0x0f;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
    if (opcode == MG_WEBSOCKET_OPCODE_PING || opcode == MG_WEBSOCKET_OPCODE_PONG) return 1;
    // Only whole text frames of a bounded size: anything else ends the connection.
    if (opcode != MG_WEBSOCKET_OPCODE_TEXT || !(bits & 0x80) || size > MaxWebMessageBytes) return 0;
    WebMessage m;
    if (!parseWebMessage(data, size, m)) return 1;  // malformed: ignored, like a wrong OSC packet
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queueCount == WebQueueMessages) {
        queueDropped++;
        return 1;
    }
    queue[(queueFirst + queueCount) % WebQueueMessages] = m;
    queueCount++;
    return 1;
}

// The writer ends before civetweb frees the connection (a write under way ends at its timeout).
void endClient(Client& c) {
    std::thread writer;
    {
        std::lock_guard<std::mutex> lock(outMutex);
        c.closing = true;
        writer.swap(c.writer);
    }
    c.wake.notify_one();
    if (writer.joinable()) writer.join();
    std::lock_guard<std::mutex> lock(outMutex);
    c.connection = nullptr;
    c.ready = c.fresh = c.closing = false;
    c.messages.clear();
    c.picture = nullptr;
    refreshAnyClient();
}

void socketClosed(const mg_connection* conn, void*) {
    for (Client& c : clients) {
        bool mine;
        {
            std::lock_guard<std::mutex> lock(outMutex);
            mine = c.connection == conn;
        }
        if (mine) endClient(c);
    }
}

// --- the encoder thread: one JPEG per picture, handed to every page -----------------------------

void encodeLoop() {
    std::vector<std::string> messages;
    std::vector<uint16_t> pixels(PictureWidth * PictureHeight);
    for (;;) {
        bool withPicture = false;
        {
            std::unique_lock<std::mutex> lock(outMutex);
            outSignal.wait(lock, [] { return stopping || !outbox.empty() || pictureWaiting; });
            if (stopping) return;
            messages.swap(outbox);
            outbox.clear();
            if (pictureWaiting) {
                std::copy(picture, picture + PictureWidth * PictureHeight, pixels.begin());
                pictureWaiting = false;
                withPicture = true;
            }
        }
        auto jpeg = std::make_shared<std::vector<uint8_t>>();
        if (withPicture && !encodeJpeg(pixels.data(), PictureWidth, PictureHeight, PictureWidth, PreviewQuality, *jpeg))
            withPicture = false;
        std::lock_guard<std::mutex> lock(outMutex);
        for (Client& c : clients) {
            if (!c.ready) continue;
            if (!c.fresh) {
                c.messages.insert(c.messages.end(), messages.begin(), messages.end());
                // A page far behind gets the whole state rather than an ever longer backlog.
                if (c.messages.size() > MaxPendingMessages) c.fresh = true;
            }
            if (withPicture) c.picture = jpeg;
            c.wake.notify_one();
        }
    }
}

}  // namespace

bool startWebServer(const std::string& host, int port, const std::string& token, std::string& error) {
    stopWebServer();
    static const unsigned initialised = mg_init_library(0);
    (void)initialised;
    accessToken = token;
    const std::string ports = host + ":" + std::to_string(port);
    // Threads: one per open WebSocket plus a few for page requests. No document root: nothing is
    // served from the disk but the thumbnails named by the clips list.
    const char* options[] = {"listening_ports", ports.c_str(),
                             "num_threads", "12",
                             "max_request_size", "8192",
                             "request_timeout_ms", "10000",
                             "websocket_timeout_ms", "30000",
                             "enable_websocket_ping_pong", "yes",
                             "enable_keep_alive", "no",
                             // Small state messages go out at once, not held for the peer's
                             // delayed acknowledgement (which cost about 40 ms a touch).
                             "tcp_nodelay", "1",
                             "access_control_allow_origin", "",
                             nullptr};
    mg_callbacks callbacks = {};
    callbacks.begin_request = beginRequest;
    callbacks.log_message = logMessage;
    mg_init_data init = {};
    init.callbacks = &callbacks;
    init.configuration_options = options;
    mg_error_data failure = {};
    char text[256] = {};
    failure.text = text;
    failure.text_buffer_size = sizeof text;
    context = mg_start2(&init, &failure);
    if (!context) {
        error = text[0] ? text : "cannot listen";
        return false;
    }
    mg_server_port ports_[2] = {};
    const int n = mg_get_server_ports(context, 2, ports_);
    listeningPort = n > 0 ? ports_[0].port : port;
    // Until the handlers are set, requests find nothing to serve (civetweb answers 404).
    mg_set_request_handler(context, "/", handleRequest, nullptr);
    mg_set_websocket_handler(context, "/ws", connectSocket, socketReady, socketData, socketClosed, nullptr);
    {
        std::lock_guard<std::mutex> lock(outMutex);
        stopping = false;
        outbox.clear();
        pictureWaiting = anyClient = false;
        previewCount = WebPreviewCount();
    }
    encoder = std::thread(encodeLoop);
    return true;
}

void stopWebServer() {
    if (!context) return;
    {
        std::lock_guard<std::mutex> lock(outMutex);
        stopping = true;
    }
    outSignal.notify_one();
    if (encoder.joinable()) encoder.join();
    mg_stop(context);  // ends every connection through its close handler
    context = nullptr;
    listeningPort = 0;
    for (Client& c : clients) endClient(c);
    std::lock_guard<std::mutex> lock(queueMutex);
    queueFirst = queueCount = 0;
    queueDropped = 0;
}

bool webServerRunning() { return context != nullptr; }
int webServerPort() { return listeningPort; }

int takeWebMessages(WebMessage* out, int max, uint32_t& dropped) {
    std::lock_guard<std::mutex> lock(queueMutex);
    int n = 0;
    while (n < max && queueCount > 0) {
        out[n++] = queue[queueFirst];
        queueFirst = (queueFirst + 1) % WebQueueMessages;
        queueCount--;
    }
    dropped = queueDropped;
    queueDropped = 0;
    return n;
}

void publishWebMessages(const std::vector<std::string>& messages) {
    if (messages.empty() || !context) return;
    {
        std::lock_guard<std::mutex> lock(outMutex);
        if (!anyClient) return;
        outbox.insert(outbox.end(), messages.begin(), messages.end());
    }
    outSignal.notify_one();
}

void setWebState(const std::vector<std::string>& messages) {
    std::lock_guard<std::mutex> lock(outMutex);
    state = messages;
}

void setWebClips(const std::string& json, const std::vector<std::string>& thumbnails) {
    std::lock_guard<std::mutex> lock(clipsMutex);
    clipsJson = json;
    thumbnailPaths = thumbnails;
}

bool webClientsConnected() {
    std::lock_guard<std::mutex> lock(outMutex);
    return context && anyClient;
}

void postWebPicture(const uint16_t* pixels, int stride) {
    {
        std::lock_guard<std::mutex> lock(outMutex);
        for (int y = 0; y < PictureHeight; y++)
            std::copy(pixels + size_t(y) * stride, pixels + size_t(y) * stride + PictureWidth, picture + y * PictureWidth);
        pictureWaiting = true;
    }
    outSignal.notify_one();
}

WebPreviewCount webPreviewCount() {
    std::lock_guard<std::mutex> lock(outMutex);
    return previewCount;
}
