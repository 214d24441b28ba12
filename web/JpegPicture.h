// RGB565 pictures as JPEG (libjpeg), for the browser's preview and the clips' thumbnails.
#pragma once
#include <cstdint>
#include <vector>

// Encodes width x height pixels (stride pixels a row) at quality 1..100 into out. False, with out
// empty, when libjpeg reports an error.
bool encodeJpeg(const uint16_t* pixels, int width, int height, int stride, int quality, std::vector<uint8_t>& out);

// Halves a picture: each output pixel the average of a 2x2 square, per channel.
void halvePicture(const uint16_t* pixels, int width, int height, int stride, uint16_t* out);
