// A small painting surface for the picture generator: anti-aliased shapes by supersampling,
// text rendered with FreeType from the instrument's own font, and PNG output.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Colour {
    float r = 0, g = 0, b = 0, a = 1;
};

// 0xRRGGBB, fully opaque.
Colour rgb(uint32_t hex);
Colour mix(Colour a, Colour b, float t);  // t = 0 gives a, 1 gives b
Colour shade(Colour c, float factor);     // factor < 1 darkens, > 1 lightens toward white

class Font;

class Canvas {
public:
    Canvas(int width, int height, Colour background);

    int width() const { return w; }
    int height() const { return h; }
    Colour at(int x, int y) const { return px[y * w + x]; }

    using Inside = std::function<bool(float x, float y)>;
    using Paint = std::function<Colour(float x, float y)>;

    // Covers the pixels of the box (x0, y0)-(x1, y1) (exclusive) with paint wherever the shape
    // holds; edges get partial coverage from a 4x4 grid of samples per pixel.
    void fill(int x0, int y0, int x1, int y1, const Inside& inside, const Paint& paint);
    void fill(int x0, int y0, int x1, int y1, const Inside& inside, Colour c);

    void rect(int x, int y, int rw, int rh, Colour c);
    void roundRect(float x, float y, float rw, float rh, float radius, const Paint& paint);
    void roundRect(float x, float y, float rw, float rh, float radius, Colour c);
    void disc(float cx, float cy, float radius, const Paint& paint);
    void disc(float cx, float cy, float radius, Colour c);
    void ring(float cx, float cy, float radius, float thickness, Colour c);
    void line(float ax, float ay, float bx, float by, float thickness, Colour c);
    void triangle(float ax, float ay, float bx, float by, float cx, float cy, Colour c);

    // Draws text with its top-left at (x, y) (y is the top of the capitals); returns the width.
    int text(Font& font, float x, float y, const std::string& s, const Paint& paint);
    int text(Font& font, float x, float y, const std::string& s, Colour c);
    void textCentred(Font& font, float cx, float y, const std::string& s, Colour c);

    // Blends colour c over pixel (x, y) with the given coverage (0..1).
    void blend(int x, int y, Colour c, float coverage);

    bool writePng(const std::string& path, bool withAlpha) const;

private:
    int w, h;
    std::vector<Colour> px;
};

class Font {
public:
    Font(const std::string& path, int pixelSize, bool crisp);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    bool ok() const { return face != nullptr; }
    int width(const std::string& s);
    int capHeight() const { return caps; }

    // Calls put(x, y, coverage) for every covered pixel of s with the capitals' top-left at
    // (0, 0); returns the advance width.
    int render(const std::string& s, const std::function<void(int, int, float)>& put);

private:
    void* library = nullptr;
    void* face = nullptr;
    bool mono;
    int caps = 0;
};
