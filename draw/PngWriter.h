#pragma once
#include <cstdint>
#include <string>

// Writes a w x h RGB565 picture (row stride in pixels) as an 8-bit RGB PNG. Returns false when the
// file cannot be written.
bool writePng565(const std::string& path, const uint16_t* pixels, int w, int h, int stride);
