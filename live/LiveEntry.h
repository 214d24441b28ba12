// The "live:" playlist entries: what they name, and which of them may be opened at all. The
// entries come from the playlists file and the command line, so they are checked like any input.
#pragma once
#include <string>

// What a "live:" entry names: an input format (device or generator) and its input, or a URL or
// path opened by whichever demuxer fits.
struct LiveAddress {
    std::string format;  // "v4l2", "x11grab", "lavfi", ...; empty for a URL or a path
    std::string input;
    bool network = false;  // a URL: the protocol allow-list and network timeouts apply
    bool paced = false;    // read as fast as asked (generators, files): paced to its timestamps
};

// Splits an entry ("live:URL", "live:PATH" or "live:FORMAT:INPUT"). False with why set when it is
// malformed or names a protocol or format that is not allowed.
bool parseLiveEntry(const std::string& entry, LiveAddress& parts, std::string* why);
