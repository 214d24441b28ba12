// The projector's scaler: the 320x240 RGB565 picture onto an output of any size in 32-bit pixels,
// by a fit (letterbox, fill, stretch) and a look (sharp: whole factors with nearest pixels;
// smooth: bilinear to the full size). Plain integer code; the tables of a geometry are made once.
#pragma once
#include <cstdint>
#include <vector>

enum ProjectorFit { FitLetterbox = 0, FitFill = 1, FitStretch = 2 };
enum ProjectorLook { LookSharp = 0, LookSmooth = 1 };

const char* projectorFitName(int fit);    // "letterbox", "fill", "stretch"
const char* projectorLookName(int look);  // "sharp", "smooth"
// -1 for a name that is none of them.
int parseProjectorFit(const char* name);
int parseProjectorLook(const char* name);

// Where the picture lands on one axis of the output: the scaled picture is `length` pixels long
// and starts at `origin` (negative when fill crops it); output pixels outside it are black.
struct AxisPlacement {
    int32_t origin = 0;
    int32_t length = 0;
};
// The two axes for an output of width x height (both at least 1).
void placePicture(int32_t width, int32_t height, int fit, int look, AxisPlacement& x, AxisPlacement& y);

// The output's pixel layout: each 8-bit channel's shift in a 32-bit pixel.
struct PixelShifts {
    uint8_t red = 16, green = 8, blue = 0;
};

class ProjectorScaler {
public:
    // Draws picture (320x240, tightly packed) into out (width x height, pitch in pixels).
    void scale(const uint16_t* picture, uint32_t* out, int32_t width, int32_t height, int32_t pitch, int fit,
               int look, PixelShifts shifts = PixelShifts());

private:
    void prepare(int32_t width, int32_t height, int fit, int look);
    // Smooth: one source row widened and stretched across the visible width.
    void stretchRow(const uint16_t* picture, int32_t sourceRow, uint32_t* line);
    // Visible output range per axis, and per output pixel of it the source index (and for smooth
    // the next index's weight 0..256).
    int32_t width_ = 0, height_ = 0, fit_ = -1, look_ = -1;
    int32_t x0_ = 0, x1_ = 0, y0_ = 0, y1_ = 0;
    std::vector<int32_t> xIndex_, yIndex_;
    std::vector<uint16_t> xWeight_, yWeight_;
    std::vector<uint32_t> rowA_, rowB_, source_;  // smooth: the two source rows, widened and stretched
};
