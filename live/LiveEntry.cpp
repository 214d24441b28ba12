#include "live/LiveEntry.h"

#include <cstring>

#include "tracks/FrameSource.h"

namespace {

// The network protocols a "live:URL" may name (live/LiveSource.cpp lets FFmpeg open what they run
// over: rtp beneath rtsp, tls beneath https).
const char* const AllowedSchemes[] = {"udp", "srt", "rtsp", "rtmp", "http", "https", "tcp"};
// The input formats a "live:FORMAT:INPUT" may name: cameras and capture cards, an X screen, and
// FFmpeg's generated sources (read as fast as asked, so paced to their timestamps).
struct AllowedFormat {
    const char* name;
    bool paced;
};
const AllowedFormat AllowedFormats[] = {{"v4l2", false}, {"video4linux2", false}, {"x11grab", false}, {"lavfi", true}};
constexpr size_t MaxEntryChars = 1000;

}  // namespace

bool parseLiveEntry(const std::string& entry, LiveAddress& parts, std::string* why) {
    auto refuse = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    parts = LiveAddress();
    if (!isLiveEntry(entry)) return refuse("not a live source");
    const std::string rest = entry.substr(std::strlen(LivePrefix));
    if (rest.empty()) return refuse("no source given");
    if (rest.size() > MaxEntryChars) return refuse("source too long");
    for (char c : rest)
        if (static_cast<unsigned char>(c) < 0x20) return refuse("control character in the source");
    const size_t scheme = rest.find("://");
    const size_t colon = rest.find(':');
    if (rest[0] == '/' || rest[0] == '.' || colon == std::string::npos) {
        parts.input = rest;
        parts.paced = true;
        return true;
    }
    if (scheme != std::string::npos && scheme == colon) {
        const std::string name = rest.substr(0, scheme);
        for (const char* allowed : AllowedSchemes)
            if (name == allowed) {
                parts.input = rest;
                parts.network = true;
                return true;
            }
        return refuse("protocol " + name + " is not allowed");
    }
    const std::string format = rest.substr(0, colon);
    for (const AllowedFormat& f : AllowedFormats)
        if (format == f.name) {
            parts.format = format;
            parts.input = rest.substr(colon + 1);
            parts.paced = f.paced;
            if (parts.input.empty()) return refuse("no input given to " + format);
            return true;
        }
    return refuse("input format " + format + " is not allowed");
}
