// loopmixer-clip: inspect, decode and picture clips with the program's own loader and decoders,
// and write the bundled demo clips.
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/FrameBuffers.h"
#include "core/Version.h"
#include "tools/clip/DemoClips.h"
#include "tracks/Track.h"

namespace {

int usage(FILE* to = stderr) {
    std::fprintf(to,
                 "usage: loopmixer-clip info CLIP\n"
                 "       loopmixer-clip decode CLIP OUT [--alpha ALPHAOUT]\n"
                 "       loopmixer-clip png CLIP FRAME OUT.png\n"
                 "       loopmixer-clip sheet CLIP OUT.png\n"
                 "       loopmixer-clip demo DIR [--playlists FILE]\n"
                 "Inspects, decodes and pictures clips (.q17, .q18) with the instrument's own loader.\n"
                 "  info     the clip's header: format, alpha, size, frames, entries, RAM estimate\n"
                 "  decode   every frame as raw RGB565 (and the alpha plane)\n"
                 "  png      one frame as a PNG picture\n"
                 "  sheet    a contact sheet of the clip's frames\n"
                 "  demo     write the bundled demo clips (and a playlists file)\n"
                 "  --help, --version\n");
    return to == stdout ? 0 : 2;
}

// The loader talks to standard output (its own lines and the log stream); the tool's output must
// stay clean, so loading runs with standard output sent to /dev/null.
class QuietStdout {
public:
    QuietStdout() {
        std::cout.flush();
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            ::close(null);
        }
    }
    ~QuietStdout() {
        std::cout.flush();
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, 1);
            ::close(saved);
        }
    }

private:
    int saved = -1;
};

// Loads path into t as the program does; false with the reason on stderr.
bool load(Track& t, const std::string& path) {
    bool ok;
    {
        QuietStdout quiet;
        t.assign(".", "");
        t.path = path;
        int r = 1;
        while (r == 1) r = t.loadStep(800);
        ok = r == 2;
    }
    if (!ok) {
        std::string why = t.loadError;
        if (why.empty()) why = "cannot be opened";
        std::fprintf(stderr, "loopmixer-clip: %s: %s\n", path.c_str(), why.c_str());
    }
    return ok;
}

uint8_t expand5(int v) { return uint8_t(v << 3 | v >> 2); }
uint8_t expand6(int v) { return uint8_t(v << 2 | v >> 4); }

// Writes an RGBA picture; false on failure.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) png_write_row(png, rgba.data() + size_t(y) * width * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// Deck 1's decoded frame as RGBA; alpha from the alpha plane for clips that carry it.
void frameRgba(const Track& t, std::vector<uint8_t>& rgba) {
    rgba.resize(size_t(FramePixels) * 4);
    const uint16_t* px = deckFrames + FramePixels;
    for (int i = 0; i < FramePixels; i++) {
        uint16_t p = px[i];
        rgba[4 * i] = expand5(p >> 11);
        rgba[4 * i + 1] = expand6((p >> 5) & 63);
        rgba[4 * i + 2] = expand5(p & 31);
        rgba[4 * i + 3] = t.hasAlpha ? uint8_t(alphaPlane[i] * 17) : 255;
    }
}

int info(const std::string& path) {
    auto t = std::make_unique<Track>();
    std::string why;
    int32_t estimate = Track::probeQuietly(path, &why);
    if (!estimate || !load(*t, path)) {
        if (!estimate) std::fprintf(stderr, "loopmixer-clip: %s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    std::printf("format: %d\nhasAlpha: %d\nwidth: %d\nheight: %d\nframes: %d\nentries: %d\nestimate: %d\n", t->format,
                t->hasAlpha, t->width, t->height, t->frameCount, t->entryCount, estimate);
    std::printf("timelineUnits: %u (used %d)\n", t->timelineUnits, t->timelineFill);
    std::printf("dictionaryUnits: %u (bytes used %d)\n", t->dictionaryUnits, t->dictionaryFill);
    if (t->format == 18) {
        std::printf("classCounts:");
        for (int c = 0; c < (t->hasAlpha + 1) * 8; c++) std::printf(" %d", t->classCounts[c]);
        std::printf("\n");
    }
    int segmented = 0;
    const uint16_t* u = t->timeline;
    for (int b = 0; b < 1200; b++) {
        int n = *u & 0xFF;
        segmented += n > 0;
        u += n ? 1 + (n + 1) / 2 + n : 1 + t->frameCount;
    }
    std::printf("blocks with segments: %d of 1200\n", segmented);
    t->releaseBuffers();
    return 0;
}

int decode(const std::string& path, const std::string& out, const std::string& alphaOut) {
    auto t = std::make_unique<Track>();
    if (!load(*t, path)) return 1;
    FILE* f = std::fopen(out.c_str(), "wb");
    FILE* a = alphaOut.empty() ? nullptr : std::fopen(alphaOut.c_str(), "wb");
    if (!f || (!alphaOut.empty() && !a)) {
        std::fprintf(stderr, "loopmixer-clip: cannot write %s\n", !f ? out.c_str() : alphaOut.c_str());
        if (f) std::fclose(f);
        if (a) std::fclose(a);
        return 1;
    }
    std::vector<uint8_t> bytes(FrameBytes);
    bool ok = true;
    for (int p = 0; p < t->frameCount; p++) {
        t->decodeFrame(1, p, 3);
        const uint16_t* px = deckFrames + FramePixels;
        for (int i = 0; i < FramePixels; i++) {  // little-endian whatever the host
            bytes[2 * i] = uint8_t(px[i]);
            bytes[2 * i + 1] = uint8_t(px[i] >> 8);
        }
        ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (a) ok = ok && std::fwrite(alphaPlane, 1, FramePixels, a) == size_t(FramePixels);
    }
    ok = (std::fclose(f) == 0) && ok;
    if (a) ok = (std::fclose(a) == 0) && ok;
    t->releaseBuffers();
    if (!ok) std::fprintf(stderr, "loopmixer-clip: cannot write the decoded frames\n");
    return ok ? 0 : 1;
}

int picture(const std::string& path, int frame, const std::string& out) {
    auto t = std::make_unique<Track>();
    if (!load(*t, path)) return 1;
    if (frame < 0 || frame >= t->frameCount) {
        std::fprintf(stderr, "loopmixer-clip: %s has frames 0 to %d\n", path.c_str(), t->frameCount - 1);
        return 1;
    }
    // Decoding only redraws what changed, so every frame up to the wanted one is decoded.
    for (int p = 0; p <= frame; p++) t->decodeFrame(1, p, 3);
    std::vector<uint8_t> rgba;
    frameRgba(*t, rgba);
    t->releaseBuffers();
    if (!writePng(out, FrameWidth, FrameHeight, rgba)) {
        std::fprintf(stderr, "loopmixer-clip: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

int sheet(const std::string& path, const std::string& out) {
    auto t = std::make_unique<Track>();
    if (!load(*t, path)) return 1;
    const int tw = 80, th = 60, columns = 8, rows = (t->frameCount + columns - 1) / columns;
    const int width = columns * tw, height = rows * th;
    std::vector<uint8_t> sheetRgba(size_t(width) * height * 4, 0);
    std::vector<uint8_t> rgba;
    for (int p = 0; p < t->frameCount; p++) {
        t->decodeFrame(1, p, 3);
        frameRgba(*t, rgba);
        for (size_t i = 0; i < rgba.size(); i += 4) {  // shown over black, as the mixer shows it
            for (int ch = 0; ch < 3; ch++) rgba[i + ch] = uint8_t(rgba[i + ch] * rgba[i + 3] / 255);
            rgba[i + 3] = 255;
        }
        int ox = (p % columns) * tw, oy = (p / columns) * th;
        for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++)
                for (int ch = 0; ch < 4; ch++) {  // the mean of each 4x4 square
                    int sum = 0;
                    for (int dy = 0; dy < 4; dy++)
                        for (int dx = 0; dx < 4; dx++) sum += rgba[((4 * y + dy) * 320 + 4 * x + dx) * 4 + ch];
                    sheetRgba[(size_t(oy + y) * width + ox + x) * 4 + ch] = uint8_t(sum / 16);
                }
    }
    t->releaseBuffers();
    if (!writePng(out, width, height, sheetRgba)) {
        std::fprintf(stderr, "loopmixer-clip: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

int demo(const std::string& dir, const std::string& playlists) {
    for (const clipwriter::DemoClip& d : clipwriter::demoClips()) {
        clipwriter::ClipFile clip;
        std::string why;
        if (!clipwriter::encodeLossless(d.draw(), clip, &why) || !clip.writeFile(dir + "/" + d.name, &why)) {
            std::fprintf(stderr, "loopmixer-clip: %s: %s\n", d.name.c_str(), why.c_str());
            return 1;
        }
        std::printf("%s/%s: %zu entries\n", dir.c_str(), d.name.c_str(), clip.entries.size());
    }
    if (!playlists.empty()) {
        std::string xml = clipwriter::demoPlaylistsXml();
        FILE* f = std::fopen(playlists.c_str(), "wb");
        bool ok = f && std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
        if (f) ok = std::fclose(f) == 0 && ok;
        if (!ok) {
            std::fprintf(stderr, "loopmixer-clip: cannot write %s\n", playlists.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h") return usage(stdout);
    if (cmd == "--version") {
        std::printf("loopmixer-clip %s\n", programVersion());
        return 0;
    }
    if (cmd == "demo" && (args.size() == 2 || (args.size() == 4 && args[2] == "--playlists")))
        return demo(args[1], args.size() == 4 ? args[3] : "");
    allocateFrameBuffers();
    if (cmd == "info" && args.size() == 2) return info(args[1]);
    if (cmd == "decode" && args.size() == 3) return decode(args[1], args[2], "");
    if (cmd == "decode" && args.size() == 5 && args[3] == "--alpha") return decode(args[1], args[2], args[4]);
    if (cmd == "png" && args.size() == 4) {
        char* end = nullptr;
        long frame = std::strtol(args[2].c_str(), &end, 10);
        if (!end || *end || args[2].empty()) return usage();
        return picture(args[1], int(frame), args[3]);
    }
    if (cmd == "sheet" && args.size() == 3) return sheet(args[1], args[2]);
    return usage();
}
