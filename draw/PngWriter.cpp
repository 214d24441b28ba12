#include "draw/PngWriter.h"

#include <png.h>
#include <cstdio>
#include <vector>

bool writePng565(const std::string& path, const uint16_t* pixels, int w, int h, int stride) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(size_t(w) * 3);
    for (int y = 0; y < h; y++) {
        const uint16_t* s = pixels + size_t(y) * stride;
        for (int x = 0; x < w; x++) {
            // Expand 5/6/5 bits to 8 by repeating the top bits, so white stays 255.
            uint16_t p = s[x];
            uint8_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
            row[x * 3] = png_byte(r << 3 | r >> 2);
            row[x * 3 + 1] = png_byte(g << 2 | g >> 4);
            row[x * 3 + 2] = png_byte(b << 3 | b >> 2);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(f) == 0;
}
