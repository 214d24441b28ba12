#include <algorithm>
#include <iostream>
#include <sys/stat.h>

#include "core/Notice.h"
#include "core/Utf8.h"
#include "library/Mix.h"
#include "library/SafeSave.h"
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
    for (int p = 0; p < count; p++) {
        const Playlist& playlist = m.playlists[p];
        const int tracksUsed = std::min(std::max(playlist.trackCount, 0), MaxPlaylistTracks);
        std::string names = playlist.name;
        for (int t = 0; t < tracksUsed; t++) names += playlist.tracks[t].file;
        if (!isUtf8(names)) return Latin1Declaration;
        ascii = ascii && isAscii(names);
    }
    // Plain ASCII reads the same under both; the older declaration keeps such files as they were.
    return ascii ? Latin1Declaration : Utf8Declaration;
}

// A playlist in the file with more entries than a playlist holds loses the rest at the next
// save: the performer hears of it when the file is read, before anything is saved.
void reportCutPlaylists(int cut, const std::string& firstName, int firstCount) {
    if (cut == 0) return;
    char text[NoticeChars];
    if (cut == 1) {
        snprintf(text, sizeof text, "only %d of %d tracks kept in %s", MaxPlaylistTracks, firstCount,
                 firstName.c_str());
    } else {
        snprintf(text, sizeof text, "only %d tracks kept in %d playlists, first %s", MaxPlaylistTracks, cut,
                 firstName.c_str());
    }
    postNotice(text);
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
    for (Playlist& playlist : playlists) playlist.trackCount = 0;

    int i = 0;
    int cut = 0, firstCutCount = 0;
    std::string firstCutName;
    if (!xmlFile) {
        std::cout << "can't find playlists XML file" << std::endl;
    } else {
        XmlReader::readPrologue(xmlFile);
        while (i < MaxPlaylists) {
            if (XmlReader::readUntil(xmlFile, "<playlist>") == EndOfDocument) break;
            if (exhausted(xmlFile)) break;

            Playlist& playlist = playlists[i];
            playlist.unsaved = 0;
            std::string result = XmlReader::readElement(xmlFile, "name");
            if (result == EndOfDocument || exhausted(xmlFile)) break;
            playlist.name = result;

            playlist.trackCount = 0;
            int seen = 0;
            for (;;) {
                result = XmlReader::readElement(xmlFile, "track");
                if (result == EndOfPlaylist || result == EndOfDocument || exhausted(xmlFile)) break;
                seen++;
                // A playlist holds 51 entries; further ones are read and dropped so that the
                // scan stays in step and finds this playlist's end, not the next one's.
                if (playlist.trackCount < MaxPlaylistTracks) {
                    playlist.tracks[playlist.trackCount].file = result;
                    playlist.trackCount++;
                }
            }
            if (result != EndOfPlaylist) {
                playlist.trackCount = 0;  // not counted: keep "just past the last" empty
                break;
            }
            if (seen > MaxPlaylistTracks) {
                std::cout << "playlist " << playlist.name << " has " << seen << " tracks: only the first "
                          << MaxPlaylistTracks << " are kept" << std::endl;
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
        content += "\t</playlist>\n";
    }
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
