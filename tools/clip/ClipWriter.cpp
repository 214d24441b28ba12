#include "tools/clip/ClipWriter.h"

#include <cstdio>

namespace clipwriter {

EntryAlpha noAlpha() { return EntryAlpha(); }

EntryAlpha uniformAlpha(uint8_t value) {
    EntryAlpha a;
    a.kind = EntryAlpha::Uniform;
    a.uniform = uint8_t(value & 15);
    return a;
}

EntryAlpha alphaValues(const uint8_t v[64]) {
    EntryAlpha a;
    a.kind = EntryAlpha::Values;
    for (int i = 0; i < 64; i++) a.values[i] = uint8_t(v[i] & 15);
    return a;
}

void putU16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    if (at + 2 > bytes.size()) bytes.resize(at + 2);
    bytes[at] = uint8_t(v);
    bytes[at + 1] = uint8_t(v >> 8);
}

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    putU16(bytes, at, uint16_t(v));
    putU16(bytes, at + 2, uint16_t(v >> 16));
}

static void appendU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void scanOrder(int fillMode, int variant, uint8_t order[64]) {
    // Modes 4 and 5 are modes 2 and 3 with the meaning of the variant swapped.
    int m = fillMode >= 4 ? fillMode - 2 : fillMode;
    int columns = fillMode >= 4 ? !variant : variant;
    bool flipX = m & 1, flipY = m & 2;
    int i = 0;
    for (int outer = 0; outer < 8; outer++)
        for (int inner = 0; inner < 8; inner++) {
            int x = columns ? outer : inner;
            int y = columns ? inner : outer;
            if (flipX) x = 7 - x;
            if (flipY) y = 7 - y;
            order[i++] = uint8_t(y * 8 + x);
        }
}

std::vector<Run> runsAlong(const uint16_t pixels[64], int fillMode, int variant, int maxLength) {
    uint8_t order[64];
    scanOrder(fillMode, variant, order);
    std::vector<Run> runs;
    for (int i = 0; i < 64; i++) {
        uint16_t c = pixels[order[i]];
        if (!runs.empty() && runs.back().colour == c && runs.back().length < maxLength)
            runs.back().length++;
        else
            runs.push_back(Run{1, c, false});
    }
    return runs;
}

std::vector<uint8_t> alphaRuns(const uint8_t values[64]) {
    std::vector<uint8_t> out;
    int i = 0;
    while (i < 64) {
        int v = values[i] & 15, n = 1;
        while (i + n < 64 && n < 16 && (values[i + n] & 15) == v) n++;
        out.push_back(uint8_t((n - 1) << 4 | v));
        i += n;
    }
    return out;
}

static bool runsCover64(const std::vector<Run>& runs, int maxLength) {
    int total = 0;
    for (const Run& r : runs) {
        if (r.length < 1 || r.length > maxLength || total >= 64) return false;
        total += r.length;
    }
    return total == 64;
}

static bool paletteOnly(const std::vector<Run>& runs) {
    for (const Run& r : runs)
        if (!r.palette || r.colour > 255) return false;
    return true;
}

static void appendColour(std::vector<uint8_t>& out, const Run& r) {
    if (r.palette)
        out.push_back(uint8_t(r.colour));
    else
        appendU16(out, r.colour);
}

// --- Format17 -----------------------------------------------------------------------------------

static ClipEntry entry17(int type, const EntryAlpha& a, const std::vector<uint8_t>& payload) {
    ClipEntry e;
    uint8_t t = uint8_t(type);
    if (a.kind == EntryAlpha::Uniform) t |= uint8_t(8 | a.uniform << 4);
    e.bytes.push_back(t);
    e.bytes.insert(e.bytes.end(), payload.begin(), payload.end());
    if (a.kind == EntryAlpha::Values) {
        std::vector<uint8_t> ar = alphaRuns(a.values);
        e.bytes.insert(e.bytes.end(), ar.begin(), ar.end());
    }
    return e;
}

ClipEntry encode17Colour(uint16_t colour, const EntryAlpha& a) {
    return entry17(4, a, {uint8_t(colour), uint8_t(colour >> 8)});
}

ClipEntry encode17Index(uint8_t index, const EntryAlpha& a) { return entry17(5, a, {index}); }

ClipEntry encode17Pixels(const uint16_t pixels[64], const EntryAlpha& a) {
    std::vector<uint8_t> p;
    for (int i = 0; i < 64; i++) appendU16(p, pixels[i]);
    return entry17(6, a, p);
}

ClipEntry encode17Indices(const uint8_t indices[64], const EntryAlpha& a) {
    return entry17(7, a, std::vector<uint8_t>(indices, indices + 64));
}

ClipEntry encode17Runs(int type, const std::vector<Run>& runs, const EntryAlpha& a) {
    bool wide = type == 2 || type == 3;
    if (type < 0 || type > 3 || !runsCover64(runs, wide ? 16 : 8) || (wide && !paletteOnly(runs)))
        return ClipEntry();
    std::vector<uint8_t> p;
    for (size_t i = 0; i < runs.size(); i += 2) {
        const Run& first = runs[i];
        bool pair = i + 1 < runs.size();
        const Run& second = pair ? runs[i + 1] : runs[i];
        uint8_t r;
        if (wide)
            r = uint8_t((first.length - 1) << 4 | (pair ? second.length - 1 : 0));
        else
            r = uint8_t((first.length - 1) << 5 | (pair ? second.length - 1 : 0) << 2 |
                        first.palette << 1 | (pair && second.palette));
        p.push_back(r);
        appendColour(p, first);
        if (pair) appendColour(p, second);
    }
    return entry17(type, a, p);
}

// --- Format18 -----------------------------------------------------------------------------------

static ClipEntry entry18(int k, const EntryAlpha& a, const std::vector<uint8_t>& payload) {
    ClipEntry e;
    e.cls = uint8_t(k);
    e.bytes = payload;
    if (a.kind == EntryAlpha::Uniform && a.uniform != 15) {
        e.cls = uint8_t(k + 8);
        e.bytes.push_back(uint8_t(0x20 | a.uniform));
    } else if (a.kind == EntryAlpha::Values) {
        e.cls = uint8_t(k + 8);
        e.bytes.push_back(0);
        std::vector<uint8_t> ar = alphaRuns(a.values);
        e.bytes.insert(e.bytes.end(), ar.begin(), ar.end());
    }
    return e;
}

ClipEntry encode18Pixels(const uint16_t pixels[64], const EntryAlpha& a) {
    std::vector<uint8_t> p;
    for (int i = 0; i < 64; i++) appendU16(p, pixels[i]);
    return entry18(0, a, p);
}

ClipEntry encode18Indices(const uint8_t indices[64], const EntryAlpha& a) {
    return entry18(1, a, std::vector<uint8_t>(indices, indices + 64));
}

ClipEntry encode18FourRuns(int variant, const std::vector<Run>& runs, const EntryAlpha& a) {
    if (runs.size() < 2 || runs.size() > 4 || !runsCover64(runs, 32)) return ClipEntry();
    bool pal = runs[0].palette;
    for (const Run& r : runs)
        if (r.palette != pal || (pal && r.colour > 255)) return ClipEntry();
    // Run 3 is always "the rest": it only exists when the first three runs leave 1..32 pixels.
    int l2 = runs.size() >= 3 ? runs[2].length : 1;
    uint16_t h = uint16_t((runs[0].length - 1) | (runs[1].length - 1) << 5 | (l2 - 1) << 10 |
                          (pal ? 0x8000 : 0));
    std::vector<uint8_t> p;
    appendU16(p, h);
    for (const Run& r : runs) appendColour(p, r);
    return entry18(2 + (variant & 1), a, p);
}

ClipEntry encode18Narrow(int variant, const std::vector<Run>& runs, const EntryAlpha& a) {
    if (!runsCover64(runs, 8)) return ClipEntry();
    std::vector<uint8_t> p;
    for (size_t i = 0; i < runs.size(); i += 2) {
        bool pair = i + 1 < runs.size();
        p.push_back(uint8_t((runs[i].length - 1) << 5 | (pair ? runs[i + 1].length - 1 : 0) << 2 |
                            runs[i].palette << 1 | (pair && runs[i + 1].palette)));
    }
    for (const Run& r : runs) appendColour(p, r);
    return entry18(4 + (variant & 1), a, p);
}

ClipEntry encode18Wide(int variant, const std::vector<Run>& runs, const EntryAlpha& a) {
    if (!runsCover64(runs, 16) || !paletteOnly(runs)) return ClipEntry();
    std::vector<uint8_t> p;
    for (size_t i = 0; i < runs.size(); i += 2) {
        bool pair = i + 1 < runs.size();
        p.push_back(uint8_t((runs[i].length - 1) << 4 | (pair ? runs[i + 1].length - 1 : 0)));
    }
    for (const Run& r : runs) p.push_back(uint8_t(r.colour));
    return entry18(6 + (variant & 1), a, p);
}

// --- The clip -----------------------------------------------------------------------------------

ClipFile::ClipFile(uint8_t format_, uint8_t hasAlpha_, uint16_t frameCount_)
    : format(format_), hasAlpha(hasAlpha_), frameCount(frameCount_) {
    blocks.assign(BlockCount, BlockRecord{{frameCount_}, {0}});
    modes.assign(size_t(frameCount_) * BlockCount, 0);
}

uint16_t ClipFile::addEntry(const ClipEntry& e) {
    entries.push_back(e);
    return uint16_t(entries.size() - 1);
}

uint16_t ClipFile::addSharedEntry(const ClipEntry& e) {
    for (size_t i = 0; i < entries.size(); i++)
        if (entries[i].cls == e.cls && entries[i].bytes == e.bytes) return uint16_t(i);
    return addEntry(e);
}

void ClipFile::setSegments(int block, const std::vector<std::pair<int, uint16_t>>& framesAndIds) {
    BlockRecord r;
    for (const auto& s : framesAndIds) {
        r.lengths.push_back(uint16_t(s.first));
        r.ids.push_back(s.second);
    }
    blocks[block] = r;
}

void ClipFile::setPerFrame(int block, const std::vector<uint16_t>& idPerFrame) {
    blocks[block] = BlockRecord{{}, idPerFrame};
}

void ClipFile::setIds(int block, const std::vector<uint16_t>& idPerFrame) {
    std::vector<std::pair<int, uint16_t>> segs;
    for (size_t f = 0; f < idPerFrame.size(); f++) {
        if (!segs.empty() && segs.back().second == idPerFrame[f] && segs.back().first < 256)
            segs.back().first++;
        else
            segs.push_back({1, idPerFrame[f]});
    }
    // A segment costs three bytes in the file (length byte and id), a per-frame id two.
    if (segs.size() <= 255 && 3 * segs.size() <= 2 * idPerFrame.size())
        setSegments(block, segs);
    else
        setPerFrame(block, idPerFrame);
}

void ClipFile::setModeAll(int frame, int mode) {
    for (int b = 0; b < BlockCount; b++) setMode(frame, b, mode);
}

uint32_t ClipFile::timelineUnits() const {
    uint32_t units = 0;
    for (const BlockRecord& r : blocks) {
        size_t n = r.lengths.size();
        units += uint32_t(n ? 1 + (n + 1) / 2 + n : 1 + r.ids.size());
    }
    return units;
}

uint32_t ClipFile::dictionaryBytes() const {
    uint32_t bytes = 0;
    for (const ClipEntry& e : entries) bytes += uint32_t(e.bytes.size());
    return bytes;
}

static std::vector<uint8_t> failWith(std::string* why, const std::string& what) {
    if (why) *why = what;
    return {};
}

std::vector<uint8_t> ClipFile::serialise(std::string* why) const {
    if (format != 17 && format != 18) return failWith(why, "format is not 17 or 18");
    if (hasAlpha > 1) return failWith(why, "hasAlpha is not 0 or 1");
    if (blocks.size() != size_t(BlockCount)) return failWith(why, "not 1200 block records");
    if (modes.size() != size_t(frameCount) * BlockCount) return failWith(why, "fill modes do not match frameCount");
    if (entries.size() > 65535) return failWith(why, "more than 65535 entries");
    for (size_t b = 0; b < blocks.size(); b++) {
        const BlockRecord& r = blocks[b];
        size_t n = r.lengths.size();
        if (n > 255) return failWith(why, "block " + std::to_string(b) + " has more than 255 segments");
        if (n == 0 && r.ids.size() != frameCount)
            return failWith(why, "block " + std::to_string(b) + " has no segments and not frameCount ids");
        if (n > 0) {
            if (r.ids.size() != n) return failWith(why, "block " + std::to_string(b) + ": segments and ids differ");
            unsigned sum = 0;
            for (uint16_t l : r.lengths) {
                if (l < 1 || l > 256) return failWith(why, "block " + std::to_string(b) + ": segment length out of range");
                sum += l;
            }
            if (sum != frameCount) return failWith(why, "block " + std::to_string(b) + ": segments do not add up to frameCount");
        }
        if (format == 17)
            for (uint16_t id : r.ids)
                if (id >= entries.size()) return failWith(why, "block " + std::to_string(b) + ": id beyond the dictionary");
    }
    uint16_t classCounts[16] = {};
    if (format == 18) {
        int previous = 0;
        for (const ClipEntry& e : entries) {
            if (e.cls < previous) return failWith(why, "entries are not in class order");
            if (e.cls >= (hasAlpha ? 16 : 8)) return failWith(why, "entry class beyond the clip's classes");
            previous = e.cls;
            classCounts[e.cls]++;
        }
    }
    for (const ClipEntry& e : entries)
        if (e.bytes.empty() || e.bytes.size() > 225) return failWith(why, "an entry is empty or longer than 225 bytes");

    std::vector<uint8_t> out;
    out.push_back(format);
    out.push_back(0);
    appendU16(out, width);
    appendU16(out, height);
    out.push_back(hasAlpha);
    out.push_back(0);
    appendU16(out, frameCount);
    appendU16(out, uint16_t(entries.size()));
    appendU16(out, 0);  // dictionaryUnits, patched below
    appendU16(out, 0);
    uint32_t tu = timelineUnits();
    appendU16(out, uint16_t(tu));
    appendU16(out, uint16_t(tu >> 16));
    putU32(out, 12, (dictionaryBytes() + 1) / 2);
    if (format == 18)
        for (int c = 0; c < (hasAlpha + 1) * 8; c++) appendU16(out, classCounts[c]);
    for (int i = 0; i < 256; i++) appendU16(out, palette[i]);
    for (const BlockRecord& r : blocks) {
        appendU16(out, uint16_t(r.lengths.size()));
        for (uint16_t l : r.lengths) out.push_back(uint8_t(l - 1));
        for (uint16_t id : r.ids) appendU16(out, id);
    }
    for (int f = 0; f < frameCount; f++)
        for (int g = 0; g < ModeWordsPerFrame; g++) {
            uint16_t w = 0;
            for (int i = 0; i < 5; i++) w |= uint16_t((modes[size_t(f) * BlockCount + g * 5 + i] & 7) << (12 - 3 * i));
            appendU16(out, w);
        }
    for (const ClipEntry& e : entries) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

bool ClipFile::writeFile(const std::string& path, std::string* why) const {
    std::vector<uint8_t> bytes = serialise(why);
    if (bytes.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (why) *why = "cannot open " + path + " for writing";
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok && why) *why = "cannot write " + path;
    return ok;
}

}  // namespace clipwriter
