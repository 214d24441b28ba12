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

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

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

    if (!browserDir) {
        std::cout << "Couldn't open the directory" << std::endl;
        browserCount = n;
        return;
    }

    while (n < BrowserRows) {
        struct dirent* entry = readdir(browserDir);
        if (!entry) break;
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name.compare(0, 2, "._") == 0) continue;

        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems do not report the type in the listing; ask without following links,
            // so that a link still counts as a folder row.
            struct stat entryInfo;
            std::string full = browserPath + "/" + name;
            if (lstat(full.c_str(), &entryInfo) == 0 && S_ISREG(entryInfo.st_mode)) type = DT_REG;
        }
        if (type == DT_REG) {
            if (!isClipName(name)) continue;
            browserNames[n] = name;
            browserIsDir[n] = 0;
        } else {
            browserNames[n] = name;
            browserIsDir[n] = 1;
        }
        n++;
    }
    for (int i = n; i < BrowserRows; i++) browserNames[i] = "error";
    closedir(browserDir);
    browserDir = nullptr;
    browserCount = n;
}
