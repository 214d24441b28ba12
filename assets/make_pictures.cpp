// Placeholder generator: plain pictures of the right sizes until the real artwork lands.
#include <png.h>
#include <cstdio>
#include <string>
#include <vector>

static bool writeRgba(const std::string& path, int w, int h, unsigned rgba) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(w * 4);
    for (int x = 0; x < w; x++) {
        row[x * 4] = rgba >> 24; row[x * 4 + 1] = rgba >> 16; row[x * 4 + 2] = rgba >> 8; row[x * 4 + 3] = rgba;
    }
    for (int y = 0; y < h; y++) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    std::string d = argv[1];
    bool ok = writeRgba(d + "/textureUI.png", 128, 64, 0x808080FF) &&
              writeRgba(d + "/home.png", 320, 240, 0x303030FF) &&
              writeRgba(d + "/logo-tarnobelli.png", 320, 240, 0xFE00C3FF) &&
              writeRgba(d + "/abxy.png", 96, 96, 0x59B1FFFF);
    return ok ? 0 : 1;
}
