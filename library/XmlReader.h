// The tag scanner every settings and playlists file is read with: it reads one byte at a time and
// recognises tags only as exact byte sequences at the end of what it has read.
#pragma once
#include <cstdio>
#include <string>

class XmlReader {
public:
    static std::string readUntil(FILE* stream, const std::string& tag);
    static std::string readElement(FILE* stream, const std::string& name);
    // The same with a text of up to `longest` bytes: whole says whether the closing tag came within
    // them (and before the end of the stream). A text that is not whole must not be used.
    static std::string readElement(FILE* stream, const std::string& name, size_t longest, bool& whole);
    // Discards the 44-byte declaration line, then skips to "<all>".
    static void readPrologue(FILE* stream);
    // The longest text an element of this name can hold and still be read back whole.
    static size_t longestText(const std::string& name);
};
