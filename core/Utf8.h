// Names are byte strings kept as they came (file names from the folder listing, names from the
// playlists file); these tell whether such bytes read as UTF-8 text, for drawing them and for the
// declaration of the playlists file.
#pragma once
#include <cstddef>
#include <string>

// True when every byte is below 0x80.
bool isAscii(const std::string& s);
// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isUtf8(const std::string& s);
// The length of the first n bytes of s shortened so that no UTF-8 sequence is cut (for a string
// that is not UTF-8 every byte is a character and n is returned).
size_t utf8Boundary(const std::string& s, size_t n, bool utf8);
