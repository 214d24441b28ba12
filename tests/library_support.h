// Helpers of the library tests: a scratch folder that is the current directory while a test runs,
// the log lines captured from std::cout, and small file helpers.
#pragma once
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "library/Mix.h"

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/loopmixer-library-XXXXXX";
        char* made = mkdtemp(pattern);
        path = made ? made : "";
        char* cwd = getcwd(nullptr, 0);
        previous = cwd ? cwd : "/";
        free(cwd);
        if (!path.empty() && chdir(path.c_str()) != 0) path.clear();
    }
    ~ScratchDir() {
        if (chdir(previous.c_str()) != 0) return;
        if (!path.empty()) std::system(("chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'").c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path;
    std::string previous;
};

// Captures the log channel (std::cout) for as long as it lives.
class LogCapture {
public:
    LogCapture() : saved(std::cout.rdbuf(captured.rdbuf())) {}
    ~LogCapture() { std::cout.rdbuf(saved); }
    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* saved;
};

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

// The mix as start-up leaves it before the playlists file is read.
inline void freshMix() {
    mix.init();
    mix.playlistCount = 0;
    for (Playlist& p : mix.playlists) {
        p.trackCount = 0;
        p.name.clear();
    }
}

inline void setPlaylist(int index, const std::string& name, std::initializer_list<std::string> files) {
    Playlist& p = mix.playlists[index];
    p.name = name;
    p.trackCount = 0;
    for (const std::string& f : files) p.tracks[p.trackCount++].file = f;
}

// While it lives, files cannot grow past `bytes`: a write beyond fails with EFBIG, as on a full disk,
// for root as for anyone. The log stream may fail on the way and is cleared afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ok = getrlimit(RLIMIT_FSIZE, &saved) == 0;
        struct rlimit tiny = saved;
        tiny.rlim_cur = bytes;
        previous = signal(SIGXFSZ, SIG_IGN);
        ok = ok && setrlimit(RLIMIT_FSIZE, &tiny) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous);
        std::cout.clear();
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok = false;

private:
    struct rlimit saved = {};
    void (*previous)(int) = nullptr;
};
