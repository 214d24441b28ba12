#include "web/JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace {

// libjpeg's default error handler ends the process; this one jumps back to the encoder.
struct ErrorJump {
    jpeg_error_mgr manager;
    jmp_buf back;
};

void jumpBack(j_common_ptr info) { longjmp(reinterpret_cast<ErrorJump*>(info->err)->back, 1); }
void quiet(j_common_ptr, int) {}

}  // namespace

bool encodeJpeg(const uint16_t* pixels, int width, int height, int stride, int quality, std::vector<uint8_t>& out) {
    out.clear();
    jpeg_compress_struct info;
    ErrorJump error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jumpBack;
    error.manager.emit_message = quiet;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row(size_t(width) * 3);
    if (setjmp(error.back)) {
        jpeg_destroy_compress(&info);
        free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < height; y++) {
        const uint16_t* p = pixels + size_t(y) * stride;
        for (int x = 0; x < width; x++) {
            // Each channel widened by repeating its top bits, as a screen shows it.
            const unsigned r = p[x] >> 11, g = (p[x] >> 5) & 63, b = p[x] & 31;
            row[3 * x] = uint8_t(r << 3 | r >> 2);
            row[3 * x + 1] = uint8_t(g << 2 | g >> 4);
            row[3 * x + 2] = uint8_t(b << 3 | b >> 2);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    out.assign(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return true;
}

void halvePicture(const uint16_t* pixels, int width, int height, int stride, uint16_t* out) {
    for (int y = 0; y + 1 < height; y += 2) {
        const uint16_t* a = pixels + size_t(y) * stride;
        const uint16_t* b = a + stride;
        for (int x = 0; x + 1 < width; x += 2) {
            const unsigned p[4] = {a[x], a[x + 1], b[x], b[x + 1]};
            unsigned r = 0, g = 0, bl = 0;
            for (unsigned v : p) {
                r += v >> 11;
                g += (v >> 5) & 63;
                bl += v & 31;
            }
            *out++ = uint16_t((r + 2) / 4 << 11 | (g + 2) / 4 << 5 | (bl + 2) / 4);
        }
    }
}
