#include "tools/clip/LosslessEncoder.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace clipwriter {

SourceClip::SourceClip(uint8_t format_, uint8_t hasAlpha_, uint16_t frameCount_)
    : format(format_), hasAlpha(hasAlpha_), frameCount(frameCount_) {
    pixels.assign(size_t(frameCount_) * 76800, 0);
    if (hasAlpha_) alpha.assign(size_t(frameCount_) * 76800, 15);
}

namespace {

struct Choice {
    int32_t entry = -1;    // index into the unique entries; -1: no entry (Format18 flat fills)
    uint16_t literal = 0;  // the id of a Format18 flat fill
    uint8_t mode = 0;
};

class BlockCoder {
public:
    BlockCoder(const SourceClip& s) : src(s) {
        std::fill(index, index + 65536, -1);
        for (int i = 255; i >= 0; i--) index[s.palette[i]] = int16_t(i);
    }

    // The smallest encoding of one block: an entry (and the fill mode it needs) or a flat fill.
    Choice choose(const uint16_t px[64], const uint8_t al[64], ClipEntry& best) {
        bool flatColour = std::all_of(px, px + 64, [&](uint16_t c) { return c == px[0]; });
        bool flatAlpha = std::all_of(al, al + 64, [&](uint8_t a) { return a == al[0]; });
        Choice c;
        if (src.format == 18 && flatColour && flatAlpha && al[0] == 15) {
            c.literal = px[0];
            c.mode = 0;
            return c;
        }
        if (src.format == 18 && flatColour && flatAlpha && al[0] == 0 && px[0] == 0) {
            c.mode = 7;
            return c;
        }
        EntryAlpha a = !src.hasAlpha ? noAlpha() : flatAlpha ? uniformAlpha(al[0]) : alphaValues(al);
        bool allPalette = std::all_of(px, px + 64, [&](uint16_t v) { return index[v] >= 0; });
        best = ClipEntry();
        int bestMode = 0;
        auto consider = [&](const ClipEntry& e, int mode) {
            if (!e.bytes.empty() && (best.bytes.empty() || e.bytes.size() < best.bytes.size())) {
                best = e;
                bestMode = mode;
            }
        };
        if (src.format == 17) {
            if (flatColour)
                consider(index[px[0]] >= 0 ? encode17Index(uint8_t(index[px[0]]), a) : encode17Colour(px[0], a), 0);
            if (allPalette) {
                uint8_t idx[64];
                for (int i = 0; i < 64; i++) idx[i] = uint8_t(index[px[i]]);
                consider(encode17Indices(idx, a), 0);
            } else {
                consider(encode17Pixels(px, a), 0);
            }
        } else {
            if (allPalette) {
                uint8_t idx[64];
                for (int i = 0; i < 64; i++) idx[i] = uint8_t(index[px[i]]);
                consider(encode18Indices(idx, a), 1);
            } else {
                consider(encode18Pixels(px, a), 1);
            }
        }
        for (int mode = 0; mode < 6; mode++)
            for (int variant = 0; variant < 2; variant++) {
                std::vector<Run> narrow = withPalette(runsAlong(px, mode, variant, 8), false);
                std::vector<Run> wide = withPalette(runsAlong(px, mode, variant, 16), true);
                if (src.format == 17) {
                    consider(encode17Runs(variant, narrow, a), mode);
                    if (!wide.empty()) consider(encode17Runs(2 + variant, wide, a), mode);
                } else {
                    consider(encode18Narrow(variant, narrow, a), mode + 1);
                    if (!wide.empty()) consider(encode18Wide(variant, wide, a), mode + 1);
                    std::vector<Run> four = runsAlong(px, mode, variant, 32);
                    if (four.size() <= 4) {
                        std::vector<Run> pal = withPalette(four, true);
                        consider(encode18FourRuns(variant, pal.empty() ? four : pal, a), mode + 1);
                    }
                }
            }
        c.mode = uint8_t(bestMode);
        c.entry = 0;  // set by the caller from best
        return c;
    }

private:
    // Runs with palette indices where the palette has the colour; with all set, empty unless
    // every colour is in the palette.
    std::vector<Run> withPalette(std::vector<Run> runs, bool all) const {
        for (Run& r : runs) {
            if (index[r.colour] >= 0) {
                r.colour = uint16_t(index[r.colour]);
                r.palette = true;
            } else if (all) {
                return {};
            }
        }
        return runs;
    }

    const SourceClip& src;
    int16_t index[65536];
};

}  // namespace

bool encodeLossless(const SourceClip& src, ClipFile& out, std::string* why) {
    out = ClipFile(src.format, src.hasAlpha, src.frameCount);
    std::copy(src.palette, src.palette + 256, out.palette);
    auto coder = std::make_unique<BlockCoder>(src);
    std::vector<ClipEntry> unique;
    std::unordered_map<std::string, int32_t> seen;
    std::vector<Choice> choices(size_t(src.frameCount) * BlockCount);
    uint8_t noAlphaValues[64];
    std::fill(noAlphaValues, noAlphaValues + 64, 15);
    for (int f = 0; f < src.frameCount; f++) {
        const uint16_t* frame = src.pixels.data() + size_t(f) * 76800;
        const uint8_t* alpha = src.hasAlpha ? src.alpha.data() + size_t(f) * 76800 : nullptr;
        for (int b = 0; b < BlockCount; b++) {
            uint16_t px[64];
            uint8_t al[64];
            int x0 = (b % 40) * 8, y0 = (b / 40) * 8;
            for (int i = 0; i < 64; i++) {
                size_t at = size_t(y0 + i / 8) * 320 + x0 + i % 8;
                px[i] = frame[at];
                al[i] = alpha ? alpha[at] & 15 : 15;
            }
            ClipEntry e;
            Choice c = coder->choose(px, alpha ? al : noAlphaValues, e);
            if (c.entry >= 0) {
                std::string key(1, char(e.cls));
                key.append(e.bytes.begin(), e.bytes.end());
                auto it = seen.find(key);
                if (it == seen.end()) {
                    it = seen.emplace(key, int32_t(unique.size())).first;
                    unique.push_back(e);
                }
                c.entry = it->second;
            }
            choices[size_t(f) * BlockCount + b] = c;
        }
    }
    if (unique.size() > 65535) {
        if (why) *why = "more than 65535 distinct blocks";
        return false;
    }
    // Format18 keeps its dictionary in class order; the first seen entry of a class comes first.
    std::vector<int32_t> order(unique.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = int32_t(i);
    if (src.format == 18)
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return unique[a].cls < unique[b].cls; });
    std::vector<uint16_t> idOf(unique.size());
    for (size_t i = 0; i < order.size(); i++) {
        idOf[order[i]] = uint16_t(i);
        out.entries.push_back(unique[order[i]]);
    }
    for (int b = 0; b < BlockCount; b++) {
        std::vector<uint16_t> ids(src.frameCount);
        for (int f = 0; f < src.frameCount; f++) {
            const Choice& c = choices[size_t(f) * BlockCount + b];
            ids[f] = c.entry >= 0 ? idOf[c.entry] : c.literal;
            out.setMode(f, b, c.mode);
        }
        out.setIds(b, ids);
    }
    std::string problem;
    if (out.serialise(&problem).empty()) {
        if (why) *why = problem;
        return false;
    }
    return true;
}

}  // namespace clipwriter
