#include "Canvas.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

Colour rgb(uint32_t hex) {
    return Colour{((hex >> 16) & 255) / 255.0f, ((hex >> 8) & 255) / 255.0f, (hex & 255) / 255.0f, 1};
}

Colour mix(Colour a, Colour b, float t) {
    return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Colour shade(Colour c, float factor) {
    if (factor <= 1) return Colour{c.r * factor, c.g * factor, c.b * factor, c.a};
    return mix(c, Colour{1, 1, 1, c.a}, std::min(1.0f, factor - 1));
}

Canvas::Canvas(int width, int height, Colour background)
    : w(width), h(height), px(static_cast<size_t>(width) * height, background) {}

void Canvas::blend(int x, int y, Colour c, float coverage) {
    if (x < 0 || y < 0 || x >= w || y >= h || coverage <= 0) return;
    Colour& d = px[y * w + x];
    float sa = c.a * std::min(1.0f, coverage);
    float oa = sa + d.a * (1 - sa);
    if (oa <= 0) return;
    // Straight (not premultiplied) colours: weight the destination by its own alpha so that
    // shapes drawn on a transparent atlas keep their colour at soft edges.
    d.r = (c.r * sa + d.r * d.a * (1 - sa)) / oa;
    d.g = (c.g * sa + d.g * d.a * (1 - sa)) / oa;
    d.b = (c.b * sa + d.b * d.a * (1 - sa)) / oa;
    d.a = oa;
}

void Canvas::fill(int x0, int y0, int x1, int y1, const Inside& inside, const Paint& paint) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, w);
    y1 = std::min(y1, h);
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            int hits = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++)
                    if (inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4)) hits++;
            if (hits) blend(x, y, paint(x + 0.5f, y + 0.5f), hits / 16.0f);
        }
}

void Canvas::fill(int x0, int y0, int x1, int y1, const Inside& inside, Colour c) {
    fill(x0, y0, x1, y1, inside, [c](float, float) { return c; });
}

void Canvas::rect(int x, int y, int rw, int rh, Colour c) {
    for (int j = y; j < y + rh; j++)
        for (int i = x; i < x + rw; i++) blend(i, j, c, 1);
}

void Canvas::roundRect(float x, float y, float rw, float rh, float radius, const Paint& paint) {
    auto inside = [=](float px_, float py_) {
        float dx = std::max({x + radius - px_, 0.0f, px_ - (x + rw - radius)});
        float dy = std::max({y + radius - py_, 0.0f, py_ - (y + rh - radius)});
        return px_ >= x && px_ <= x + rw && py_ >= y && py_ <= y + rh && dx * dx + dy * dy <= radius * radius;
    };
    fill(int(std::floor(x)), int(std::floor(y)), int(std::ceil(x + rw)), int(std::ceil(y + rh)), inside, paint);
}

void Canvas::roundRect(float x, float y, float rw, float rh, float radius, Colour c) {
    roundRect(x, y, rw, rh, radius, [c](float, float) { return c; });
}

void Canvas::disc(float cx, float cy, float radius, const Paint& paint) {
    auto inside = [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius; };
    fill(int(cx - radius - 1), int(cy - radius - 1), int(cx + radius + 2), int(cy + radius + 2), inside, paint);
}

void Canvas::disc(float cx, float cy, float radius, Colour c) {
    disc(cx, cy, radius, [c](float, float) { return c; });
}

void Canvas::ring(float cx, float cy, float radius, float thickness, Colour c) {
    float inner = radius - thickness / 2, outer = radius + thickness / 2;
    auto inside = [=](float x, float y) {
        float d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        return d2 >= inner * inner && d2 <= outer * outer;
    };
    fill(int(cx - outer - 1), int(cy - outer - 1), int(cx + outer + 2), int(cy + outer + 2), inside, c);
}

void Canvas::line(float ax, float ay, float bx, float by, float thickness, Colour c) {
    float r = thickness / 2, dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    auto inside = [=](float x, float y) {
        float t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0f, 1.0f) : 0;
        float ex = ax + t * dx - x, ey = ay + t * dy - y;
        return ex * ex + ey * ey <= r * r;
    };
    fill(int(std::min(ax, bx) - r - 1), int(std::min(ay, by) - r - 1), int(std::max(ax, bx) + r + 2),
         int(std::max(ay, by) + r + 2), inside, c);
}

void Canvas::triangle(float ax, float ay, float bx, float by, float cx, float cy, Colour c) {
    auto side = [](float px_, float py_, float qx, float qy, float x, float y) {
        return (qx - px_) * (y - py_) - (qy - py_) * (x - px_);
    };
    auto inside = [=](float x, float y) {
        float d1 = side(ax, ay, bx, by, x, y), d2 = side(bx, by, cx, cy, x, y), d3 = side(cx, cy, ax, ay, x, y);
        return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
    };
    fill(int(std::min({ax, bx, cx})) - 1, int(std::min({ay, by, cy})) - 1, int(std::max({ax, bx, cx})) + 2,
         int(std::max({ay, by, cy})) + 2, inside, c);
}

int Canvas::text(Font& font, float x, float y, const std::string& s, const Paint& paint) {
    int ox = int(std::lround(x)), oy = int(std::lround(y));
    return font.render(s, [&](int gx, int gy, float coverage) {
        blend(ox + gx, oy + gy, paint(ox + gx + 0.5f, oy + gy + 0.5f), coverage);
    });
}

int Canvas::text(Font& font, float x, float y, const std::string& s, Colour c) {
    return text(font, x, y, s, [c](float, float) { return c; });
}

void Canvas::textCentred(Font& font, float cx, float y, const std::string& s, Colour c) {
    text(font, cx - font.width(s) / 2.0f, y, s, c);
}

bool Canvas::writePng(const std::string& path, bool withAlpha) const {
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
    int channels = withAlpha ? 4 : 3;
    png_set_IHDR(png, info, w, h, 8, withAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(static_cast<size_t>(w) * channels);
    auto byte = [](float v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            Colour c = px[y * w + x];
            // Transparent atlas pixels keep black colour, so a blit that ignores alpha still
            // shows a clean black corner.
            if (withAlpha && c.a <= 0) c = Colour{0, 0, 0, 0};
            unsigned char* p = &row[x * channels];
            p[0] = byte(c.r);
            p[1] = byte(c.g);
            p[2] = byte(c.b);
            if (withAlpha) p[3] = byte(c.a);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(f) == 0;
}

Font::Font(const std::string& path, int pixelSize, bool crisp) : mono(crisp) {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib)) return;
    library = lib;
    FT_Face f = nullptr;
    if (FT_New_Face(lib, path.c_str(), 0, &f) || FT_Set_Pixel_Sizes(f, 0, pixelSize)) {
        if (f) FT_Done_Face(f);
        return;
    }
    face = f;
    if (!FT_Load_Char(f, 'H', FT_LOAD_RENDER | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT)))
        caps = f->glyph->bitmap_top;
}

Font::~Font() {
    if (face) FT_Done_Face(static_cast<FT_Face>(face));
    if (library) FT_Done_FreeType(static_cast<FT_Library>(library));
}

int Font::width(const std::string& s) {
    return render(s, [](int, int, float) {});
}

int Font::render(const std::string& s, const std::function<void(int, int, float)>& put) {
    if (!face) return 0;
    FT_Face f = static_cast<FT_Face>(face);
    FT_Int32 flags = FT_LOAD_RENDER | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT);
    int pen = 0;
    FT_UInt previous = 0;
    for (unsigned char ch : s) {
        FT_UInt index = FT_Get_Char_Index(f, ch);
        if (previous && index && FT_HAS_KERNING(f)) {
            FT_Vector k;
            if (!FT_Get_Kerning(f, previous, index, FT_KERNING_DEFAULT, &k)) pen += int(k.x >> 6);
        }
        previous = index;
        if (FT_Load_Glyph(f, index, flags)) continue;
        FT_GlyphSlot g = f->glyph;
        const FT_Bitmap& bm = g->bitmap;
        for (unsigned row = 0; row < bm.rows; row++)
            for (unsigned col = 0; col < bm.width; col++) {
                const unsigned char* line = bm.buffer + static_cast<long>(row) * bm.pitch;
                float coverage = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((line[col >> 3] >> (7 - (col & 7))) & 1)
                                                                      : line[col] / 255.0f;
                if (coverage > 0) put(pen + g->bitmap_left + int(col), caps - g->bitmap_top + int(row), coverage);
            }
        pen += int((g->advance.x + 32) >> 6);
    }
    return pen;
}
