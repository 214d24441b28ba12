// Pictures on their way into a clip: fitting a source picture of any size to 320x240, quantising
// it to RGB565 (plus 4-bit alpha), and measuring the error of a decoded clip.
#pragma once
#include <cstdint>
#include <vector>

namespace encode {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Pixels = Width * Height;

enum class Fit { Crop, Letterbox, Stretch };

// A source picture in 8-bit RGBA, rows of stride bytes. sampleAspect is the width of one source
// pixel relative to its height (1 for square pixels).
struct SourcePicture {
    const uint8_t* rgba = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    double sampleAspect = 1.0;
};

// Scales src to 320x240 RGBA: Crop fills the frame and cuts what sticks out (centred), Letterbox
// shows all of it on black, Stretch ignores the aspect ratio. Downscaling averages the covered
// area; upscaling interpolates linearly. Colours are weighted by alpha so that transparent
// pixels do not bleed their (meaningless) colour into their neighbours.
void fitPicture(const SourcePicture& src, Fit fit, uint8_t out[Pixels * 4]);

// One frame as the clip stores it.
struct Frame565 {
    std::vector<uint16_t> colour = std::vector<uint16_t>(Pixels);
    std::vector<uint8_t> alpha = std::vector<uint8_t>(Pixels, 15);  // 0..15
    // Squared error of colour as the screen shows it against the 8-bit picture it came from
    // (opaque pixels), which no coding can take back.
    uint64_t quantisationError = 0;
};

// The RGB565 level a screen shows closest to an 8-bit channel value: the q whose widening by bit
// replication (q << 3 | q >> 2 for 5 bits, q << 2 | q >> 4 for 6) is nearest to v.
int nearestLevel5(int v);
int nearestLevel6(int v);
uint16_t nearest565(int r, int g, int b);

// RGB565 by the nearest level of each channel, or with 4x4 ordered dithering when dither is set. Alpha becomes 0..15 (rounded); a fully transparent pixel
// is black, since it carries no colour.
void quantise(const uint8_t rgba[Pixels * 4], bool dither, Frame565& out);

// Squared error between two RGB565 pictures, each channel widened to 8 bits by bit replication.
uint64_t squaredError565(const uint16_t* a, const uint16_t* b, int count);
// Squared error of an RGB565 picture, widened, against 8-bit RGB pixels (3 bytes each).
uint64_t squaredErrorToRgb(const uint16_t* a, const uint8_t* rgb, int count);
// PSNR in dB for a squared error over count pixels (3 samples each); 0 error gives 99.
double psnrFromError(uint64_t squaredError, uint64_t pixelCount);

}  // namespace encode
