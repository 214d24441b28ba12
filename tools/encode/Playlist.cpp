#include "tools/encode/Playlist.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "library/SafeSave.h"

namespace encode {

namespace {

// The text between open and close starting the search at pos, or false when open comes after
// limit or is missing.
bool element(const std::string& text, size_t& pos, size_t limit, const std::string& tag, std::string& out) {
    std::string open = "<" + tag + ">", close = "</" + tag + ">";
    size_t a = text.find(open, pos);
    if (a == std::string::npos || a >= limit) return false;
    a += open.size();
    size_t b = text.find(close, a);
    if (b == std::string::npos || b > limit) return false;
    out = text.substr(a, b - a);
    pos = b + close.size();
    return true;
}

}  // namespace

bool parsePlaylists(const std::string& text, std::vector<PlaylistEntry>& out) {
    out.clear();
    size_t root = text.find("<all>");
    if (root == std::string::npos) return false;
    size_t end = text.find("</all>", root);
    if (end == std::string::npos) return false;
    size_t pos = root;
    while (true) {
        size_t start = text.find("<playlist>", pos);
        if (start == std::string::npos || start > end) break;
        size_t stop = text.find("</playlist>", start);
        if (stop == std::string::npos || stop > end) break;
        PlaylistEntry p;
        size_t at = start;
        element(text, at, stop, "name", p.name);
        std::string track;
        while (element(text, at, stop, "track", track)) p.tracks.push_back(track);
        out.push_back(p);
        pos = stop + 11;
    }
    return true;
}

std::string playlistsText(const std::vector<PlaylistEntry>& playlists) {
    std::string s = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    for (const PlaylistEntry& p : playlists) {
        s += "\t<playlist>\n\t\t<name>" + p.name + "</name>\n";
        for (const std::string& t : p.tracks) s += "\t\t<track>" + t + "</track>\n";
        s += "\t</playlist>\n";
    }
    return s + "</all>\n";
}

bool addToPlaylist(const std::string& file, const std::string& name,
                   const std::vector<std::string>& clips, std::string& error) {
    std::vector<PlaylistEntry> playlists;
    std::ifstream in(file, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        if (!parsePlaylists(text.str(), playlists)) {
            error = file + " is not a playlists file; it was left as it is";
            return false;
        }
    } else {
        size_t slash = file.rfind('/');
        if (slash != std::string::npos) mkdir(file.substr(0, slash).c_str(), 0777);
    }
    auto it = std::find_if(playlists.begin(), playlists.end(),
                           [&](const PlaylistEntry& p) { return p.name == name; });
    if (it == playlists.end()) {
        if (int(playlists.size()) >= MaxPlaylists) {
            error = "playlist \"" + name + "\" not added: " + file + " already holds " +
                    std::to_string(MaxPlaylists) + " playlists";
            return false;
        }
        playlists.push_back(PlaylistEntry{name, {}});
        it = playlists.end() - 1;
    }
    int left = 0;
    for (const std::string& c : clips) {
        if (std::find(it->tracks.begin(), it->tracks.end(), c) != it->tracks.end()) continue;
        if (int(it->tracks.size()) >= MaxPlaylistTracks) {
            left++;
            continue;
        }
        it->tracks.push_back(c);
    }
    if (!saveFileSafely(file, playlistsText(playlists))) {
        error = "cannot save " + file;
        return false;
    }
    if (left > 0) {
        error = std::to_string(left) + " clip(s) not added: playlist \"" + name + "\" is full (" +
                std::to_string(MaxPlaylistTracks) + " clips)";
        return false;
    }
    return true;
}

}  // namespace encode
