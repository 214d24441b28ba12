// libFuzzer over the playlists file reader: any bytes as data/playlists.xml must load without a
// crash and within the fixed limits (50 playlists, 51 entries each, the record after the last one
// empty), and a saved file must read back and save as the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "library/Mix.h"
#include "library/StoredNames.h"

namespace {

// The reader opens ./data/playlists.xml, so each run steps into one private scratch folder and
// back out again: libFuzzer reads and writes its corpus by relative paths.
std::string scratchFolder() {
    static std::string folder;
    if (folder.empty()) {
        char pattern[] = "/tmp/loopmixer-xml-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) abort();
        folder = pattern;
        if (mkdir((folder + "/data").c_str(), 0777) != 0) abort();
    }
    return folder;
}

std::string currentFolder() {
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) abort();
    std::string result = cwd;
    free(cwd);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = scratchFolder();
    FILE* file = fopen((folder + "/data/playlists.xml").c_str(), "wb");
    if (!file) abort();
    if (size > 0) fwrite(data, 1, size, file);
    fclose(file);

    // One mix for all runs, as in the program: what a previous input left must not matter.
    static Mix* fuzzMix = new Mix();
    static std::ostringstream quiet;
    const std::string home = currentFolder();
    if (chdir(folder.c_str()) != 0) abort();
    std::streambuf* log = std::cout.rdbuf(quiet.rdbuf());
    fuzzMix->loadXML();
    std::cout.rdbuf(log);
    if (chdir(home.c_str()) != 0) abort();
    quiet.str("");

    if (fuzzMix->playlistCount < 0 || fuzzMix->playlistCount > MaxPlaylists) abort();
    for (int p = 0; p < fuzzMix->playlistCount; p++) {
        const Playlist& playlist = fuzzMix->playlists[p];
        if (playlist.trackCount < 0 || playlist.trackCount > MaxPlaylistTracks) abort();
        if (playlist.name.size() > LongestStoredText) abort();
        for (int t = 0; t < playlist.trackCount; t++)
            if (playlist.tracks[t].file.size() > LongestStoredText) abort();
    }
    if (fuzzMix->playlistCount < MaxPlaylists && fuzzMix->playlists[fuzzMix->playlistCount].trackCount != 0)
        abort();
    if (fuzzMix->xmlFile != nullptr) abort();

    // A save writes back what it read: once saved, the file reads back and saves as the same bytes
    // (the first save may only tidy what the scanner read past).
    std::string saved[3] = {fuzzMix->playlistsText()};
    for (int pass = 1; pass < 3; pass++) {
        file = fopen((folder + "/data/playlists.xml").c_str(), "wb");
        if (!file) abort();
        fwrite(saved[pass - 1].data(), 1, saved[pass - 1].size(), file);
        fclose(file);
        if (chdir(folder.c_str()) != 0) abort();
        log = std::cout.rdbuf(quiet.rdbuf());
        fuzzMix->loadXML();
        std::cout.rdbuf(log);
        if (chdir(home.c_str()) != 0) abort();
        quiet.str("");
        saved[pass] = fuzzMix->playlistsText();
    }
    if (saved[2] != saved[1]) abort();
    return 0;
}
