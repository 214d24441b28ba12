#include "projector/ProjectorScale.h"

#include <cstring>
#include <utility>

#include "projector/ProjectorSegment.h"

namespace {

const char* const fitNames[3] = {"letterbox", "fill", "stretch"};
const char* const lookNames[2] = {"sharp", "smooth"};

// RGB565 to 0x00RRGGBB, each channel widened by repeating its top bits (as the recording does).
inline uint32_t widen(uint16_t p) {
    const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// a and b mixed with b's weight w (0..256), rounded: red and blue move together in one multiply,
// green in another, since the 8-bit gaps between them hold the products.
inline uint32_t lerp(uint32_t a, uint32_t b, uint32_t w) {
    const uint32_t v = 256 - w;
    const uint32_t rb = (((a & 0xFF00FF) * v + (b & 0xFF00FF) * w + 0x800080) >> 8) & 0xFF00FF;
    const uint32_t g = (((a & 0xFF00) * v + (b & 0xFF00) * w + 0x8000) >> 8) & 0xFF00;
    return rb | g;
}

void placeAxis(int32_t out, int32_t length, AxisPlacement& a) {
    a.length = length > 0 ? length : 1;
    a.origin = (out - a.length) / 2;
}

// The index tables of one axis: source pixel (and the next one's weight for smooth) of every
// visible output pixel.
void axisTables(const AxisPlacement& a, int32_t out, int32_t source, bool smooth, int32_t& first, int32_t& last,
                std::vector<int32_t>& index, std::vector<uint16_t>& weight) {
    first = a.origin > 0 ? a.origin : 0;
    last = a.origin + a.length < out ? a.origin + a.length : out;
    index.assign(size_t(last - first), 0);
    weight.assign(size_t(last - first), 0);
    for (int32_t d = first; d < last; d++) {
        const int64_t along = d - a.origin;
        int32_t i;
        uint16_t w = 0;
        if (smooth) {
            // The output pixel's centre in source pixels, in 1/256ths, minus half a pixel.
            int64_t s = ((2 * along + 1) * source * 256) / (2 * int64_t(a.length)) - 128;
            if (s < 0) s = 0;
            if (s > int64_t(source - 1) * 256) s = int64_t(source - 1) * 256;
            i = int32_t(s >> 8);
            w = uint16_t(s & 255);
        } else {
            i = int32_t(along * source / a.length);
            if (i > source - 1) i = source - 1;
        }
        index[size_t(d - first)] = i;
        weight[size_t(d - first)] = w;
    }
}

}  // namespace

const char* projectorFitName(int fit) { return fit >= 0 && fit < 3 ? fitNames[fit] : fitNames[0]; }
const char* projectorLookName(int look) { return look >= 0 && look < 2 ? lookNames[look] : lookNames[0]; }

int parseProjectorFit(const char* name) {
    for (int i = 0; i < 3; i++)
        if (std::strcmp(name, fitNames[i]) == 0) return i;
    return -1;
}

int parseProjectorLook(const char* name) {
    for (int i = 0; i < 2; i++)
        if (std::strcmp(name, lookNames[i]) == 0) return i;
    return -1;
}

void placePicture(int32_t width, int32_t height, int fit, int look, AxisPlacement& x, AxisPlacement& y) {
    const int64_t w = width, h = height;
    if (look == LookSharp) {
        int64_t kx = 0, ky = 0;
        if (fit == FitStretch) {
            kx = w / ProjectorWidth;
            ky = h / ProjectorHeight;
        } else if (fit == FitFill) {
            const int64_t cx = (w + ProjectorWidth - 1) / ProjectorWidth;
            const int64_t cy = (h + ProjectorHeight - 1) / ProjectorHeight;
            kx = ky = cx > cy ? cx : cy;
        } else {
            const int64_t fx = w / ProjectorWidth, fy = h / ProjectorHeight;
            kx = ky = fx < fy ? fx : fy;
        }
        if (kx >= 1 && ky >= 1) {
            placeAxis(width, int32_t(kx * ProjectorWidth), x);
            placeAxis(height, int32_t(ky * ProjectorHeight), y);
            return;
        }
        // Smaller than the picture: no whole factor, nearest pixels to the fit's size.
    }
    const bool wide = w * 3 >= h * 4;
    if (fit == FitStretch) {
        placeAxis(width, width, x);
        placeAxis(height, height, y);
    } else if ((fit == FitFill) == wide) {
        placeAxis(width, width, x);
        placeAxis(height, int32_t((w * 3 + (fit == FitFill ? 3 : 0)) / 4), y);
    } else {
        placeAxis(width, int32_t((h * 4 + (fit == FitFill ? 2 : 0)) / 3), x);
        placeAxis(height, height, y);
    }
}

void ProjectorScaler::prepare(int32_t width, int32_t height, int fit, int look) {
    if (width == width_ && height == height_ && fit == fit_ && look == look_) return;
    width_ = width;
    height_ = height;
    fit_ = fit;
    look_ = look;
    AxisPlacement px, py;
    placePicture(width, height, fit, look, px, py);
    const bool smooth = look == LookSmooth;
    axisTables(px, width, ProjectorWidth, smooth, x0_, x1_, xIndex_, xWeight_);
    axisTables(py, height, ProjectorHeight, smooth, y0_, y1_, yIndex_, yWeight_);
    rowA_.assign(size_t(width), 0);
    rowB_.assign(size_t(width), 0);
    source_.assign(ProjectorWidth, 0);
}

void ProjectorScaler::stretchRow(const uint16_t* picture, int32_t sourceRow, uint32_t* line) {
    const uint16_t* src = picture + size_t(sourceRow) * ProjectorWidth;
    for (int i = 0; i < ProjectorWidth; i++) source_[size_t(i)] = widen(src[i]);
    const int32_t* xi = xIndex_.data();
    const uint16_t* xw = xWeight_.data();
    const size_t visible = size_t(x1_ - x0_);
    for (size_t x = 0; x < visible; x++) {
        const int32_t i = xi[x];
        const int32_t j = i + 1 < ProjectorWidth ? i + 1 : i;
        line[x] = lerp(source_[size_t(i)], source_[size_t(j)], xw[x]);
    }
}

void ProjectorScaler::scale(const uint16_t* picture, uint32_t* out, int32_t width, int32_t height, int32_t pitch,
                            int fit, int look, PixelShifts shifts) {
    if (width < 1 || height < 1) return;
    prepare(width, height, fit, look);
    const size_t visible = size_t(x1_ - x0_);
    int32_t rowInA = -1, rowInB = -1;  // the source rows rowA_ and rowB_ hold (smooth)
    const uint32_t* previous = nullptr;
    int32_t previousSource = -1;
    for (int32_t y = 0; y < height; y++) {
        uint32_t* row = out + size_t(y) * size_t(pitch);
        if (y < y0_ || y >= y1_) {
            std::memset(row, 0, size_t(width) * 4);
            continue;
        }
        std::memset(row, 0, size_t(x0_) * 4);
        std::memset(row + x1_, 0, size_t(width - x1_) * 4);
        const int32_t sy = yIndex_[size_t(y - y0_)];
        uint32_t* dst = row + x0_;
        if (look_ != LookSmooth) {
            // Whole factors repeat each source row: the row drawn last is copied.
            if (sy == previousSource) {
                std::memcpy(dst, previous, visible * 4);
                continue;
            }
            const uint16_t* src = picture + size_t(sy) * ProjectorWidth;
            for (int i = 0; i < ProjectorWidth; i++) source_[size_t(i)] = widen(src[i]);
            const int32_t* xi = xIndex_.data();
            for (size_t x = 0; x < visible; x++) dst[x] = source_[size_t(xi[x])];
        } else {
            // Horizontal first, once per source row in use, then two rows mixed per output row.
            const int32_t sy1 = sy + 1 < ProjectorHeight ? sy + 1 : sy;
            if (rowInB == sy) {
                rowA_.swap(rowB_);
                std::swap(rowInA, rowInB);
            }
            if (rowInA != sy) stretchRow(picture, sy, rowA_.data());
            if (rowInB != sy1) stretchRow(picture, sy1, rowB_.data());
            rowInA = sy;
            rowInB = sy1;
            const uint32_t w = yWeight_[size_t(y - y0_)];
            const uint32_t* a = rowA_.data();
            const uint32_t* b = rowB_.data();
            if (w == 0) std::memcpy(dst, a, visible * 4);
            else
                for (size_t x = 0; x < visible; x++) dst[x] = lerp(a[x], b[x], w);
        }
        previous = dst;
        previousSource = sy;
        if (shifts.red != 16 || shifts.green != 8 || shifts.blue != 0) {
            for (size_t x = 0; x < visible; x++) {
                const uint32_t p = dst[x];
                dst[x] = ((p >> 16 & 255) << shifts.red) | ((p >> 8 & 255) << shifts.green) | ((p & 255) << shifts.blue);
            }
        }
    }
}
