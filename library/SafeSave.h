// Replaces a file without ever losing the old one: the new content goes to a temporary file beside
// it, is flushed and synced, and is renamed over the old file only when every step succeeded.
#pragma once
#include <string>

// Returns true when path now holds exactly content. On failure the old file is untouched and one
// log line says why.
bool saveFileSafely(const std::string& path, const std::string& content);
