#include "library/XmlReader.h"

#include <algorithm>

namespace {

// Limits of one scan: they are what ends every loop, since the scanner never tests for the end of
// the stream (past it, fgetc's EOF is appended as the byte 0xFF).
constexpr int UntilLimit = 43;
constexpr int ElementLimit = 99;
constexpr int DeclarationBytes = 44;

const std::string EndOfDocument = "</all>";
const std::string EndOfPlaylist = "</playlist>";

bool endsWith(const std::string& buffer, const std::string& tag) {
    return buffer.size() >= tag.size() &&
           buffer.compare(buffer.size() - tag.size(), tag.size(), tag) == 0;
}

void readByte(FILE* stream, std::string& buffer) {
    buffer.push_back(static_cast<char>(fgetc(stream)));
}

}  // namespace

std::string XmlReader::readUntil(FILE* stream, const std::string& tag) {
    std::string buffer;
    for (int i = 0; i < UntilLimit; i++) {
        readByte(stream, buffer);
        if (endsWith(buffer, tag)) return "";
        if (endsWith(buffer, EndOfDocument)) return EndOfDocument;
    }
    return "";
}

std::string XmlReader::readElement(FILE* stream, const std::string& name) {
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";

    std::string buffer;
    for (int i = 0; i < ElementLimit; i++) {
        readByte(stream, buffer);
        if (endsWith(buffer, open)) break;
        if (endsWith(buffer, EndOfDocument)) return EndOfDocument;
        if (endsWith(buffer, EndOfPlaylist)) return EndOfPlaylist;
    }

    buffer.clear();
    for (int i = 0; i < ElementLimit; i++) {
        readByte(stream, buffer);
        if (endsWith(buffer, close)) break;
    }
    // Without a closing tag the last bytes are dropped all the same; a buffer shorter than the
    // tag cannot happen (99 bytes are read), but the guard keeps erase in range for any name.
    buffer.erase(buffer.size() - std::min(buffer.size(), close.size()));
    return buffer;
}

std::string XmlReader::readElement(FILE* stream, const std::string& name, size_t longest, bool& whole) {
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";
    whole = true;  // the ends of the document and of the playlist are whole answers

    std::string buffer;
    for (int i = 0; i < ElementLimit; i++) {
        readByte(stream, buffer);
        if (endsWith(buffer, open)) break;
        if (endsWith(buffer, EndOfDocument)) return EndOfDocument;
        if (endsWith(buffer, EndOfPlaylist)) return EndOfPlaylist;
    }

    whole = false;
    buffer.clear();
    const size_t limit = longest + close.size();
    while (buffer.size() < limit) {
        const int c = fgetc(stream);
        if (c == EOF) break;
        buffer.push_back(static_cast<char>(c));
        if (endsWith(buffer, close)) {
            whole = true;
            buffer.erase(buffer.size() - close.size());
            break;
        }
    }
    return buffer;
}

void XmlReader::readPrologue(FILE* stream) {
    std::string declaration;
    for (int i = 0; i < DeclarationBytes; i++) readByte(stream, declaration);
    readUntil(stream, "<all>");
}

size_t XmlReader::longestText(const std::string& name) {
    // The text and its closing tag are read within one element limit.
    return ElementLimit - (name.size() + 3);
}
