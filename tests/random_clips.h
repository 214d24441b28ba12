// Random clips for the decoder tests: every entry form of each format, very short and very long
// runs, alpha in every shape, all fill modes, every record shape (one id per frame, one long
// segment, many short ones) and, in Format18, literal colours beyond the dictionary.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "tools/clip/ClipWriter.h"

namespace clipwriter {

struct ClipMaker {
    std::mt19937 rng;
    explicit ClipMaker(unsigned seed) : rng(seed) {}
    int below(int n) { return int(rng() % unsigned(n)); }

    std::vector<Run> runs(int maxLength, bool palette, bool mixed) {
        std::vector<Run> out;
        // Some entries of very short runs: up to 64 runs, 32 run bytes.
        if (below(4) == 0) maxLength = 1 + below(2);
        for (int total = 0; total < 64;) {
            int l = 1 + below(std::min(maxLength, 64 - total));
            bool pal = mixed ? below(2) == 0 : palette;
            out.push_back({uint8_t(l), uint16_t(pal ? below(256) : rng() & 0xFFFF), pal});
            total += l;
        }
        return out;
    }
    std::vector<Run> fourRuns(bool pal) {
        int count = 2 + below(3);
        std::vector<int> len;
        if (count == 2) len = {32, 32};
        else if (count == 3) {
            int a = 1 + below(31), b = 64 - a - 32 + below(a);  // a + b < 64, c = 64 - a - b <= 32
            len = {a, b, 64 - a - b};
        } else {
            int a = 1 + below(32), b = 1 + below(32), c = std::max(1, 32 - a - b) + below(8);
            if (a + b + c >= 64) c = 63 - a - b;
            if (c < 1 || a + b >= 63) return fourRuns(pal);
            len = {a, b, c, 64 - a - b - c};
        }
        std::vector<Run> out;
        for (int l : len) out.push_back({uint8_t(l), uint16_t(pal ? below(256) : rng() & 0xFFFF), pal});
        return out;
    }
    EntryAlpha alpha(uint8_t format, bool hasAlpha) {
        int kind = below(3);
        // Format17 entries may carry a uniform alpha in a clip without alpha; it costs no byte.
        if (!hasAlpha) return kind == 0 && format == 17 ? uniformAlpha(uint8_t(below(16))) : noAlpha();
        if (kind == 0) return uniformAlpha(uint8_t(below(16)));
        uint8_t v[64];
        uint8_t level = uint8_t(below(16));
        for (int i = 0; i < 64; i++) v[i] = below(6) == 0 ? (level = uint8_t(below(16))) : level;
        return alphaValues(v);
    }
    ClipEntry entry(uint8_t format, bool hasAlpha) {
        uint16_t px[64];
        uint8_t idx[64];
        for (int i = 0; i < 64; i++) px[i] = uint16_t(rng()), idx[i] = uint8_t(rng());
        EntryAlpha a = alpha(format, hasAlpha);
        int kind = below(8);
        if (format == 17) {
            switch (kind) {
            case 0: case 1: return encode17Runs(kind, runs(8, false, true), a);
            case 2: case 3: return encode17Runs(kind, runs(16, true, false), a);
            case 4: return encode17Colour(uint16_t(rng()), a);
            case 5: return encode17Index(idx[0], a);
            case 6: return encode17Pixels(px, a);
            default: return encode17Indices(idx, a);
            }
        }
        switch (kind) {
        case 0: return encode18Pixels(px, a);
        case 1: return encode18Indices(idx, a);
        case 2: case 3: return encode18FourRuns(kind & 1, fourRuns(below(2)), a);
        // Narrow runs of mixed colour kinds, or of palette colours only (drawn by a path of their own).
        case 4: case 5: return encode18Narrow(kind & 1, runs(8, true, below(2) == 0), a);
        default: return encode18Wide(kind & 1, runs(16, true, false), a);
        }
    }

    ClipFile clip(uint8_t format, uint8_t hasAlpha, uint16_t frames) {
        ClipFile c(format, hasAlpha, frames);
        for (int i = 0; i < 256; i++) c.palette[i] = uint16_t(rng());
        std::vector<ClipEntry> entries;
        int count = 40 + below(200);
        for (int i = 0; i < count; i++) entries.push_back(entry(format, hasAlpha));
        std::stable_sort(entries.begin(), entries.end(), [](const ClipEntry& a, const ClipEntry& b) { return a.cls < b.cls; });
        for (auto& e : entries) {
            EXPECT_FALSE(e.bytes.empty());
            c.addEntry(e);
        }
        // Literal colours at and beyond entryCount are Format18's; Format17 ids stay in the dictionary.
        auto id = [&] { return uint16_t(format == 18 && below(4) == 0 ? count + below(4000) : below(count)); };
        for (int b = 0; b < BlockCount; b++) {
            int shape = below(10);
            if (shape < 2) {  // one id per frame
                std::vector<uint16_t> ids;
                for (int f = 0; f < frames; f++) ids.push_back(f > 0 && below(3) ? ids.back() : id());
                c.setPerFrame(b, ids);
            } else {  // segments, from one long segment to many short ones
                std::vector<std::pair<int, uint16_t>> segs;
                int longest = shape < 5 ? frames : 1 + below(6);
                for (int left = frames; left > 0;) {
                    int n = 1 + below(std::min(left, longest));
                    segs.push_back({n, id()});
                    left -= n;
                }
                c.setSegments(b, segs);
            }
        }
        for (int f = 0; f < frames; f++)
            for (int b = 0; b < BlockCount; b++) c.setMode(f, b, f > 0 && below(5) ? c.modes[size_t(f - 1) * BlockCount + b] : below(8));
        return c;
    }
};

}  // namespace clipwriter
