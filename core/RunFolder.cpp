#include "core/RunFolder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool isFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p; true when the folder exists afterwards.
bool makeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); at++) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return isFolder(path);
}

// Copies a file under a temporary name and renames it into place, so that a copy cut short never
// leaves a half settings file behind. Never replaces an existing file.
bool copyFile(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const std::string temporary = to + ".part";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    // link() refuses to replace: a settings file that appeared meanwhile stays.
    ok = ok && (link(temporary.c_str(), to.c_str()) == 0 || errno == EEXIST);
    unlink(temporary.c_str());
    return ok;
}

// A file of the folder that is missing, or a link of ours whose target is gone.
bool missingOrDangling(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return true;
    return S_ISLNK(info.st_mode) && stat(path.c_str(), &info) != 0;
}

bool linkFile(const std::string& target, const std::string& path) {
    if (!missingOrDangling(path)) return true;
    unlink(path.c_str());
    return symlink(target.c_str(), path.c_str()) == 0;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The program's own files in data/: linked, so that an upgrade brings its new pictures.
const char* const programFiles[] = {"textureUI.png", "home.png", "logo-tarnobelli.png", "abxy.png", "volter",
                                    "volter-LICENCE"};

bool isProgramFile(const std::string& name) {
    for (const char* p : programFiles)
        if (name == p) return true;
    return false;
}

}  // namespace

std::string installedDefaultSet() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    exe[n] = 0;
    std::string folder(exe);
    folder.resize(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/'));
    const std::string set = folder + "/../share/loopmixer";
    char resolved[PATH_MAX];
    if (!realpath(set.c_str(), resolved) || !isFolder(std::string(resolved) + "/data")) return "";
    return resolved;
}

std::string userRunFolder() {
    const char* xdg = getenv("XDG_DATA_HOME");
    // The XDG rule: a relative path is invalid and is ignored.
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/loopmixer";
    const char* home = getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.local/share/loopmixer";
    return "";
}

std::string chooseRunFolder(const std::string& given, const std::string& current, const std::string& defaultSet,
                            const std::string& userFolder) {
    if (!given.empty()) return given;
    if (isFolder(current + "/data") || defaultSet.empty() || userFolder.empty()) return current;
    return userFolder;
}

bool prepareRunFolder(const std::string& dir, const std::string& defaultSet, std::string& error) {
    if (defaultSet.empty() || dir == defaultSet) return true;
    const std::string data = dir + "/data", videos = dir + "/videos";
    const bool fresh = !isFolder(data);
    if (!makeFolders(data) || !makeFolders(videos)) {
        error = std::string("cannot make the run folder ") + dir + ": " + strerror(errno);
        return false;
    }
    for (const std::string& name : filesIn(defaultSet + "/data")) {
        const std::string from = defaultSet + "/data/" + name, to = data + "/" + name;
        if (isProgramFile(name)) {
            if (!linkFile(from, to)) {
                error = "cannot link " + to + ": " + strerror(errno);
                return false;
            }
        } else if (fresh && !copyFile(from, to)) {
            error = "cannot copy " + from + " into " + data + ": " + strerror(errno);
            return false;
        }
    }
    if (fresh)
        for (const std::string& name : filesIn(defaultSet + "/videos"))
            linkFile(defaultSet + "/videos/" + name, videos + "/" + name);
    return true;
}

std::string runFolderFor(const std::string& given, std::string& error) {
    char* here = getcwd(nullptr, 0);
    const std::string current = here ? here : ".";
    free(here);
    const std::string defaultSet = installedDefaultSet(), user = userRunFolder();
    const std::string dir = chooseRunFolder(given, current, defaultSet, user);
    if ((dir == user || !isFolder(dir + "/data")) && !prepareRunFolder(dir, defaultSet, error)) return "";
    return dir;
}
