// What a name must be for data/playlists.xml to hold it safely: the file is read back by the
// program's own tag scanner, which takes text byte for byte up to the closing tag within a fixed
// number of bytes, and by standard XML tools, which reject markup characters in text and need the
// declared encoding to be true.
#pragma once
#include <cstddef>
#include <string>

// The longest name or entry data/playlists.xml holds: the reader reads texts of up to this many
// bytes whole; a playlist with a longer one is kept in the file as it is, but not shown.
constexpr size_t LongestStoredText = 4096;

// Why name cannot be stored in an element whose text may be at most longest bytes, or null.
const char* storedNameProblem(const std::string& name, size_t longest);
