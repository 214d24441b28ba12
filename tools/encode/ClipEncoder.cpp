#include "tools/encode/ClipEncoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_map>

#include "tools/encode/BlockCoder.h"

namespace encode {

namespace {

using clipwriter::BlockCount;

enum CellKind : uint8_t { LiteralCell, EntryCell, BlackCell };

// What one block shows in one frame.
struct Cell {
    uint8_t kind = BlackCell;
    uint8_t mode = 0;
    uint32_t value = 0;  // the colour of a literal, the index of an entry
};

struct Entry {
    clipwriter::ClipEntry coded;
    uint8_t mode = 0;
    uint16_t picture[64];
    uint8_t alpha[64];
    uint32_t uses = 0;
};

struct Block {
    uint16_t colour[64];
    uint8_t alpha[64];
};

void blockOf(const Frame565& f, int b, Block& out) {
    int x0 = (b % 40) * 8, y0 = (b / 40) * 8;
    for (int y = 0; y < 8; y++) {
        memcpy(out.colour + 8 * y, &f.colour[(y0 + y) * Width + x0], 16);
        memcpy(out.alpha + 8 * y, &f.alpha[(y0 + y) * Width + x0], 8);
    }
}

uint64_t mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

uint64_t hashBlock(const Block& b) {
    uint64_t h = 1469598103934665603ull;
    uint64_t words[24];
    memcpy(words, b.colour, 128);
    memcpy(words + 16, b.alpha, 64);
    for (uint64_t w : words) h = mix(h, w);
    return h;
}

uint64_t hashCoded(const clipwriter::ClipEntry& e, int mode) {
    uint64_t h = mix(e.cls, uint64_t(mode));
    for (uint8_t byte : e.bytes) h = mix(h, byte);
    return h;
}

// A coarse picture of the block (the mean of each quarter, 3 bits per channel) under which
// blocks that look alike meet.
uint64_t signature(const uint16_t c[64], const uint8_t a[64]) {
    uint64_t sig = 0;
    for (int q = 0; q < 4; q++) {
        int r = 0, g = 0, b = 0, al = 0;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 4; x++) {
                int i = ((q >> 1) * 4 + y) * 8 + (q & 1) * 4 + x;
                r += c[i] >> 11;
                g += (c[i] >> 5) & 63;
                b += c[i] & 31;
                al += a[i];
            }
        sig = sig << 13 | uint64_t(r >> 6) << 10 | uint64_t(g >> 7) << 7 | uint64_t(b >> 6) << 4 | uint64_t(al >> 4);
    }
    return sig;
}

bool flatWithin(const Block& b, const Tolerance& t, uint16_t& colour) {
    int rLo = 31, rHi = 0, gLo = 63, gHi = 0, bLo = 31, bHi = 0;
    for (int i = 0; i < 64; i++) {
        int r = b.colour[i] >> 11, g = (b.colour[i] >> 5) & 63, bl = b.colour[i] & 31;
        rLo = std::min(rLo, r), rHi = std::max(rHi, r);
        gLo = std::min(gLo, g), gHi = std::max(gHi, g);
        bLo = std::min(bLo, bl), bHi = std::max(bHi, bl);
    }
    if (rHi - rLo > 2 * t.red || gHi - gLo > 2 * t.green || bHi - bLo > 2 * t.blue) return false;
    colour = uint16_t(((rLo + rHi) >> 1) << 11 | ((gLo + gHi) >> 1) << 5 | ((bLo + bHi) >> 1));
    if (t.budget < 0 || (rHi == rLo && gHi == gLo && bHi == bLo)) return true;
    uint16_t flat[64];
    for (int i = 0; i < 64; i++) flat[i] = colour;
    return blockError(flat, b.colour) <= t.budget;
}

bool allAlpha(const uint8_t a[64], uint8_t v) {
    for (int i = 0; i < 64; i++)
        if (a[i] != v) return false;
    return true;
}

// The palette: the colours of the blocks that will need dictionary entries (not flat, changed
// since the frame before), most frequent first.
void choosePalette(const InputClip& in, const Tolerance& t, Palette& pal) {
    std::vector<uint32_t> count(65536, 0);
    Block cur, prev;
    for (size_t f = 0; f < in.frames.size(); f++) {
        for (int b = 0; b < BlockCount; b++) {
            blockOf(in.frames[f], b, cur);
            if (f > 0) {
                blockOf(in.frames[f - 1], b, prev);
                if (!memcmp(cur.colour, prev.colour, 128) && !memcmp(cur.alpha, prev.alpha, 64)) continue;
            }
            uint16_t flat;
            if (flatWithin(cur, t, flat)) continue;
            for (int i = 0; i < 64; i++)
                if (cur.alpha[i]) count[cur.colour[i]]++;
        }
    }
    std::vector<uint16_t> order;
    for (int c = 0; c < 65536; c++)
        if (count[c]) order.push_back(uint16_t(c));
    std::stable_sort(order.begin(), order.end(), [&](uint16_t a, uint16_t b) { return count[a] > count[b]; });
    if (order.size() > 20000) order.resize(20000);
    // Exact colours only: a colour a few levels off would make every block coded exactly (all
    // of them under a tight error budget) spend two bytes on it.
    pal.size = int(std::min<size_t>(256, order.size()));
    for (int i = 0; i < pal.size; i++) pal.colours[i] = order[i];
    pal.build();
}

uint64_t pictureError(const uint16_t* a, const uint8_t* aa, const uint16_t* b, const uint8_t* ba) {
    uint64_t e = squaredError565(a, b, 64);
    for (int i = 0; i < 64; i++) e += uint64_t(256 * (aa[i] - ba[i]) * (aa[i] - ba[i]));
    return e;
}

// The picture a cell shows (alpha included).
void cellPicture(const Cell& c, const std::vector<Entry>& entries, bool hasAlpha, uint16_t colour[64], uint8_t alpha[64]) {
    if (c.kind == EntryCell) {
        memcpy(colour, entries[c.value].picture, 128);
        memcpy(alpha, entries[c.value].alpha, 64);
        return;
    }
    for (int i = 0; i < 64; i++) {
        colour[i] = c.kind == LiteralCell ? uint16_t(c.value) : 0;
        alpha[i] = c.kind == LiteralCell || !hasAlpha ? 15 : 0;
    }
}

// A flat literal colour standing for an opaque block: its mean.
bool meanLiteral(const Block& t, Cell& out) {
    if (!allAlpha(t.alpha, 15)) return false;
    int r = 0, g = 0, b = 0;
    for (int p = 0; p < 64; p++) {
        r += t.colour[p] >> 11;
        g += (t.colour[p] >> 5) & 63;
        b += t.colour[p] & 31;
    }
    out = Cell{LiteralCell, 0, uint32_t((r + 32) / 64 << 11 | (g + 32) / 64 << 5 | (b + 32) / 64)};
    return true;
}

// Brings the dictionary down to maxEntries. The entries dropped are those whose blocks lose the
// least when shown otherwise; each of their blocks then shows the best of: what the block showed
// in the frame before, its mean colour (Format18), or the closest kept entry that looks alike.
int mergeEntries(int format, bool hasAlpha, const InputClip& in, std::vector<Entry>& entries,
                 std::vector<Cell>& cells, int maxEntries) {
    int drop = int(entries.size()) - maxEntries;
    if (drop <= 0) return 0;
    const int frames = int(in.frames.size());
    auto errorOf = [](const uint16_t* c, const uint8_t* a, const Block& t) {
        return pictureError(c, a, t.colour, t.alpha);
    };

    // What losing each entry would cost, with the frame before or the mean colour instead.
    std::vector<double> loss(entries.size(), 0.0);
    Block target;
    uint16_t colour[64];
    uint8_t alpha[64];
    for (int f = 0; f < frames; f++)
        for (int b = 0; b < BlockCount; b++) {
            const Cell& c = cells[size_t(f) * BlockCount + b];
            if (c.kind != EntryCell) continue;
            blockOf(in.frames[f], b, target);
            uint64_t own = errorOf(entries[c.value].picture, entries[c.value].alpha, target);
            uint64_t alt = UINT64_MAX;
            if (f > 0) {
                cellPicture(cells[size_t(f - 1) * BlockCount + b], entries, hasAlpha, colour, alpha);
                alt = errorOf(colour, alpha, target);
            }
            Cell flat;
            if (format == 18 && meanLiteral(target, flat)) {
                cellPicture(flat, entries, hasAlpha, colour, alpha);
                alt = std::min(alt, errorOf(colour, alpha, target));
            }
            loss[c.value] += alt == UINT64_MAX ? 1e18 : double(alt) - double(own);
        }
    std::vector<uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = uint32_t(i);
    // Least loss per byte saved first.
    for (size_t e = 0; e < entries.size(); e++) loss[e] /= double(entries[e].coded.bytes.size() + 3);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return loss[a] < loss[b]; });
    std::vector<char> kept(entries.size(), 1);
    for (int i = 0; i < drop; i++) kept[order[i]] = 0;
    std::unordered_map<uint64_t, std::vector<uint32_t>> alike;
    for (size_t e = 0; e < entries.size(); e++)
        if (kept[e]) alike[signature(entries[e].picture, entries[e].alpha)].push_back(uint32_t(e));
    std::vector<uint32_t> popular;  // the last resort: the most used kept entries
    {
        std::vector<uint32_t> byUse;
        for (size_t e = 0; e < entries.size(); e++)
            if (kept[e]) byUse.push_back(uint32_t(e));
        std::partial_sort(byUse.begin(), byUse.begin() + std::min<size_t>(64, byUse.size()), byUse.end(),
                          [&](uint32_t a, uint32_t b) { return entries[a].uses > entries[b].uses; });
        byUse.resize(std::min<size_t>(64, byUse.size()));
        popular = byUse;
    }

    // In frame order, so that "the frame before" is already what the clip will show.
    for (int f = 0; f < frames; f++)
        for (int b = 0; b < BlockCount; b++) {
            Cell& c = cells[size_t(f) * BlockCount + b];
            if (c.kind != EntryCell || kept[c.value]) continue;
            blockOf(in.frames[f], b, target);
            Cell best;
            uint64_t bestError = UINT64_MAX;
            auto consider = [&](const Cell& candidate) {
                cellPicture(candidate, entries, hasAlpha, colour, alpha);
                uint64_t e = errorOf(colour, alpha, target);
                if (e < bestError) bestError = e, best = candidate;
            };
            if (f > 0) consider(cells[size_t(f - 1) * BlockCount + b]);
            Cell flat;
            if (format == 18 && meanLiteral(target, flat)) consider(flat);
            auto it = alike.find(signature(entries[c.value].picture, entries[c.value].alpha));
            if (it != alike.end())
                for (size_t k = 0; k < it->second.size() && k < 32; k++)
                    consider(Cell{EntryCell, entries[it->second[k]].mode, it->second[k]});
            if (bestError == UINT64_MAX || (f == 0 && format == 17 && it == alike.end()))
                for (uint32_t e : popular) consider(Cell{EntryCell, entries[e].mode, e});
            c = best;
        }

    std::vector<uint32_t> newIndex(entries.size());
    size_t n = 0;
    for (size_t e = 0; e < entries.size(); e++) {
        newIndex[e] = uint32_t(n);
        if (kept[e]) {
            if (n != e) entries[n] = std::move(entries[e]);
            n++;
        }
    }
    entries.resize(n);
    for (Cell& c : cells)
        if (c.kind == EntryCell) c.value = newIndex[c.value];
    return drop;
}

// How many blocks of each frame will probably want an entry of their own: those that moved
// beyond the tolerance since the frame before and are neither flat nor transparent (Format18
// shows those without entries). Identical blocks found again are not foreseen, so this errs
// on the high side.
std::vector<int> entryDemand(const InputClip& in, const Tolerance& t, int format, bool hasAlpha) {
    std::vector<int> demand(in.frames.size(), 0);
    Block cur, prev;
    for (size_t f = 0; f < in.frames.size(); f++)
        for (int b = 0; b < BlockCount; b++) {
            blockOf(in.frames[f], b, cur);
            if (f > 0) {
                blockOf(in.frames[f - 1], b, prev);
                if (!memcmp(cur.alpha, prev.alpha, 64) && withinTolerance(prev.colour, cur.colour, t)) continue;
            }
            uint16_t flat;
            if (format == 18 && ((hasAlpha && allAlpha(cur.alpha, 0)) || (allAlpha(cur.alpha, 15) && flatWithin(cur, t, flat))))
                continue;
            demand[f]++;
        }
    return demand;
}

}  // namespace

Tolerance toleranceFor(int quality) {
    if (quality >= 100) return Tolerance(0);
    // The PSNR the quality aims at, and the squared error of a block at that PSNR. Around 50 it
    // rises more slowly (1.5 dB lower at 50): there a small rise in the aim makes grainy footage
    // code its noise, and the clip grew fivefold from 40 to 50.
    double aim = 30.0 + 0.4 * (quality - 50) - 1.5 * std::max(0.0, 1.0 - std::abs(quality - 50) / 10.0);
    double aimError = 192.0 * 255.0 * 255.0 / std::pow(10.0, aim / 10.0);
    int level = quality >= 90 ? 1 : 1 + (90 - quality) / 10;
    // Up to quality 40 no block falls more than 6 dB below the aim (four times its error), and
    // the error of a block at the aim weighs as much as 32 bytes; from 60 on the aim is every
    // block's floor and its error weighs 16 bytes; in between, the one passes into the other.
    // At low rates a floor at the aim made textured blocks that runs cannot follow cheaply take
    // raw pixels (a third of the clip's bytes at quality 30 on a zoom over detail, for little of
    // its PSNR); at high rates, where most blocks can meet it, it spends the bytes better.
    double high = std::min(1.0, std::max(0.0, (quality - 40) / 20.0));
    return Tolerance(level, int64_t(std::pow(4.0, 1.0 - high) * aimError), float((32.0 - 16.0 * high) / aimError));
}

namespace {

// Entry ids by a 64-bit hash of what they show: open addressing in one array, as the keys are
// hashes already, so that a look-up touches one place in memory where a node map touches
// several. Holds the last id set for a key.
class HashIndex {
public:
    static constexpr uint32_t None = UINT32_MAX;
    uint32_t find(uint64_t key) const {
        if (slots.empty()) return None;
        for (size_t i = place(key);; i = (i + 1) & (slots.size() - 1)) {
            if (slots[i].id == None) return None;
            if (slots[i].key == key) return slots[i].id;
        }
    }
    void set(uint64_t key, uint32_t id) {
        if (2 * (used + 1) > slots.size()) grow();
        size_t i = place(key);
        while (slots[i].id != None && slots[i].key != key) i = (i + 1) & (slots.size() - 1);
        used += slots[i].id == None;
        slots[i] = Slot{key, id};
    }

private:
    struct Slot {
        uint64_t key;
        uint32_t id;
    };
    std::vector<Slot> slots;
    size_t used = 0;
    int shift = 64;
    size_t place(uint64_t key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> shift); }
    void grow() {
        std::vector<Slot> old(std::max<size_t>(4096, 2 * slots.size()), Slot{0, None});
        old.swap(slots);
        shift = 64 - __builtin_ctzll(slots.size());
        used = 0;
        for (const Slot& s : old)
            if (s.id != None) set(s.key, s.id);
    }
};

// What a pass works out that a later pass at the same tolerance would work out again: the
// palette, and the coding of every block it coded (which depends only on the block's pixels,
// the palette and the tolerance), by frame x BlockCount + block.
struct PassMemo {
    std::unique_ptr<Palette> palette;
    std::vector<BlockCoding> codings;
    std::vector<uint8_t> coded;
};

// One encoding of the clip with a given tolerance. Over the entry limit, gains (if not null)
// receives what each changed block's own entry would have saved, and a block earns an entry
// only when it saves at least floor. memo (if not null) keeps what this pass works out for
// another pass at the same tolerance, and gives what an earlier one kept.
void encodeWithin(const InputClip& in, int format, const Tolerance& asked, EncodedClip& out,
                  const ProgressFn& progress, int maxEntries, std::vector<double>* gainsOut = nullptr,
                  double floor = -1e300, PassMemo* memo = nullptr) {
    const int frames = int(in.frames.size());
    const bool hasAlpha = in.hasAlpha;
    std::unique_ptr<Palette> pal(new Palette);
    if (memo && memo->palette) {
        *pal = *memo->palette;
    } else {
        choosePalette(in, asked, *pal);
        if (memo) memo->palette.reset(new Palette(*pal));
    }
    if (memo && memo->coded.empty()) {
        memo->codings.resize(size_t(frames) * BlockCount);
        memo->coded.assign(size_t(frames) * BlockCount, 0);
    }

    out.heldBack = 0;
    std::vector<Entry> entries;
    std::vector<Cell> cells(size_t(frames) * BlockCount);
    HashIndex byTarget, byCoding;
    std::unordered_map<uint64_t, std::vector<uint32_t>> alike;
    // What each block shows after the frame before (the decoder's view).
    std::vector<Block> shown(BlockCount);

    // Each frame in two passes: every block's choice against the dictionary as it stood before
    // the frame, in two threads (the costly part, coding new blocks, happens here); then, in
    // block order, the choices are applied and new entries added.
    enum Step : uint8_t { Keep, Direct, Found, Coded };
    struct Choice {
        Step step;
        Cell cell;
        uint64_t targetKey, sig;
        // Under a share of the dictionary: what a coded block shows if it gets no entry (kept
        // from the frame before, its mean colour or the closest entry that looks alike), and
        // the error that saves per byte of a new entry.
        bool stays;
        Cell instead;
        double gain;
    };
    std::vector<Choice> choices(BlockCount);
    std::vector<BlockCoding> codings(BlockCount);
    std::vector<const BlockCoding*> codingOf(BlockCount);  // in codings or in the memo
    std::vector<Block> targets(BlockCount);

    // A clip whose blocks would want more entries than the format holds gets a share of the
    // dictionary for each frame, in proportion to how many of its blocks change, and each frame
    // spends its share on the blocks whose new entry saves the most error per byte; the others
    // show what costs no new entry. Left to the end, the excess would be cut from whichever
    // entries lose least one by one, and a block could then stay behind for many frames.
    std::vector<double> share;  // of the entries left after frame 0, the part each frame's end may have used
    if (int64_t(frames) * BlockCount > maxEntries) {
        std::vector<int> demand = entryDemand(in, asked, format, hasAlpha);
        int64_t total = 0, later = 0;
        for (int f = 0; f < frames; f++) total += demand[f], later += f > 0 ? demand[f] : 0;
        if (total > maxEntries && later > 0) {
            share.assign(frames, 0.0);
            int64_t sum = 0;
            for (int f = 1; f < frames; f++) {
                sum += demand[f];
                share[f] = double(sum) / double(later);
            }
        }
    }
    size_t firstFrameEntries = 0;
    const bool shared = !share.empty();
    // Where the limit binds, it and not the blocks' floor sets what is lost: a floor would spend
    // the few entries there are on raw pixels for some blocks (noise cannot be followed by
    // runs) while the others wait, so error weighed against bytes alone codes the entries.
    Tolerance tol = asked;
    if (shared) tol.budget = -1;

    // With error weighed against bytes, every way of showing a changed block is priced at the
    // bytes it adds plus lambda x its squared error: keeping what the block showed costs no byte,
    // a literal colour or an entry already in the dictionary a new segment in the block's
    // timeline, a new entry that and its own bytes. A block is only coded when keeping it or
    // the cheaper choices cost more than the least a new entry could.
    const bool weighed = tol.lambda > 0;
    const float segmentBytes = 3;  // a length byte and a 16-bit id
    const float leastEntryBytes = 4;
    auto choose = [&](int f, int b) {
        Block& cur = targets[b];
        blockOf(in.frames[f], b, cur);
        Choice& ch = choices[b];
        const Block& view = shown[b];
        float bestCost = 1e30f;  // of the choices found so far that need no new entry
        // Weighed, keeping the block and its mean colour are candidates like the rest, priced
        // at their error whatever the level and the floor (which shape new entries): a flat
        // block that met them used to take no entry whatever one would save, and on footage
        // whose blocks all sit near the floor (noise, smooth waves) every block passed from
        // literal colours to entries at one quality.
        if (f > 0 && !memcmp(view.alpha, cur.alpha, 64) && (weighed || withinTolerance(view.colour, cur.colour, tol))) {
            ch.step = Keep;
            if (!weighed) return;
            bestCost = tol.lambda * float(blockError(view.colour, cur.colour));
            if (bestCost <= segmentBytes) return;
        }
        uint16_t flat;
        if (format == 18) {
            if (hasAlpha && allAlpha(cur.alpha, 0)) {
                ch.step = Direct;
                ch.cell = Cell{BlackCell, 7, 0};
                return;
            }
            Cell mean;
            bool shownFlat = weighed ? meanLiteral(cur, mean) : allAlpha(cur.alpha, 15) && flatWithin(cur, tol, flat);
            if (weighed && shownFlat) flat = uint16_t(mean.value);
            if (shownFlat) {
                // Without alpha, black keeps the block's id: no new segment in its timeline.
                Cell literal = !hasAlpha && flat == 0 ? Cell{BlackCell, 7, 0} : Cell{LiteralCell, 0, flat};
                if (!weighed) {
                    ch.step = Direct;
                    ch.cell = literal;
                    return;
                }
                uint16_t flatPicture[64];
                for (int i = 0; i < 64; i++) flatPicture[i] = flat;
                float flatCost = segmentBytes + tol.lambda * float(blockError(flatPicture, cur.colour));
                if (flatCost < bestCost) {
                    bestCost = flatCost;
                    ch.step = Direct;
                    ch.cell = literal;
                }
            }
        }
        ch.targetKey = hashBlock(cur);
        ch.sig = signature(cur.colour, cur.alpha);
        auto consider = [&](uint32_t id) {
            const Entry& e = entries[id];
            if (memcmp(e.alpha, cur.alpha, 64) || !withinTolerance(e.picture, cur.colour, tol)) return false;
            float cost = weighed ? segmentBytes + tol.lambda * float(blockError(e.picture, cur.colour)) : 0;
            if (cost < bestCost) {
                bestCost = cost;
                ch.step = Found;
                ch.cell.value = id;
            }
            return true;
        };
        uint32_t t = byTarget.find(ch.targetKey);
        if (t != HashIndex::None && consider(t) && !weighed) return;
        if (tol.level > 0 && bestCost > segmentBytes) {
            auto a = alike.find(ch.sig);
            if (a != alike.end())
                for (size_t k = a->second.size(); k-- > 0;)
                    if (consider(a->second[k]) && !weighed) return;
        }
        if (bestCost <= segmentBytes + leastEntryBytes) return;
        const Step before = ch.step;
        ch.step = Coded;
        if (!memo) {
            codeBlock(format, hasAlpha, cur.colour, cur.alpha, *pal, tol, codings[b]);
            codingOf[b] = &codings[b];
        } else {
            // Each thread writes the slots of its own blocks only.
            const size_t slot = size_t(f) * BlockCount + b;
            if (!memo->coded[slot]) {
                codeBlock(format, hasAlpha, cur.colour, cur.alpha, *pal, tol, memo->codings[slot]);
                memo->coded[slot] = 1;
            }
            codingOf[b] = &memo->codings[slot];
        }
        const BlockCoding& coding = *codingOf[b];
        if (weighed && bestCost < 1e30f &&
            bestCost <= float(coding.entry.bytes.size()) + segmentBytes +
                            tol.lambda * float(blockError(coding.picture, cur.colour))) {
            ch.step = before;
            return;
        }
        if (!shared || f == 0) return;
        uint64_t fallback = pictureError(view.colour, view.alpha, cur.colour, cur.alpha);
        ch.stays = true;
        Cell flatCell;
        if (format == 18 && meanLiteral(cur, flatCell)) {
            uint16_t colour[64];
            for (int i = 0; i < 64; i++) colour[i] = uint16_t(flatCell.value);
            uint64_t e = pictureError(colour, cur.alpha, cur.colour, cur.alpha);
            if (e < fallback) fallback = e, ch.stays = false, ch.instead = flatCell;
        }
        auto a = alike.find(ch.sig);
        if (a != alike.end())
            for (uint32_t id : a->second) {
                const Entry& e = entries[id];
                uint64_t err = pictureError(e.picture, e.alpha, cur.colour, cur.alpha);
                if (err < fallback) fallback = err, ch.stays = false, ch.instead = Cell{EntryCell, e.mode, id};
            }
        uint64_t own = squaredError565(coding.picture, cur.colour, 64);
        ch.gain = (double(fallback) - double(own)) / double(coding.entry.bytes.size() + 3);
    };

    for (int f = 0; f < frames; f++) {
        // Both threads take the next few blocks as they go, so that when another program holds
        // one core the other thread does more of the frame instead of waiting for it.
        std::atomic<int> next{0};
        auto work = [&] {
            for (int b0; (b0 = next.fetch_add(8)) < BlockCount;)
                for (int b = b0; b < b0 + 8 && b < BlockCount; b++) choose(f, b);
        };
        std::thread helper(work);
        work();
        helper.join();

        // This frame's part of the dictionary, and the least saving that earns an entry in it.
        int64_t room = INT64_MAX;
        double least = -1e300;
        if (shared && f > 0) {
            // With a floor from an earlier pass the frames may run ahead of their shares.
            double part = floor > -1e300 ? std::min(1.0, 1.5 * share[f]) : share[f];
            int64_t allowed = int64_t(firstFrameEntries) +
                              int64_t(double(int64_t(maxEntries) - int64_t(firstFrameEntries)) * part);
            room = std::max<int64_t>(0, allowed - int64_t(entries.size()));
            std::vector<double> gains;
            for (int b = 0; b < BlockCount; b++)
                if (choices[b].step == Coded) gains.push_back(choices[b].gain);
            if (gainsOut) gainsOut->insert(gainsOut->end(), gains.begin(), gains.end());
            if (int64_t(gains.size()) > room) {
                if (room == 0) {
                    least = 1e300;
                } else {
                    std::nth_element(gains.begin(), gains.begin() + (room - 1), gains.end(), std::greater<double>());
                    least = gains[room - 1];
                }
            }
            least = std::max(least, floor);
        }

        for (int b = 0; b < BlockCount; b++) {
            Cell& cell = cells[size_t(f) * BlockCount + b];
            Block& view = shown[b];
            Choice& ch = choices[b];
            const Block& cur = targets[b];
            if (ch.step == Keep) {
                cell = cells[size_t(f - 1) * BlockCount + b];
                if (cell.kind == EntryCell) entries[cell.value].uses++;
                continue;
            }
            if (ch.step == Direct) {
                cell = ch.cell;
                for (int i = 0; i < 64; i++) {
                    view.colour[i] = cell.kind == LiteralCell ? uint16_t(cell.value) : 0;
                    view.alpha[i] = cell.kind == LiteralCell || !hasAlpha ? 15 : 0;
                }
                if (hasAlpha && cell.kind == BlackCell) memset(view.alpha, 0, 64);
                continue;
            }
            uint32_t found = ch.step == Found ? ch.cell.value : UINT32_MAX;
            if (found == UINT32_MAX) {
                // An identical block may have been added earlier in this frame.
                uint32_t t = byTarget.find(ch.targetKey);
                if (t != HashIndex::None && !memcmp(entries[t].alpha, cur.alpha, 64) &&
                    withinTolerance(entries[t].picture, cur.colour, tol))
                    found = t;
            }
            if (found == UINT32_MAX) {
                const BlockCoding& coding = *codingOf[b];
                uint64_t codingKey = hashCoded(coding.entry, coding.fillMode);
                uint32_t c = byCoding.find(codingKey);
                if (c != HashIndex::None && entries[c].mode == coding.fillMode &&
                    entries[c].coded.cls == coding.entry.cls && entries[c].coded.bytes == coding.entry.bytes) {
                    found = c;
                } else if (shared && f > 0 && (room <= 0 || ch.gain < least)) {
                    // No entry for this block in this frame's share.
                    out.heldBack++;
                    if (ch.stays) {
                        cell = cells[size_t(f - 1) * BlockCount + b];
                        if (cell.kind == EntryCell) entries[cell.value].uses++;
                    } else {
                        cell = ch.instead;
                        if (cell.kind == EntryCell) entries[cell.value].uses++;
                        cellPicture(cell, entries, hasAlpha, view.colour, view.alpha);
                    }
                    continue;
                } else {
                    room--;
                    found = uint32_t(entries.size());
                    entries.emplace_back();
                    Entry& e = entries.back();
                    e.coded = coding.entry;  // the memo keeps its own for a later pass
                    e.mode = coding.fillMode;
                    memcpy(e.picture, coding.picture, 128);
                    memcpy(e.alpha, cur.alpha, 64);
                    byCoding.set(codingKey, found);
                    std::vector<uint32_t>& list = alike[ch.sig];
                    if (list.size() >= 8) list.erase(list.begin());
                    list.push_back(found);
                }
                byTarget.set(ch.targetKey, found);
            }
            Entry& e = entries[found];
            e.uses++;
            cell = Cell{EntryCell, e.mode, found};
            memcpy(view.colour, e.picture, 128);
            memcpy(view.alpha, e.alpha, 64);
        }
        if (f == 0) firstFrameEntries = entries.size();
        if (progress) progress(f + 1, frames);
    }

    out.mergedEntries = mergeEntries(format, hasAlpha, in, entries, cells, maxEntries);

    // Format18 stores its dictionary in class order.
    std::vector<uint32_t> order(entries.size()), id(entries.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = uint32_t(i);
    if (format == 18)
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return entries[a].coded.cls < entries[b].coded.cls; });
    clipwriter::ClipFile& clip = out.clip;
    clip = clipwriter::ClipFile(uint8_t(format), uint8_t(hasAlpha), uint16_t(frames));
    memcpy(clip.palette, pal->colours, sizeof clip.palette);
    for (size_t i = 0; i < order.size(); i++) {
        id[order[i]] = uint32_t(i);
        clip.addEntry(entries[order[i]].coded);
    }
    const uint32_t entryCount = uint32_t(entries.size());
    bool needBlackEntry = false;
    for (const Cell& c : cells) needBlackEntry |= c.kind == BlackCell;
    needBlackEntry &= entryCount == 0 && hasAlpha;
    if (needBlackEntry) {
        // A transparent block needs an id below entryCount for its black fill mode to count.
        clipwriter::Run half{32, 0, false};
        clip.addEntry(clipwriter::encode18FourRuns(0, {half, half}, clipwriter::uniformAlpha(0)));
    }
    const uint32_t idLimit = uint32_t(clip.entries.size());

    out.pictures.assign(frames, std::vector<uint16_t>(Pixels));
    out.alphas.assign(frames, std::vector<uint8_t>(Pixels));
    // Each block's timeline and pictures are its own: half the blocks on another thread.
    auto writeBlocks = [&](int first, int end) {
        std::vector<uint16_t> ids(frames);
        for (int b = first; b < end; b++) {
            for (int f = 0; f < frames; f++) {
                const Cell& c = cells[size_t(f) * BlockCount + b];
                ids[f] = c.kind == LiteralCell ? uint16_t(c.value) : c.kind == EntryCell ? uint16_t(id[c.value]) : 0;
            }
            // A black block's id only has to be below entryCount: it continues the segment before
            // it (or the one after it) so that it costs no segment of its own.
            for (int f = 0; f < frames; f++) {
                const Cell& c = cells[size_t(f) * BlockCount + b];
                if (c.kind != BlackCell) continue;
                if (f > 0 && ids[f - 1] < idLimit) {
                    ids[f] = ids[f - 1];
                    continue;
                }
                int next = f + 1;
                while (next < frames && (cells[size_t(next) * BlockCount + b].kind == BlackCell)) next++;
                ids[f] = next < frames && ids[next] < idLimit ? ids[next] : 0;
            }
            clip.setIds(b, ids);
            int x0 = (b % 40) * 8, y0 = (b / 40) * 8;
            for (int f = 0; f < frames; f++) {
                const Cell& c = cells[size_t(f) * BlockCount + b];
                uint16_t* pic = &out.pictures[f][y0 * Width + x0];
                uint8_t* alp = &out.alphas[f][y0 * Width + x0];
                if (c.kind == BlackCell && idLimit == 0) {
                    // No entries at all (an opaque clip of flat blocks): black is the literal 0.
                    clip.setMode(f, b, 0);
                } else {
                    clip.setMode(f, b, c.mode);
                }
                for (int y = 0; y < 8; y++)
                    for (int x = 0; x < 8; x++) {
                        uint16_t colour = 0;
                        uint8_t alpha = 15;
                        if (c.kind == LiteralCell) {
                            colour = uint16_t(c.value);
                        } else if (c.kind == EntryCell) {
                            colour = entries[c.value].picture[y * 8 + x];
                            alpha = entries[c.value].alpha[y * 8 + x];
                        } else {
                            alpha = 0;
                        }
                        pic[y * Width + x] = colour;
                        alp[y * Width + x] = alpha;
                    }
            }
        }
    };
    std::thread helper(writeBlocks, BlockCount / 2, BlockCount);
    writeBlocks(0, BlockCount / 2);
    helper.join();
}

// The squared error of what an encoding shows against the 8-bit source (opaque pixels): the
// quantisation error of the input plus the coding error, which add up as the two are unrelated.
double sourceError(const InputClip& in, const EncodedClip& e) {
    double sum = 0;
    for (size_t f = 0; f < in.frames.size(); f++)
        sum += double(in.frames[f].quantisationError) +
               double(squaredError565(e.pictures[f].data(), in.frames[f].colour.data(), Pixels));
    return sum;
}

struct Outcome {
    double psnr = 0;   // against the source
    double bytes = 0;  // of the clip file
};

Outcome measure(const InputClip& in, const EncodedClip& e) {
    Outcome o;
    double mse = sourceError(in, e) / (3.0 * Pixels * double(in.frames.size()));
    o.psnr = mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
    o.bytes = double(e.clip.serialise().size());
    return o;
}

}  // namespace

void encodeFrames(const InputClip& in, const EncodeParams& params, EncodedClip& out,
                  const ProgressFn& progress, int maxEntries) {
    const int quality = params.quality;
    std::vector<double> gains, otherGains;
    // A clip whose blocks want more entries than the format holds is almost always held by the
    // limit, and is then made again at the same tolerance (below), which the first pass's memo
    // spares most of the work, and above quality 60 also at 60: that pass runs beside the first
    // one, on the core that the first one's serial steps leave idle. Each pass is the same
    // whatever the threads' timing.
    bool wanting = false;
    if (int64_t(in.frames.size()) * BlockCount > maxEntries) {
        std::vector<int> demand = entryDemand(in, toleranceFor(quality), params.format, in.hasAlpha);
        int64_t total = 0;
        for (int d : demand) total += d;
        wanting = total > maxEntries;
    }
    PassMemo memo, otherMemo;
    EncodedClip other;
    std::thread at60;
    const bool early = wanting && quality > 60;
    if (early)
        at60 = std::thread([&] {
            encodeWithin(in, params.format, toleranceFor(60), other, nullptr, maxEntries, &otherGains, -1e300,
                         &otherMemo);
        });
    encodeWithin(in, params.format, toleranceFor(quality), out, progress, maxEntries, &gains, -1e300,
                 wanting ? &memo : nullptr);
    if (early) at60.join();
    if (in.frames.empty()) return;
    const bool bound = out.heldBack > 0 || out.mergedEntries > 0;
    if (bound) {
        // Footage held by the entry limit: the limit, not the tolerance, sets what is lost, and
        // a looser tolerance lets more blocks share entries, so above quality 60 the clip made
        // at 60 is kept when it shows more.
        int at = quality;
        double best = measure(in, out).psnr;
        if (quality > 60) {
            if (!early)
                encodeWithin(in, params.format, toleranceFor(60), other, nullptr, maxEntries, &otherGains, -1e300,
                             &otherMemo);
            double psnr = measure(in, other).psnr;
            if (psnr > best) {
                out = std::move(other), gains.swap(otherGains), best = psnr, at = 60;
                std::swap(memo, otherMemo);
            }
        }
        otherMemo = PassMemo();
        // Then once more, the entries going to the blocks that save most over the whole clip
        // rather than frame by frame: the least saving that earned an entry in the pass before
        // (frame 0 takes at most one entry per block).
        size_t rank = size_t(std::max(1, maxEntries - BlockCount));
        if (gains.size() > rank) {
            std::nth_element(gains.begin(), gains.begin() + (rank - 1), gains.end(), std::greater<double>());
            encodeWithin(in, params.format, toleranceFor(at), other, nullptr, maxEntries, nullptr, gains[rank - 1],
                         &memo);
            if (measure(in, other).psnr > best) out = std::move(other);
        }
        return;
    }
    if (quality >= 100) return;
    Outcome chosen = measure(in, out);
    // Every clip pays a fixed part (header, one segment per block, the fill modes of every frame):
    // below quality 60, when the clip costs less than twice that part, losing more detail could
    // not even halve it, and the clip is made at 60.
    const double fixed = 548.0 + 5.0 * BlockCount + 480.0 * double(in.frames.size());
    if (quality < 60 && chosen.bytes <= 2 * fixed) {
        encodeWithin(in, params.format, toleranceFor(60), other, nullptr, maxEntries);
        Outcome at60 = measure(in, other);
        if (at60.bytes <= 2 * fixed) out = std::move(other), chosen = at60;
    }
    // A lossy clip must be worth its loss: when it saves less than 1 % of the bytes for every
    // 0.6 dB it loses (footage of a few flat colours, whose exact clip is small already), the
    // exact clip is kept. Only a small clip can be such a case.
    if (chosen.bytes > 4 * fixed) return;
    encodeWithin(in, params.format, toleranceFor(100), other, nullptr, maxEntries);
    Outcome exact = measure(in, other);
    if (exact.psnr - chosen.psnr > 60.0 * std::log(exact.bytes / chosen.bytes)) out = std::move(other);
}

int64_t ramEstimate(const clipwriter::ClipFile& clip) {
    int64_t entries = int64_t(clip.entries.size());
    int64_t dictionaryUnits = (int64_t(clip.dictionaryBytes()) + 1) / 2;
    return 240 * int64_t(clip.frameCount) + int64_t(clip.timelineUnits()) + (entries + 15) / 16 +
           dictionaryUnits / 2 + 2 * entries + 1757;
}

}  // namespace encode
