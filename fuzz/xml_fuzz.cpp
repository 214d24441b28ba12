// libFuzzer over the playlists file reader: any bytes as data/playlists.xml must load without a
// crash and within the fixed limits (50 playlists, 51 entries each, the record after the last one
// empty).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "library/Mix.h"

namespace {

// The reader opens ./data/playlists.xml, so every run happens in one private scratch folder.
bool enterScratchFolder() {
    static bool ready = false;
    if (ready) return true;
    char pattern[] = "/tmp/loopmixer-xml-fuzz-XXXXXX";
    if (!mkdtemp(pattern) || chdir(pattern) != 0 || mkdir("data", 0777) != 0) return false;
    ready = true;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!enterScratchFolder()) abort();
    FILE* file = fopen("data/playlists.xml", "wb");
    if (!file) abort();
    if (size > 0) fwrite(data, 1, size, file);
    fclose(file);

    // One mix for all runs, as in the program: what a previous input left must not matter.
    static Mix* fuzzMix = new Mix();
    static std::ostringstream quiet;
    std::streambuf* log = std::cout.rdbuf(quiet.rdbuf());
    fuzzMix->loadXML();
    std::cout.rdbuf(log);
    quiet.str("");

    if (fuzzMix->playlistCount < 0 || fuzzMix->playlistCount > MaxPlaylists) abort();
    for (int p = 0; p < fuzzMix->playlistCount; p++) {
        const Playlist& playlist = fuzzMix->playlists[p];
        if (playlist.trackCount < 0 || playlist.trackCount > MaxPlaylistTracks) abort();
        if (playlist.name.size() > 99) abort();
        for (int t = 0; t < playlist.trackCount; t++)
            if (playlist.tracks[t].file.size() > 99) abort();
    }
    if (fuzzMix->playlistCount < MaxPlaylists && fuzzMix->playlists[fuzzMix->playlistCount].trackCount != 0)
        abort();
    if (fuzzMix->xmlFile != nullptr) abort();
    return 0;
}
