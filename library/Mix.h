// The library: every playlist, the run that loads one playlist into the track slots, and the
// playlist editor's state (browser rows, keyboard text, the two lists, drag and drop, preview).
#pragma once
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

struct SDL_Surface;
class Track;
class Controller;

constexpr int MaxPlaylists = 50;
constexpr int MaxPlaylistTracks = 51;
constexpr int BrowserRows = 1000;  // a folder with more says how many are not shown
constexpr int VisibleRows = 15;
constexpr uint32_t UndoMs = 4000;  // how long a deleted playlist can be brought back

enum EditorView { PlaylistsView = 0, NewPlaylistView = 1, TracksView = 2 };
// The playlists view's RENAME button, beside NEW in the bottom bar (y 219..234).
constexpr int RenameX0 = 197, RenameX1 = 260;

struct PlaylistTrack {
    std::string file;
    int32_t missing = 0;
    int32_t estimate = 0;  // the probe's size estimate at the last scan (0 when missing)
};

struct Playlist {
    PlaylistTrack tracks[MaxPlaylistTracks];
    int32_t trackCount = 0;
    std::string name;
    int32_t ramPercent = 0;
    int32_t missingCount = 0;
    // Entries past the 51st: not shown or loaded, but written back after the others, as read.
    std::vector<std::string> hiddenTracks;
    int32_t unsaved = 0;  // a playlist of this run only (the "Live" sources): never written
};

// What the playlists file looked like on disk when the mix last read or wrote it: a write by any
// other program (the encoder, a text editor) changes at least one of these.
struct FileStamp {
    int32_t exists = 0;
    uint64_t device = 0, inode = 0;
    int64_t size = 0, seconds = 0, nanoseconds = 0;
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               seconds == o.seconds && nanoseconds == o.nanoseconds;
    }
};

// A playlist's name and entries as one text, to tell whether it changed.
std::string playlistSignature(const Playlist& p);

// The stamp of a file as it is now (exists 0 when there is none).
FileStamp fileStampOf(const std::string& path);

struct Scroller {
    int32_t top = 0;
    int32_t maxTop = 0;
    int32_t count = 0;
    int32_t dragging = 0;
    int32_t thumbHeight = 0;
};

class Mix {
public:
    int32_t loadingPlaylist = 0;
    int32_t playlistCount = 0;
    Playlist playlists[MaxPlaylists];
    FILE* xmlFile = nullptr;
    int32_t loadPosition = 0;
    int32_t _totalTracks = 0;
    int32_t loading = 0;
    int32_t editorView = PlaylistsView;
    int32_t editPlaylist = 0;
    int32_t renamingPlaylist = -1;  // the keyboard renames this playlist; -1: it names a new one
    int32_t typingSource = 0;       // the keyboard types a live source for the edited playlist
    int32_t keyCursor = 0;
    int32_t selectedTrack = 0;
    int32_t selectedEntry = 0;
    Scroller scrollers[2];
    std::string newName;
    std::string browserPath;
    DIR* browserDir = nullptr;
    std::string browserNames[BrowserRows];
    int32_t browserIsDir[BrowserRows] = {};
    int32_t browserCount = 0;
    std::string startDir;
    int32_t dragActive = 0;
    int32_t dropRow = 0;
    int32_t dragSource = 0;
    Track* preview = nullptr;
    int32_t previewing = 0;
    int32_t previewFrame = 0;
    // 1 once an editing operation changed the playlists since the last saveAndScan: a pick and
    // drop that moves nothing saves nothing.
    int32_t unsavedEdits = 0;
    FileStamp playlistsStamp;  // data/playlists.xml as last read or written
    // What the file holds past the playlists shown (after the 50th, or from a playlist the reader
    // cannot read whole), from its <playlist> tag on: written back byte for byte after them.
    std::string hiddenPlaylists;
    int32_t hiddenPlaylistCount = 0;
    // The sources given on the command line for this run ("Live"): listed first at every read of
    // the file and never saved (trackCount 0: none).
    Playlist runPlaylist;

    void init();
    void clearMix();

    // data/playlists.xml
    void loadXML();
    bool saveXML();  // false (with a log line and a notice) when the file could not be replaced
    std::string playlistsPath() const;
    std::string playlistsText() const;  // the file's bytes for the playlists held
    // Reads the file again when another program changed it since the mix last read or wrote it;
    // the highlighted and the loading playlist are found again by name. True when it reloaded.
    bool reloadIfChanged();

    // scanning and loading
    void scanPlaylists();
    void saveAndScan();
    void loadPlaylist(int index);
    void continueLoading();
    void finishLoading();  // logs the completion line and ends the run
    // The playlist in the slots is still the one loaded: same name and entries (the editor or
    // another program may have changed it while the performer was away from the MIX screen).
    bool loadedPlaylistUnchanged() const;
    std::string loadedAs;  // the loaded playlist's name and entries (playlistSignature), "" for none
    // A clip that loading refused: every entry naming it is missing from now on (until the file
    // changes), and the figures of their playlists drop it.
    void markUnplayable(const std::string& file);

    // file browser
    void readDir(const std::string& path);
    static bool isClipName(const std::string& name);

    // editor
    void exitEditor();
    void addPlaylist();
    void renamePlaylist(int index, const std::string& name);
    void deletePlaylist(int index);
    void movePlaylist(int from, int to);
    void deleteTrack(int playlist, int index);
    void moveTrack(int from, int to);
    void insertTrack(const std::string& file, int playlist, int position);
    void startPreview();
    void resetScroller(int scroller, int count);
    // The editor's saved operations. Each applies to the file as it is now: when another program
    // changed it, the mix reads it again and the one operation is applied to that fresh copy
    // (playlists found by name and entries), then saved, so nothing written outside is lost.
    void deleteAndSave(int index);
    // A deleted playlist comes back at its place while its notice shows (UndoMs): true when it did.
    bool undoDelete();
    Playlist undoPlaylist;
    int32_t undoIndex = 0;
    uint32_t undoUntil = 0;  // platform ticks until which undoDelete works; 0 for nothing to undo
    void moveAndSave(int from, int to);
    // TracksView: each change is saved at once in the same way, the edited playlist found again by
    // name and entries, the entries by their files.
    void insertAndSave(const std::string& file, int position);
    void moveTrackAndSave(int from, int to);
    void deleteTrackAndSave(int index);
    void saveEditedPlaylist();  // TracksView's back button: saves what a failed save left unsaved
    int findPlaylist(const Playlist& like, int hint) const;
    bool editedAgain(Playlist& shown);
    // Appends file to the playlist called name (made at the end when there is none) of the file as
    // it is now, and saves. False (with a notice) when it is full or could not be saved.
    bool appendAndSave(const std::string& name, const std::string& file);
    void setScrollerCount(int scroller, int count);

    // on-screen keyboard
    static const char* keyLabel(int k);
    void drawKeyboard(SDL_Surface* screen);
    void pressKey(int k);
    void keyboardInput(const Controller& c);
    // The physical keyboard: a printable character types (if a name can hold it), Backspace
    // deletes, Enter is OK, Escape cancels.
    void typeCharacter(char ch);
    void leaveKeyboard();  // back to the view the keyboard was opened from
    static bool nameCharacterAllowed(char ch);  // the keyboard view's input rules, once per frame
};

extern Mix mix;

void drawEditor(Mix& mix, SDL_Surface* screen, SDL_Surface* texture);

// The browser's folders: an absolute path with "//", "." and ".." resolved by name, and the top
// clip folder (startDir + "/videos").
std::string normalisePath(const std::string& path);
std::string videosRoot(const Mix& m);
// The folder the browser shows as a prefix relative to "videos" ("" at the top, "sub/" below);
// false when it lies outside "videos", where no file has a name that loads.
bool browserPrefix(const Mix& m, std::string& prefix);
