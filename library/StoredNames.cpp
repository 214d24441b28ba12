#include "library/StoredNames.h"

#include "core/Utf8.h"

const char* storedNameProblem(const std::string& name, size_t longest) {
    if (name.size() > longest) return "name too long for playlists.xml";
    for (unsigned char c : name) {
        // Nothing is escaped in the file: markup would end the element early for the program's
        // reader or make the file unreadable to XML tools.
        if (c == '<' || c == '>' || c == '&') return "names with < > or & cannot be stored";
        if (c < 0x20 || c == 0x7F) return "names with control characters cannot be stored";
    }
    // New names are UTF-8, so the file can declare one encoding that is true for all of them.
    if (!isUtf8(name)) return "name is not UTF-8 text";
    return nullptr;
}
