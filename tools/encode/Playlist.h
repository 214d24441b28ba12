// Adding clips to a playlist of the run folder's data/playlists.xml, written back in the exact
// bytes the instrument writes, through the safe-save routine.
#pragma once
#include <string>
#include <vector>

namespace encode {

constexpr int MaxPlaylists = 50;
constexpr int MaxPlaylistTracks = 51;

struct PlaylistEntry {
    std::string name;
    std::vector<std::string> tracks;
};

// Reads the playlists of a file's text; false when the text is not a playlists file.
bool parsePlaylists(const std::string& text, std::vector<PlaylistEntry>& out);
// The playlists file's bytes for these playlists.
std::string playlistsText(const std::vector<PlaylistEntry>& playlists);

// Adds the clip files (names relative to videos/) to the playlist `name` of file (a new playlist
// at the end when there is none of that name); files already in it are not added twice.
// False with one line in error when nothing could be saved or not every clip fitted.
bool addToPlaylist(const std::string& file, const std::string& name,
                   const std::vector<std::string>& clips, std::string& error);

}  // namespace encode
