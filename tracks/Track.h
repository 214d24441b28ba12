// One of the 50 RAM slots that hold a clip in its compressed form, and its progressive loader and
// frame decoders (Format17 ".q17" and Format18 ".q18").
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

class ClipReader;
class FrameSource;

constexpr int TrackSlots = 50;
constexpr int32_t Ready = 3;
constexpr int MaxBlocks = 6000;
constexpr int ClipBlocks = 1200;  // 40 x 30 blocks: the only picture size the loader accepts
// Zeroed bytes after the dictionary: the run decoders may read a few bytes past an entry's last
// colour (and so past the last entry), and discard what they read there.
constexpr int DictionaryPadding = 16;

class Track {
public:
    std::string name;
    std::string path;
    uint8_t format = 0;
    uint8_t hasAlpha = 0;
    uint16_t frameCount = 0;
    uint16_t entryCount = 0;
    uint16_t classCounts[16] = {};
    int32_t classStart[16] = {};
    uint32_t timelineUnits = 0;
    int32_t modeWordCount = 0;
    uint32_t dictionaryUnits = 0;
    uint16_t* timeline = nullptr;
    uint16_t* modeWords = nullptr;
    uint8_t* dictionary = nullptr;
    int32_t* entryOffsets = nullptr;
    uint16_t* prevIds = nullptr;
    uint16_t* prevModes = nullptr;
    uint32_t loadState = 0;
    int32_t recordsRead = 0;
    int32_t timelineFill = 0;
    int32_t entriesRead = 0;
    uint8_t lastEntrySize = 0;
    int32_t dictionaryFill = 0;
    uint8_t* dictionaryCursor = nullptr;
    uint16_t palette[256] = {};
    uint16_t* cursor = nullptr;
    int32_t redrawFrames = 0;
    int32_t ready = 0;
    uint16_t width = 0, height = 0;
    uint32_t blocksAcross = 0, blocksDown = 0;
    uint32_t blockCount = 0;
    int32_t pixelCount = 0;
    int32_t allocated = 0;
    FILE* file = nullptr;
    int32_t fillVariant = 0;
    int32_t runCoded = 0;
    int16_t runPalette[64] = {};
    uint16_t runLength[64] = {};
    uint16_t runColour[64] = {};
    alignas(8) uint8_t alphaScratch[64] = {};  // word aligned: copied to the alpha plane by words
    uint8_t segmentCount[MaxBlocks] = {};
    uint8_t segmentIndex[MaxBlocks] = {};
    uint16_t currentIds[MaxBlocks] = {};
    ClipReader* reader = nullptr;  // the open clip while loading; file is its handle
    char loadError[160] = {};      // why the last load was refused, for the log line and tools
    // A slot that plays pictures from elsewhere (tracks/FrameSource.h) instead of a clip: owned,
    // deleted when the slot is released.
    FrameSource* source = nullptr;

    // Playback state kept between decodes so that selectIds does not walk every record from its
    // start each frame: per block the segment in force and its frames [segmentFrom, segmentUntil),
    // and the ids chosen for them before GLITCH rewrites currentIds. No block changes segment
    // while the position stays in [selectedFrom, selectedUntil). Set up by prepareDecoding.
    uint32_t recordStart[ClipBlocks] = {};
    uint8_t segmentFrom[ClipBlocks] = {};
    uint8_t segmentUntil[ClipBlocks] = {};
    uint16_t selectedIds[ClipBlocks] = {};
    int32_t selectedFrom = 0, selectedUntil = 0;
    int32_t classFirst[16] = {};  // classStart, with classes the clip does not have never reached
    // Each palette colour repeated four times, so that a run takes its colour in one load and
    // fills eight or sixteen pixels with a few 64-bit stores. Set up as the palette is read.
    uint64_t paletteWide[256] = {};
    // Format18 separated-run entries (classes 4..7), and Format17 run-coded entries of a clip
    // without alpha, expanded at load where the decoders use them: entry entryLinesFirst + i has
    // its 64 colours in scan order at entryLines + 64 * i (Format17: every entry has a line)
    // (tracks/EntryLines.h). entryLinesCount 0: none, the runs are decoded every frame.
    uint16_t* entryLines = nullptr;
    int32_t entryLinesFirst = 0, entryLinesCount = 0;

    // Size estimate of a clip file for the editor's RAM figure; 0 when it is missing or not a clip.
    static int32_t probe(const std::string& path);
    // The same, quietly; why (when not null) says what is wrong with a file that is refused.
    static int32_t probeQuietly(const std::string& path, std::string* why);

    void assign(const std::string& workingDir, const std::string& fileName);
    int loadStep(int n);  // 0 failed, 1 going on, 2 loaded
    void decodeFrame(int deck, int position, int blendMode);
    void invalidate();
    void releaseBuffers();
    void clear();
    // Makes the slot play source (owned from now on) under name, ready at once.
    void holdSource(FrameSource* s, const std::string& sourceName);

    // Loading phases (each checks everything it reads; 0 refused, 1 more to come, 2 complete).
    int readHeader17();
    int readHeader18();
    int readTimeline17();
    int readTimeline18();
    int readDictionary17(int n);
    int readDictionary18(int n);
    void allocateBuffers();

    // Decoding of a loaded clip; the loader has made every byte safe to trust here.
    void selectIds(int position);
    void decodeFrame17(int deck, int position, int blendMode);
    void decodeFrame18(int deck, int position, int blendMode);
    void prepareDecoding();  // once the clip is completely loaded
    void seekSegment(int b, int position);
};

extern Track tracks[TrackSlots];

// The instruction set of the frame decoders' block loops: 0 the portable build (SSE2 on x86-64),
// 1 AVX2 (an AVX-512 build measured slower than AVX2 on a processor with both). The widest the
// processor runs is chosen at the first decode; every level draws the same pixels. setBlockDecoderLevel returns false, changing nothing, for a level the
// processor (or this build) lacks; tests use it to compare the levels.
int blockDecoderLevel();
bool setBlockDecoderLevel(int level);
