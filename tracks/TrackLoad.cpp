// Assigning a clip to a slot, probing it, and loading it step by step. Every byte of the file goes
// through ClipReader and every rule the decoders rely on is checked here, once, so that playback
// can trust the buffers completely. A refused clip leaves the slot empty and in state 0.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tracks/ClipReader.h"
#include "tracks/EntryLines.h"
#include "tracks/FrameSource.h"
#include "tracks/Track.h"

Track tracks[TrackSlots];
FrameSourceHooks frameSourceHooks;

namespace {

constexpr int HeaderBytes = 20;
constexpr int Width = 320, Height = 240, Blocks = 1200;
// Largest in-memory record: 255 segments = 1 + 128 length units + 255 ids.
constexpr uint32_t MaxTimelineUnits = Blocks * (1 + 128 + 255);
constexpr int MaxEntryBytes = 225;
constexpr int RecordsPerStep = 5000;

struct ClipHeader {
    uint8_t format, reserved1;
    uint16_t width, height;
    uint8_t hasAlpha, reserved7;
    uint16_t frameCount, entryCount;
    uint32_t dictionaryUnits, timelineUnits;
};

void readClipHeader(ClipReader& r, ClipHeader& h) {
    h.format = r.u8();
    h.reserved1 = r.u8();
    h.width = r.u16();
    h.height = r.u16();
    h.hasAlpha = r.u8();
    h.reserved7 = r.u8();
    h.frameCount = r.u16();
    h.entryCount = r.u16();
    h.dictionaryUnits = r.u32();
    h.timelineUnits = r.u32();
}

// Why the header cannot describe a playable clip of a file of fileSize bytes; null when it can.
const char* headerProblem(const ClipHeader& h, uint64_t fileSize) {
    if (h.format != 17 && h.format != 18) return "not a clip (format byte is not 17 or 18)";
    if (h.width != Width || h.height != Height) return "picture is not 320x240";
    if (h.hasAlpha > 1) return "hasAlpha is not 0 or 1";
    if (h.frameCount < 1 || h.frameCount > 255) return "frameCount is not 1 to 255";
    if (h.timelineUnits > MaxTimelineUnits) return "timelineUnits is larger than any timeline";
    if (uint64_t(h.dictionaryUnits) * 2 > uint64_t(h.entryCount) * MaxEntryBytes + 2)
        return "dictionaryUnits is larger than entryCount entries can be";
    // The sections the header claims: the timeline's in-memory units are its file bytes but for at
    // most one unused half unit per record, and the dictionary's units round its bytes up; neither
    // is below the smallest possible sections (a 4-byte record per block, 2 bytes per entry). A
    // file shorter than that was cut short: the scan sees it from the header alone.
    const uint64_t timeline = std::max<uint64_t>(4u * Blocks, 2 * uint64_t(h.timelineUnits) - std::min<uint64_t>(2 * uint64_t(h.timelineUnits), Blocks));
    const uint64_t dictionary = std::max<uint64_t>(2u * h.entryCount, 2 * uint64_t(h.dictionaryUnits) - (h.dictionaryUnits ? 1 : 0));
    uint64_t least = HeaderBytes + (h.format == 18 ? 16u * (h.hasAlpha + 1) : 0) + 512 + timeline +
                     480u * h.frameCount + dictionary;
    if (fileSize < least) return "file is too short for the sections its header claims";
    return nullptr;
}

// Opens and checks the header; prints the probe's lines when loud.
int32_t probeFile(const std::string& path, std::string* why, bool loud, uint8_t* format = nullptr) {
    ClipReader r;
    if (!r.open(path.c_str())) {
        if (loud) std::puts("pas de video ");
        if (why) *why = "cannot be opened";
        return 0;
    }
    if (loud) std::puts("video ok");
    ClipHeader h;
    readClipHeader(r, h);
    const char* problem = r.failed ? "file ends inside the header" : headerProblem(h, r.size());
    if (problem) {
        if (why) *why = problem;
        return 0;
    }
    uint32_t entries = h.entryCount;
    if (format) *format = h.format;
    return int32_t(240u * h.frameCount + h.timelineUnits + (entries + 15) / 16 + h.dictionaryUnits / 2 +
                   2 * entries + 1757);
}

// Collects one dictionary entry's bytes while it is checked. Entries are at most 225 bytes when
// their runs add up to 64, which the callers check; the cap only keeps a bad entry in bounds.
struct EntryBytes {
    uint8_t b[256];
    int size = 0;
    void put(uint8_t v) {
        if (size < 256) b[size++] = v;
    }
    void put16(uint16_t v) {
        put(uint8_t(v));
        put(uint8_t(v >> 8));
    }
    void copy(ClipReader& r, int n) {
        for (int i = 0; i < n; i++) put(r.u8());
    }
};

// AlphaRun bytes up to 64 pixels; false when they pass the 64th.
bool readAlphaRuns(ClipReader& r, EntryBytes& e) {
    int total = 0;
    while (total < 64 && !r.failed) {
        uint8_t a = r.u8();
        e.put(a);
        total += (a >> 4) + 1;
    }
    return total == 64 || r.failed;
}

}  // namespace

int32_t Track::probe(const std::string& path) { return probeFile(path, nullptr, true); }

int32_t Track::probeQuietly(const std::string& path, std::string* why) { return probeFile(path, why, false); }

void Track::assign(const std::string& workingDir, const std::string& fileName) {
    std::puts("init quibo");
    // A slot that still owns a clip would leak it here: release it first.
    releaseBuffers();
    name = fileName;
    path = workingDir + "/videos/" + fileName;
    timelineFill = 0;
    ready = 0;
    loadState = 0;
    allocated = 0;
    entriesRead = 0;
    lastEntrySize = 0;
    dictionaryFill = 0;
    recordsRead = 0;
    entryCount = 1;
    timelineUnits = 1;
    modeWordCount = 1;
    dictionaryUnits = 1;
    redrawFrames = 2;
    loadError[0] = 0;
    if (frameSourceHooks.open && isLiveEntry(fileName)) source = frameSourceHooks.open(fileName);
}

void Track::holdSource(FrameSource* s, const std::string& sourceName) {
    releaseBuffers();
    name = sourceName;
    path.clear();
    source = s;
    frameCount = uint16_t(s->frameCount());
    format = 0;
    hasAlpha = 0;
    width = 320;
    height = 240;
    pixelCount = 320 * 240;
    allocated = 1;  // released with the playlist like a loaded clip
    loadState = 3;
    ready = Ready;
}

static int refuse(Track& t, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(t.loadError, sizeof t.loadError, fmt, args);
    va_end(args);
    std::cout << "clip refused: " << t.path << ": " << t.loadError << std::endl;
    t.releaseBuffers();
    return 0;
}

static void *allocate(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void Track::allocateBuffers() {
    timeline = static_cast<uint16_t*>(allocate(size_t(4) * timelineUnits));
    modeWords = static_cast<uint16_t*>(allocate(size_t(4) * uint32_t(modeWordCount)));
    dictionary = static_cast<uint8_t*>(allocate(size_t(2) * dictionaryUnits + DictionaryPadding));
    entryOffsets = static_cast<int32_t*>(allocate(size_t(8) * entryCount));
    prevIds = static_cast<uint16_t*>(allocate(size_t(4) * blockCount));
    prevModes = static_cast<uint16_t*>(allocate(12000));
    allocated = 1;
    // The expanded lines only speed up decoding: without the memory for them the clip still plays.
    entryLinesFirst = entryLinesCount = 0;
    if (format == 18 && expandsEntryLines()) {
        const int32_t first = classStart[4], count = classStart[7] + classCounts[7] - first;
        if (count > 0) entryLines = static_cast<uint16_t*>(std::aligned_alloc(64, size_t(128) * size_t(count)));
        if (entryLines) entryLinesFirst = first, entryLinesCount = count;
    } else if (format == 17 && !hasAlpha && expandsEntryLines() && entryCount > 0) {
        entryLines = static_cast<uint16_t*>(std::aligned_alloc(64, size_t(128) * entryCount));
        if (entryLines) entryLinesCount = entryCount;
    }
    if (!timeline || !modeWords || !dictionary || !entryOffsets || !prevIds || !prevModes) return;
    std::memset(dictionary + size_t(2) * dictionaryUnits, 0, DictionaryPadding);
    for (uint32_t b = 0; b < blockCount; b++) prevIds[b] = 60000;
    std::memset(prevModes, 0, 300 * sizeof(uint16_t));
    redrawFrames = 2;
}

void Track::releaseBuffers() {
    std::free(timeline);
    std::free(modeWords);
    std::free(dictionary);
    std::free(entryOffsets);
    std::free(prevIds);
    std::free(prevModes);
    std::free(entryLines);
    entryLines = nullptr;
    entryLinesFirst = entryLinesCount = 0;
    timeline = modeWords = prevIds = prevModes = nullptr;
    dictionary = dictionaryCursor = nullptr;
    entryOffsets = nullptr;
    allocated = 0;
    // Without its buffers the slot can neither play nor go on loading.
    ready = 0;
    loadState = 0;
    delete reader;
    reader = nullptr;
    file = nullptr;
    delete source;
    source = nullptr;
}

void Track::clear() {
    releaseBuffers();
    ready = 0;
    name.clear();
    path.clear();
}

void Track::invalidate() {
    if (ready != Ready || source) return;
    for (int b = 0; b < 1200; b++) prevIds[b] = 60000;
    std::memset(prevModes, 0, 300 * sizeof(uint16_t));
    redrawFrames = 2;
}

static int readHeader(Track& t, bool format18) {
    std::cout << t.path << std::endl;
    delete t.reader;
    t.reader = new ClipReader;
    ClipReader& r = *t.reader;
    if (!r.open(t.path.c_str())) {
        std::puts("video n'existe pas");
        delete t.reader;
        t.reader = nullptr;
        return 0;
    }
    t.file = r.handle();
    ClipHeader h;
    readClipHeader(r, h);
    const char* problem = r.failed ? "file ends inside the header" : headerProblem(h, r.size());
    if (!problem && h.format != (format18 ? 18 : 17)) problem = "format byte changed since the probe";
    if (problem) return refuse(t, "%s", problem);
    t.format = h.format;
    t.hasAlpha = h.hasAlpha;
    t.width = h.width;
    t.height = h.height;
    t.frameCount = h.frameCount;
    t.entryCount = h.entryCount;
    t.dictionaryUnits = h.dictionaryUnits;
    t.timelineUnits = h.timelineUnits;
    t.blocksAcross = t.width / 8u;
    t.blocksDown = t.height / 8u;
    t.blockCount = t.blocksAcross * t.blocksDown;
    t.pixelCount = int32_t(t.width) * t.height;
    t.modeWordCount = int32_t(t.frameCount * (t.blockCount / 5));
    std::memset(t.classCounts, 0, sizeof t.classCounts);
    std::memset(t.classStart, 0, sizeof t.classStart);
    if (format18) {
        int classes = (t.hasAlpha + 1) * 8;
        int32_t sum = 0;
        for (int c = 0; c < classes; c++) {
            t.classCounts[c] = r.u16();
            t.classStart[c] = sum;
            sum += t.classCounts[c];
        }
        if (r.failed) return refuse(t, "file ends inside the class counts");
        if (sum != t.entryCount) return refuse(t, "class counts add up to %d, not entryCount %d", sum, t.entryCount);
    }
    if (!r.u16s(t.palette, 256)) return refuse(t, "file ends inside the palette");
    for (int i = 0; i < 256; i++) t.paletteWide[i] = t.palette[i] * 0x0001000100010001ull;
    t.allocateBuffers();
    if (!t.timeline || !t.modeWords || !t.dictionary || !t.entryOffsets || !t.prevIds || !t.prevModes)
        return refuse(t, "not enough memory for the clip");
    return 1;
}

int Track::readHeader17() { return readHeader(*this, false); }
int Track::readHeader18() { return readHeader(*this, true); }

// Reads block records from recordsRead on, at most maxRecords of them, then the mode words once
// all blocks are in. 0 refused, 1 more records to come, 2 timeline and mode words complete.
static int readRecords(Track& t, int maxRecords) {
    ClipReader& r = *t.reader;
    uint64_t capacity = uint64_t(t.timelineUnits) * 2;  // 4 bytes reserved per unit
    int last = t.recordsRead + maxRecords;
    if (last > int(t.blockCount)) last = int(t.blockCount);
    for (int b = t.recordsRead; b < last; b++) {
        uint16_t n = r.u16();
        if (r.failed) return refuse(t, "file ends inside the record of block %d", b);
        if (n > 255) return refuse(t, "block %d has %d segments (at most 255)", b, n);
        uint32_t idCount = n ? n : t.frameCount;
        uint32_t units = 1 + (n + 1) / 2 + idCount;
        if (uint64_t(t.timelineFill) + units > capacity)
            return refuse(t, "block timeline is larger than timelineUnits allows (block %d)", b);
        uint16_t* out = t.timeline + t.timelineFill;
        *out++ = n;
        if (n > 0) {
            uint8_t lengths[256];
            if (!r.bytes(lengths, n)) return refuse(t, "file ends inside the record of block %d", b);
            lengths[n] = 0;
            unsigned sum = 0;
            for (int s = 0; s < n; s++) sum += lengths[s] + 1u;
            if (sum != t.frameCount)
                return refuse(t, "segments of block %d add up to %u frames, not %d", b, sum, t.frameCount);
            for (int s = 0; s < n; s += 2) *out++ = uint16_t(lengths[s] | lengths[s + 1] << 8);
        }
        if (!r.u16s(out, idCount)) return refuse(t, "file ends inside the record of block %d", b);
        if (t.format == 17)
            for (uint32_t i = 0; i < idCount; i++)
                if (out[i] >= t.entryCount)
                    return refuse(t, "block %d shows entry %d of %d", b, out[i], t.entryCount);
        t.timelineFill += int32_t(units);
        t.recordsRead = b + 1;
    }
    if (t.recordsRead < int(t.blockCount)) return 1;
    if (!r.u16s(t.modeWords, size_t(t.modeWordCount))) return refuse(t, "file ends inside the mode words");
    return 2;
}

int Track::readTimeline17() { return readRecords(*this, int(blockCount)); }
int Track::readTimeline18() { return readRecords(*this, RecordsPerStep); }

// Format17: one entry, type byte first. false with loadError set when it is refused.
static bool readEntry17(Track& t, ClipReader& r, EntryBytes& e, int index) {
    uint8_t type = r.u8();
    e.put(type);
    int total = 0;
    switch (type & 7) {
    case 0:
    case 1:  // narrow run pairs: a run byte, then one or two colours of 1 or 2 bytes
        while (total < 64 && !r.failed) {
            uint8_t R = r.u8();
            e.put(R);
            total += (R >> 5) + 1;
            if (R & 2) e.put(r.u8()); else e.put16(r.u16());
            if (total >= 64) break;
            total += ((R >> 2) & 7) + 1;
            if (R & 1) e.put(r.u8()); else e.put16(r.u16());
        }
        break;
    case 2:
    case 3:  // wide run pairs, palette colours only
        while (total < 64 && !r.failed) {
            uint8_t R = r.u8();
            e.put(R);
            total += (R >> 4) + 1;
            e.put(r.u8());
            if (total >= 64) break;
            total += (R & 15) + 1;
            e.put(r.u8());
        }
        break;
    case 4: e.copy(r, 2); total = 64; break;
    case 5: e.copy(r, 1); total = 64; break;
    case 6: e.copy(r, 128); total = 64; break;
    case 7: e.copy(r, 64); total = 64; break;
    }
    if (r.failed) return refuse(t, "file ends inside entry %d", index), false;
    if (total != 64) return refuse(t, "runs of entry %d cover %d pixels, not 64", index, total), false;
    if (t.hasAlpha && !(type & 8) && !readAlphaRuns(r, e))
        return refuse(t, "alpha runs of entry %d do not cover 64 pixels", index), false;
    if (r.failed) return refuse(t, "file ends inside entry %d", index), false;
    return true;
}

// Format18: one entry of class c, no type byte.
static bool readEntry18(Track& t, ClipReader& r, EntryBytes& e, int index, int c) {
    int total = 0;
    switch (c & 7) {
    case 0: e.copy(r, 128); total = 64; break;
    case 1: e.copy(r, 64); total = 64; break;
    case 2:
    case 3: {  // four runs: H, then the colours the lengths call for
        uint16_t h = r.u16();
        e.put16(h);
        int l0 = (h & 31) + 1, l1 = ((h >> 5) & 31) + 1, l2 = ((h >> 10) & 31) + 1;
        int colours = 2;
        total = l0 + l1;
        if (total < 64) {
            colours = 3;
            total += l2;
            if (total < 64) {
                colours = 4;
                // Run 3 covers what is left, at most 32 pixels.
                total = total >= 32 ? 64 : total + 32;
            } else {
                total = 64;  // run 2 passing the 64th pixel is cut there: the block is whole
            }
        }
        e.copy(r, colours * (h & 0x8000 ? 1 : 2));
        break;
    }
    case 4:
    case 5:
    case 6:
    case 7: {  // separated runs: run bytes until 64 pixels, then one colour per run
        bool narrow = (c & 7) < 6;
        uint8_t palette[64];
        int runs = 0;
        while (total < 64 && !r.failed) {
            uint8_t R = r.u8();
            e.put(R);
            total += narrow ? (R >> 5) + 1 : (R >> 4) + 1;
            palette[runs++] = !narrow || (R & 2);
            if (total >= 64) break;
            total += narrow ? ((R >> 2) & 7) + 1 : (R & 15) + 1;
            palette[runs++] = !narrow || (R & 1);
        }
        for (int i = 0; i < runs && !r.failed; i++) e.copy(r, palette[i] ? 1 : 2);
        break;
    }
    }
    if (r.failed) return refuse(t, "file ends inside entry %d", index), false;
    if (total != 64) return refuse(t, "runs of entry %d cover %d pixels, not 64", index, total), false;
    if (c >= 8) {
        uint8_t a = r.u8();
        e.put(a);
        if (!(a & 0x20)) {
            if (a & 0xE0) return refuse(t, "alpha header 0x%02X of entry %d is not used by the format", a, index), false;
            if (!readAlphaRuns(r, e))
                return refuse(t, "alpha runs of entry %d do not cover 64 pixels", index), false;
        }
    }
    if (r.failed) return refuse(t, "file ends inside entry %d", index), false;
    return true;
}

static int readEntries(Track& t, int n) {
    ClipReader& r = *t.reader;
    if (n < 1) n = 1;  // a step always makes progress
    int last = t.entriesRead + n;
    if (last > t.entryCount) last = t.entryCount;
    uint64_t capacity = uint64_t(t.dictionaryUnits) * 2;
    int classes = (t.hasAlpha + 1) * 8;
    int c = 0;
    for (int e = t.entriesRead; e < last; e++) {
        while (c + 1 < classes && t.classStart[c + 1] <= e) c++;
        EntryBytes bytes;
        bool ok = t.format == 17 ? readEntry17(t, r, bytes, e) : readEntry18(t, r, bytes, e, c);
        if (!ok) return 0;
        if (uint64_t(t.dictionaryFill) + bytes.size > capacity)
            return refuse(t, "dictionary is larger than dictionaryUnits allows (entry %d)", e);
        t.entryOffsets[e] = t.dictionaryFill;
        std::memcpy(t.dictionaryCursor, bytes.b, size_t(bytes.size));
        t.dictionaryCursor += bytes.size;
        t.dictionaryFill += bytes.size;
        const int32_t line = e - t.entryLinesFirst;
        if (uint32_t(line) < uint32_t(t.entryLinesCount)) {
            const uint8_t* const entry = t.dictionary + t.entryOffsets[e];
            if (t.format == 18)
                expandEntryLine(entry, c & 7, t.paletteWide, t.entryLines + 64 * size_t(line));
            else if ((entry[0] & 7) < 4)  // Format17: a line for every entry, filled for the run-coded
                expandEntryLine17(entry, t.paletteWide, t.entryLines + 64 * size_t(line));
        }
        t.lastEntrySize = uint8_t(bytes.size);
        t.entriesRead = e + 1;
    }
    if (t.entriesRead < t.entryCount) return 1;
    delete t.reader;
    t.reader = nullptr;
    t.file = nullptr;
    return 2;
}

int Track::readDictionary17(int n) { return readEntries(*this, n); }
int Track::readDictionary18(int n) { return readEntries(*this, n); }

int Track::loadStep(int n) {
    if (source) {  // opened by assign: nothing to read
        if (loadState == 0) {
            FrameSource* s = source;
            source = nullptr;
            holdSource(s, name);
        }
        return 2;
    }
    if (loadState == 0) {
        std::string why;
        uint8_t formatByte = 0;
        if (!probeFile(path, &why, true, &formatByte)) {
            if (why != "cannot be opened") {
                std::snprintf(loadError, sizeof loadError, "%s", why.c_str());
                std::cout << "clip refused: " << path << ": " << loadError << std::endl;
            }
            return 0;
        }
        // The slot may still hold the remains of an interrupted load.
        releaseBuffers();
        int ok = formatByte == 18 ? readHeader18() : readHeader17();
        if (!ok) return 0;
        dictionaryCursor = dictionary;
        recordsRead = timelineFill = entriesRead = dictionaryFill = 0;
        lastEntrySize = 0;
        loadState = 1;
        return 1;
    }
    if ((loadState == 1 || loadState == 2) && !reader) return refuse(*this, "loading was interrupted");
    if (loadState == 1) {
        int result = format == 18 ? readTimeline18() : readTimeline17();
        if (result == 0) return 0;
        if (result == 2) loadState = 2;
        return 1;
    }
    if (loadState == 2) {
        int result = format == 18 ? readDictionary18(n) : readDictionary17(n);
        if (result == 0) return 0;
        if (result == 2) loadState = 3;
        return 1;
    }
    std::cout << (format == 18 ? "QUIBO 18 LOADED" : "QUIBO 17 LOADED") << std::endl;
    for (int b = 0; b < 1200; b++) prevIds[b] = 60000;
    ready = Ready;
    std::memset(prevModes, 0, 300 * sizeof(uint16_t));
    redrawFrames = 2;
    prepareDecoding();
    return 2;
}
