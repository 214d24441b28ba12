// The page's files, compiled in from web/page/ (web/EmbedPage.cmake): the only files the surface
// serves, by their exact path.
#pragma once
#include <cstddef>

struct PageFile {
    const char* path;  // "/index.html", "/app.js", ...
    const char* type;  // the Content-Type
    const unsigned char* bytes;
    size_t size;
};

extern const PageFile pageFiles[];
extern const int pageFileCount;
