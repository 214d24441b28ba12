// The small files of the remote seam (data/remote.xml, data/midimap.xml): read whole with a size
// cap, their elements picked out as text, written with the library's safe save.
#pragma once
#include <string>
#include <vector>

constexpr size_t MaxRemoteFileBytes = 64 * 1024;

// False when the file cannot be opened or is larger than the cap.
bool readRemoteFile(const std::string& path, std::string& content);
// The texts of the elements <name>...</name>, in file order, at most max of them.
std::vector<std::string> remoteElements(const std::string& content, const char* name, size_t max);
// The declaration, an empty line and "<all>", as every settings file starts.
std::string remoteFileHeader();
