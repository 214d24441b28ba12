#include "remote/OscPort.h"

#include <lo/lo.h>

#include <arpa/inet.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Notice.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

int socketFd = -1;
int boundPort = 0;

lo_address targets[MaxOscFeedbackTargets];
sockaddr_storage targetAddresses[MaxOscFeedbackTargets];  // as resolved when added
int targetCount = 0;
bool newTarget = false;

// The sender of the datagram being handled (length 0 when the packet came another way), and the
// senders that asked for a refresh this frame without being feedback targets.
sockaddr_storage sender;
socklen_t senderLength = 0;
constexpr int MaxRefreshAskers = 4;
lo_address askers[MaxRefreshAskers];
sockaddr_storage askerAddresses[MaxRefreshAskers];
int askerCount = 0;
bool refreshAsked = false;

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        const sockaddr_in &x = reinterpret_cast<const sockaddr_in&>(a), &y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const sockaddr_in6 &x = reinterpret_cast<const sockaddr_in6&>(a), &y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_port == y.sin6_port && memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

void sendToTargets(const char* address, char type, const OscArg& value) {
    lo_message m = lo_message_new();
    if (!m) return;
    if (type == 'i') lo_message_add_int32(m, value.i);
    else if (type == 'f') lo_message_add_float(m, value.f);
    else lo_message_add_string(m, value.s);
    for (int i = 0; i < targetCount; i++) lo_send_message(targets[i], address, m);
    for (int i = 0; i < askerCount; i++) lo_send_message(askers[i], address, m);
    lo_message_free(m);
}

}  // namespace

bool openOscPort(const std::string& host, int port) {
    closeOscPort();
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        std::cout << "osc: cannot use address " << host << std::endl;
        postNotice("OSC: cannot use that address");
        return false;
    }
    int fd = socket(found->ai_family, SOCK_DGRAM, 0);
    if (fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        std::cout << "osc: cannot listen on " << host << " port " << port << std::endl;
        char text[64];
        snprintf(text, sizeof text, "OSC: port %d is not free", port);
        postNotice(text);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_storage local = {};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    boundPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    socketFd = fd;
    std::cout << "osc: listening on " << host << " port " << boundPort << std::endl;
    return true;
}

void closeOscPort() {
    if (socketFd >= 0) close(socketFd);
    socketFd = -1;
    boundPort = 0;
}

bool oscPortOpen() { return socketFd >= 0; }
int oscPortNumber() { return boundPort; }

bool addOscFeedbackTarget(const std::string& hostPort) {
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || targetCount == MaxOscFeedbackTargets) {
        std::cout << "osc: feedback target not used: " << hostPort << std::endl;
        return false;
    }
    const std::string host = hostPort.substr(0, colon), port = hostPort.substr(colon + 1);
    char* end = nullptr;
    const long p = strtol(port.c_str(), &end, 10);
    if (port.empty() || *end || p < 1 || p > 65535) {
        std::cout << "osc: feedback target not used: " << hostPort << std::endl;
        return false;
    }
    lo_address a = lo_address_new(host.c_str(), port.c_str());
    if (!a) {
        std::cout << "osc: feedback target not used: " << hostPort << std::endl;
        return false;
    }
    // Resolved once here as well, to tell a target that asks for a refresh from another sender.
    sockaddr_storage resolved = {};
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) == 0 && found) {
        memcpy(&resolved, found->ai_addr, std::min(sizeof resolved, size_t(found->ai_addrlen)));
        freeaddrinfo(found);
    }
    targetAddresses[targetCount] = resolved;
    targets[targetCount++] = a;
    newTarget = true;
    return true;
}

void clearOscFeedbackTargets() {
    for (int i = 0; i < targetCount; i++) lo_address_free(targets[i]);
    targetCount = 0;
}

void pollOscPort() {
    if (socketFd < 0) return;
    static uint8_t packet[MaxOscPacketBytes];
    for (int i = 0; i < MaxOscPacketsPerFrame; i++) {
        senderLength = sizeof sender;
        const ssize_t n = recvfrom(socketFd, packet, sizeof packet, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) break;
        // A datagram larger than the buffer was cut short: it cannot be a whole message.
        if (n > ssize_t(sizeof packet)) continue;
        handleOscPacket(packet, size_t(n));
    }
    senderLength = 0;
}

void requestOscRefresh() {
    refreshAsked = true;
    if (senderLength == 0 || askerCount == MaxRefreshAskers) return;
    for (int i = 0; i < targetCount; i++)
        if (sameAddress(sender, targetAddresses[i])) return;
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sender), senderLength, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return;
    for (int i = 0; i < askerCount; i++)
        if (sameAddress(sender, askerAddresses[i])) return;
    if (lo_address a = lo_address_new(host, port)) {
        askerAddresses[askerCount] = sender;
        askers[askerCount++] = a;
    }
}

void sendOscFeedbackNow() {
    if (targetCount > 0 || askerCount > 0) pollOscFeedback(newTarget || refreshAsked, sendToTargets);
    newTarget = refreshAsked = false;
    for (int i = 0; i < askerCount; i++) lo_address_free(askers[i]);
    askerCount = 0;
}

void sendOscMessage(const char* address, const char* types, const OscArg* args) {
    if (targetCount == 0) return;
    lo_message m = lo_message_new();
    if (!m) return;
    for (int k = 0; types[k] && k < MaxOscArgs; k++) {
        if (types[k] == 'i') lo_message_add_int32(m, args[k].i);
        else lo_message_add_float(m, args[k].f);
    }
    for (int i = 0; i < targetCount; i++) lo_send_message(targets[i], address, m);
    lo_message_free(m);
}
