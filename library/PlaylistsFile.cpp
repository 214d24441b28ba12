#include <algorithm>
#include <iostream>
#include <sys/stat.h>

#include "core/Notice.h"
#include "core/Utf8.h"
#include "library/Mix.h"
#include "library/SafeSave.h"
#include "library/StoredNames.h"
#include "library/XmlReader.h"

namespace {

const std::string EndOfDocument = "</all>";
const std::string EndOfPlaylist = "</playlist>";

// The scanner never stops at the end of the stream (it reads 0xFF bytes there), so the reader asks
// the stream itself: once the end was hit nothing real can follow, and a playlist cut short by it
// would only be filled with those 0xFF bytes.
bool exhausted(FILE* stream) { return feof(stream) || ferror(stream); }

}  // namespace

FileStamp fileStampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = 1;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.seconds = info.st_mtim.tv_sec;
    stamp.nanoseconds = info.st_mtim.tv_nsec;
    return stamp;
}

namespace {

// Both declarations are 44 bytes with their line end, the length the reader discards. Names are
// written as their bytes: they are declared UTF-8 when every one of them is UTF-8 text (the
// padding before "?>" is allowed by XML), else iso-8859-1, under which any byte is a character.
const char* const Latin1Declaration = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";
const char* const Utf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"     ?>\n";

const char* declarationFor(const Mix& m, int count) {
    bool ascii = true;
    for (int p = 0; p <= count; p++) {
        std::string names;
        if (p == count) {
            names = m.hiddenPlaylists;
        } else {
            const Playlist& playlist = m.playlists[p];
            const int tracksUsed = std::min(std::max(playlist.trackCount, 0), MaxPlaylistTracks);
            names = playlist.name;
            for (int t = 0; t < tracksUsed; t++) names += playlist.tracks[t].file;
            for (const std::string& hidden : playlist.hiddenTracks) names += hidden;
        }
        if (!isUtf8(names)) return Latin1Declaration;
        ascii = ascii && isAscii(names);
    }
    // Plain ASCII reads the same under both; the older declaration keeps such files as they were.
    return ascii ? Latin1Declaration : Utf8Declaration;
}

// A playlist in the file with more entries than a playlist holds shows the first ones; the rest
// are kept in the file. The performer hears of it when the file is read.
void reportCutPlaylists(int cut, const std::string& firstName, int firstCount) {
    if (cut == 0) return;
    char text[NoticeChars];
    if (cut == 1) {
        snprintf(text, sizeof text, "only %d of %d tracks shown in %s", MaxPlaylistTracks, firstCount,
                 firstName.c_str());
    } else {
        snprintf(text, sizeof text, "only %d tracks shown in %d playlists, first %s", MaxPlaylistTracks, cut,
                 firstName.c_str());
    }
    postNotice(text);
}

bool blank(char c) { return c == '\n' || c == '\t' || c == ' ' || c == '\r'; }

// The rest of the file from `start` (just after the last playlist read) up to the end of the
// document, kept as it is but for the blanks around it, with the number of playlists it holds.
void keepRest(FILE* stream, long start, std::string& rest, int32_t& count) {
    rest.clear();
    count = 0;
    if (start < 0 || fseek(stream, start, SEEK_SET) != 0) return;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, stream)) > 0) rest.append(chunk, n);
    const size_t end = rest.find(EndOfDocument);
    if (end != std::string::npos) rest.erase(end);
    while (!rest.empty() && blank(rest.back())) rest.pop_back();
    size_t first = 0;
    while (first < rest.size() && blank(rest[first])) first++;
    rest.erase(0, first);
    const std::string tag = "<playlist>";
    for (size_t at = rest.find(tag); at != std::string::npos; at = rest.find(tag, at + 1)) count++;
}

}  // namespace

void Mix::loadXML() {
    std::cout << "start XML loading" << std::endl;

    // From the start folder, not the current one: the browser moves the current folder, and the
    // file is read again whenever another program changed it.
    const std::string path = playlistsPath();
    playlistsStamp = fileStampOf(path);
    xmlFile = fopen(path.c_str(), "r");
    playlistCount = 0;
    hiddenPlaylists.clear();
    hiddenPlaylistCount = 0;
    for (Playlist& playlist : playlists) {
        playlist.trackCount = 0;
        playlist.hiddenTracks.clear();
    }

    int i = 0;
    int cut = 0, firstCutCount = 0;
    std::string firstCutName;
    if (!xmlFile) {
        std::cout << "can't find playlists XML file" << std::endl;
    } else {
        XmlReader::readPrologue(xmlFile);
        for (;;) {
            const long start = ftell(xmlFile);
            if (XmlReader::readUntil(xmlFile, "<playlist>") == EndOfDocument) break;
            if (exhausted(xmlFile)) break;
            // Past the fiftieth the rest is kept as it is: a save writes it back unchanged.
            if (i >= MaxPlaylists) {
                keepRest(xmlFile, start, hiddenPlaylists, hiddenPlaylistCount);
                break;
            }

            Playlist& playlist = playlists[i];
            playlist.unsaved = 0;
            bool whole = true;
            std::string result = XmlReader::readElement(xmlFile, "name", LongestStoredText, whole);
            if (result == EndOfDocument || exhausted(xmlFile)) break;
            playlist.name = whole ? result : "";

            playlist.trackCount = 0;
            int seen = 0;
            while (whole) {
                result = XmlReader::readElement(xmlFile, "track", LongestStoredText, whole);
                if (exhausted(xmlFile)) whole = true;  // cut short by the end: dropped below, as ever
                if (!whole || result == EndOfPlaylist || result == EndOfDocument || exhausted(xmlFile)) break;
                seen++;
                // A playlist shows 51 entries; further ones are kept to be written back.
                if (playlist.trackCount < MaxPlaylistTracks) {
                    playlist.tracks[playlist.trackCount].file = result;
                    playlist.trackCount++;
                } else {
                    playlist.hiddenTracks.push_back(result);
                }
            }
            if (!whole) {
                // A name or entry longer than any the file may hold: this playlist and the rest are
                // kept as they are, never a part of them read as a name.
                std::cout << "playlist " << i + 1 << " holds a name or entry longer than " << LongestStoredText
                          << " bytes: it and the rest of the file are not shown" << std::endl;
                playlist.trackCount = 0;
                playlist.hiddenTracks.clear();
                keepRest(xmlFile, start, hiddenPlaylists, hiddenPlaylistCount);
                break;
            }
            if (result != EndOfPlaylist) {
                playlist.trackCount = 0;  // not counted: keep "just past the last" empty
                playlist.hiddenTracks.clear();
                break;
            }
            if (seen > MaxPlaylistTracks) {
                std::cout << "playlist " << playlist.name << " has " << seen << " tracks: only the first "
                          << MaxPlaylistTracks << " are shown" << std::endl;
                if (cut++ == 0) {
                    firstCutName = playlist.name;
                    firstCutCount = seen;
                }
            }
            i++;
        }
        fclose(xmlFile);
        xmlFile = nullptr;
    }
    playlistCount = i;
    if (runPlaylist.trackCount > 0) {
        // The run's own playlist comes first; a full file loses its last playlist for this run.
        const int kept = std::min(playlistCount, MaxPlaylists - 1);
        for (int p = kept; p > 0; p--) playlists[p] = playlists[p - 1];
        playlists[0] = runPlaylist;
        playlists[0].unsaved = 1;
        playlistCount = kept + 1;
    }

    if (playlistCount < MaxPlaylists) playlists[playlistCount].trackCount = 0;
    std::cout << "end XML loading" << std::endl;
    std::cout << "decks: " << playlistCount << std::endl;
    std::cout << " " << std::endl;
    reportCutPlaylists(cut, firstCutName, firstCutCount);
    if (hiddenPlaylistCount > 0) {
        char text[NoticeChars];
        snprintf(text, sizeof text, "only %d of %d playlists shown", playlistCount, playlistCount + hiddenPlaylistCount);
        std::cout << text << std::endl;
        postNotice(text);
    }
}

std::string Mix::playlistsPath() const {
    return startDir.empty() ? "./data/playlists.xml" : startDir + "/data/playlists.xml";
}

std::string Mix::playlistsText() const {
    const int count = std::min(std::max(playlistCount, 0), MaxPlaylists);
    std::string content = std::string(declarationFor(*this, count)) + "\n<all>\n";
    for (int p = 0; p < count; p++) {
        const Playlist& playlist = playlists[p];
        if (playlist.unsaved) continue;
        content += "\t<playlist>\n\t\t<name>" + playlist.name + "</name>\n";
        const int tracksUsed = std::min(std::max(playlist.trackCount, 0), MaxPlaylistTracks);
        for (int t = 0; t < tracksUsed; t++)
            content += "\t\t<track>" + playlist.tracks[t].file + "</track>\n";
        for (const std::string& hidden : playlist.hiddenTracks) content += "\t\t<track>" + hidden + "</track>\n";
        content += "\t</playlist>\n";
    }
    if (!hiddenPlaylists.empty()) content += "\t" + hiddenPlaylists + "\n";
    content += "</all>\n";
    return content;
}

bool Mix::saveXML() {
    std::cout << "saveXML()" << std::endl;
    const std::string content = playlistsText();
    // Written beside the old file and renamed over it, so a failed save never loses the playlists.
    int error = 0;
    if (!saveFileSafely(playlistsPath(), content, &error)) {
        postNotice(("can't save playlists: " + saveFailureReason(error)).c_str());
        return false;
    }
    playlistsStamp = fileStampOf(playlistsPath());
    return true;
}
