// The clips' pictures for the browser's grid: the first frame at half size as JPEG, made once for
// each clip when it is loaded and cached beside it (FOLDER/.thumbs/NAME.jpg, remade when the clip
// is newer).
#pragma once
#include <string>

class Track;

constexpr int ThumbnailWidth = 160, ThumbnailHeight = 120;
constexpr int ThumbnailQuality = 75;

std::string thumbnailPath(const std::string& clipPath);
// The thumbnail exists and is at least as new as its clip.
bool thumbnailCurrent(const std::string& clipPath);
// Makes the thumbnail of a loaded track. The frame is decoded into a deck's frame buffer (one
// without GLITCH, which would change the picture) whose pixels are put back afterwards, and the
// track redraws whole at its next decode, so the playing picture is not disturbed. False when
// both decks have GLITCH on (the clip then has no picture until it is loaded again) or the file
// cannot be written.
bool makeThumbnail(Track& track);
