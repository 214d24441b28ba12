// The editor's file browser over the clip folder: one folder's subfolders and clip files as rows.
//
// The browser never changes the process's current directory. Every relative path of the program
// (the log, the pictures, the settings and playlists files) is relative to the start folder, so a
// browser that moved the current directory would send them into the clip folders. It keeps the
// folder it shows as an absolute path instead, and resolves names against that path lexically:
// a folder reached through a link stays under "videos" by name, so its files are stored under a
// name that loads.
#include "library/Mix.h"

#include "core/AppState.h"
#include "core/Notice.h"
#include "tracks/FrameSource.h"

#include <glob.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct BrowserEntry {
    bool folder;
    std::string name;
};

// Folders first; names without regard to case, then byte for byte so that the order is total.
bool listedBefore(const BrowserEntry& a, const BrowserEntry& b) {
    if (a.folder != b.folder) return a.folder;
    const int c = strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
}

// Where the live part is built, the top folder ends with "live:" rows: each camera or capture
// device present and the X screen the program runs on (none under SDL's dummy driver).
std::vector<std::string> liveRows() {
    std::vector<std::string> rows;
    if (!frameSourceHooks.accepts) return rows;
    glob_t found{};
    if (glob("/dev/video[0-9]*", 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc && i < 16; i++) rows.push_back(std::string("live:v4l2:") + found.gl_pathv[i]);
    globfree(&found);
    const char* display = getenv("DISPLAY");
    const char* driver = getenv("SDL_VIDEODRIVER");
    const bool onScreen = !driver || std::strcmp(driver, "dummy") != 0;
    if (onScreen && display && *display && std::strlen(display) < 64) rows.push_back(std::string("live:x11grab:") + display);
    rows.push_back(LivePrefix);  // a source typed on the keyboard
    return rows;
}

}  // namespace

// An absolute path with "//", "." and ".." resolved by name; ".." at the root stays at the root.
std::string normalisePath(const std::string& path) {
    std::string parts[256];
    int count = 0;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (count > 0) count--;
        } else if (!part.empty() && part != ".") {
            // Deeper paths than the table holds cannot come from a touch on a row; they keep the
            // first 256 levels.
            if (count < 256) parts[count++] = part;
        }
        start = end + 1;
    }
    std::string result;
    for (int i = 0; i < count; i++) result += "/" + parts[i];
    return result.empty() ? "/" : result;
}

std::string videosRoot(const Mix& m) {
    std::string base = m.startDir.empty() ? currentDirectory() : m.startDir;
    return normalisePath(base + "/videos");
}

bool browserPrefix(const Mix& m, std::string& prefix) {
    std::string root = videosRoot(m);
    if (m.browserPath == root) {
        prefix.clear();
        return true;
    }
    std::string parent = root + "/";
    if (m.browserPath.size() > parent.size() && m.browserPath.compare(0, parent.size(), parent) == 0) {
        prefix = m.browserPath.substr(parent.size()) + "/";
        return true;
    }
    return false;
}

bool Mix::isClipName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    return tail == ".q17" || tail == ".q18";
}

void Mix::readDir(const std::string& path) {
    puts("read dir");
    std::cout << ">" << path << "<" << std::endl;

    // A relative name is a row of the folder shown, so it resolves against that folder.
    std::string base = browserPath.empty() ? (startDir.empty() ? currentDirectory() : startDir)
                                           : browserPath;
    std::string target = normalisePath(!path.empty() && path[0] == '/' ? path : base + "/" + path);

    // A folder that cannot be entered leaves the browser where it was, as a failed change of
    // directory would.
    struct stat info;
    if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && access(target.c_str(), X_OK) == 0) {
        browserPath = target;
    } else {
        browserPath = normalisePath(base);
    }

    browserDir = opendir(browserPath.c_str());
    for (int i = 0; i < BrowserRows; i++) browserIsDir[i] = 1;

    int n = 0;
    if (browserPath != videosRoot(*this)) {
        browserNames[0] = "..";
        browserIsDir[0] = 1;
        n = 1;
    }

    // The top folder ends with the live rows, after its own entries.
    std::vector<std::string> live;
    if (browserPath == videosRoot(*this)) live = liveRows();
    if (!browserDir) {
        std::cout << "Couldn't open the directory" << std::endl;
        for (const std::string& row : live) {
            browserNames[n] = row;
            browserIsDir[n++] = 0;
        }
        browserCount = n;
        return;
    }

    // Every entry is read, then sorted: folders first, then by name, so that what a performer looks
    // for is where they expect it and no listing order can hide a clip past the last row.
    std::vector<BrowserEntry> entries;
    while (struct dirent* entry = readdir(browserDir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name.compare(0, 2, "._") == 0 || name == ".thumbs") continue;

        unsigned char type = entry->d_type;
        const std::string full = browserPath + "/" + name;
        if (type == DT_UNKNOWN) {
            // Some file systems do not report the type in the listing; ask without following links,
            // so that a link still counts as a folder row.
            struct stat entryInfo;
            if (lstat(full.c_str(), &entryInfo) == 0) {
                if (S_ISREG(entryInfo.st_mode)) type = DT_REG;
                if (S_ISDIR(entryInfo.st_mode)) type = DT_DIR;
                if (S_ISLNK(entryInfo.st_mode)) type = DT_LNK;
            }
        }
        // A link whose target is gone leads nowhere and holds no clip: it is not listed, nor is
        // anything that is neither a folder, a link nor a file (a pipe, a socket, a device).
        struct stat target;
        if (type == DT_LNK && stat(full.c_str(), &target) != 0) continue;
        if (type != DT_REG && type != DT_DIR && type != DT_LNK) continue;
        if (type == DT_REG && !isClipName(name)) continue;
        entries.push_back({type != DT_REG, name});
    }
    std::sort(entries.begin(), entries.end(), listedBefore);

    const int shown = std::min(int(entries.size()), BrowserRows - n - int(live.size()));
    for (int i = 0; i < shown; i++) {
        browserNames[n] = entries[i].name;
        browserIsDir[n] = entries[i].folder ? 1 : 0;
        n++;
    }
    if (shown < int(entries.size())) {
        char text[NoticeChars];
        snprintf(text, sizeof text, "%d entries of this folder are not shown", int(entries.size()) - shown);
        std::cout << text << std::endl;
        postNotice(text);
    }
    for (const std::string& row : live) {
        browserNames[n] = row;
        browserIsDir[n++] = 0;
    }
    for (int i = n; i < BrowserRows; i++) browserNames[i] = "error";
    closedir(browserDir);
    browserDir = nullptr;
    browserCount = n;
}
