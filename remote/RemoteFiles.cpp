#include "remote/RemoteFiles.h"

#include <cstdio>

bool readRemoteFile(const std::string& path, std::string& content) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    content.clear();
    char buffer[4096];
    size_t n;
    bool ok = true;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (content.size() + n > MaxRemoteFileBytes) {
            ok = false;
            break;
        }
        content.append(buffer, n);
    }
    fclose(f);
    return ok;
}

std::vector<std::string> remoteElements(const std::string& content, const char* name, size_t max) {
    std::vector<std::string> out;
    const std::string open = std::string("<") + name + ">", close = std::string("</") + name + ">";
    size_t at = 0;
    while (out.size() < max) {
        const size_t start = content.find(open, at);
        if (start == std::string::npos) break;
        const size_t end = content.find(close, start + open.size());
        if (end == std::string::npos) break;
        out.push_back(content.substr(start + open.size(), end - start - open.size()));
        at = end + close.size();
    }
    return out;
}

std::string remoteFileHeader() { return "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n"; }
