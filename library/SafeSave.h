// Replaces a file without ever losing the old one: the new content goes to a temporary file beside
// it, is flushed and synced, and is renamed over the old file only when every step succeeded.
#pragma once
#include <string>

// Returns true when path now holds exactly content. On failure the old file is untouched, one log
// line says why and error (when given) holds the errno of the step that failed. The new file keeps
// the permissions of the one it replaces; when path is a symbolic link, the link's target is
// replaced and the link stays.
bool saveFileSafely(const std::string& path, const std::string& content, int* error = nullptr);

// A few words for the performer's notice: "disk full", "read-only disk", ...
std::string saveFailureReason(int error);
