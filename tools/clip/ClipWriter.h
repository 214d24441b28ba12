// The clip writer: an in-memory clip serialised to the bytes of a Format17 (".q17") or Format18
// (".q18") file, the inverse of the track loader. Used by loopmixer-clip, the encoder and the tests.
//
// A clip is:
//   - header fields (format, hasAlpha, width, height, frameCount; entryCount, dictionaryUnits,
//     timelineUnits and the Format18 class counts are computed when the clip is serialised);
//   - a palette of 256 RGB565 colours;
//   - one BlockRecord per block (1200 for 320x240): either segments (frame counts + one id each)
//     or, with no segments, one id per frame;
//   - the fill mode of every block in every frame (packed into ModeWords when serialised);
//   - the dictionary: entries as encoded byte strings. In Format18 the entries must be in class
//     order (all class 0, then class 1, ...): serialise() fails otherwise.
//
// Typical use:
//   ClipFile clip(18, 0, 60);                       // Format18, no alpha, 60 frames
//   clip.palette[1] = 0xF800;
//   uint16_t e = clip.addEntry(encode18Indices(indices, noAlpha()));
//   clip.setSegments(b, {{30, e}, {30, 0x07E0}});   // block b: entry e, then a literal colour
//   clip.setMode(f, b, 1);                          // fill mode of block b in frame f
//   clip.writeFile("videos/demo.q18");
//
// The entry encoders return an empty byte string when the description does not fit the form
// (run lengths out of range, runs not adding up to 64, a wide run with a direct colour).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace clipwriter {

constexpr int BlocksAcross = 40;
constexpr int BlocksDown = 30;
constexpr int BlockCount = BlocksAcross * BlocksDown;  // 1200
constexpr int ModeWordsPerFrame = BlockCount / 5;      // 240

// One colour run of a run-coded entry, in the entry's scan order.
struct Run {
    uint8_t length;   // pixels, 1..8 (narrow forms), 1..16 (wide forms), 1..32 (four-run form)
    uint16_t colour;  // palette index when palette is true, else a direct RGB565 colour
    bool palette;
};

// The alpha of an entry: none (a clip without alpha), uniform, or 64 values in row order.
struct EntryAlpha {
    enum Kind { None, Uniform, Values } kind = None;
    uint8_t uniform = 15;
    uint8_t values[64] = {};
};
EntryAlpha noAlpha();
EntryAlpha uniformAlpha(uint8_t value);       // value 0..15
EntryAlpha alphaValues(const uint8_t v[64]);  // row order, each 0..15

// An encoded dictionary entry. cls is the Format18 EntryClass (0..15); unused in Format17.
struct ClipEntry {
    uint8_t cls = 0;
    std::vector<uint8_t> bytes;
};

// One block's record. lengths empty: ids holds one id per frame. Otherwise lengths[s] is the
// number of frames (1..256) of segment s, and ids[s] the id it shows.
struct BlockRecord {
    std::vector<uint16_t> lengths;
    std::vector<uint16_t> ids;
};

class ClipFile {
public:
    uint8_t format = 17;
    uint8_t hasAlpha = 0;
    uint16_t width = 320;
    uint16_t height = 240;
    uint16_t frameCount = 1;
    uint16_t palette[256] = {};
    std::vector<BlockRecord> blocks;   // BlockCount records
    std::vector<uint8_t> modes;        // frameCount x BlockCount fill modes (0..7), frame by frame
    std::vector<ClipEntry> entries;

    ClipFile() = default;
    // Every block one segment of all frames showing id 0, every fill mode 0.
    ClipFile(uint8_t format, uint8_t hasAlpha, uint16_t frameCount);

    uint16_t addEntry(const ClipEntry& e);  // returns the new entry's id
    // Adds e unless an entry with the same class and bytes exists; returns the id either way.
    uint16_t addSharedEntry(const ClipEntry& e);
    void setSegments(int block, const std::vector<std::pair<int, uint16_t>>& framesAndIds);
    void setPerFrame(int block, const std::vector<uint16_t>& idPerFrame);
    // Picks segments (consecutive equal ids) or one id per frame, whichever the format allows
    // and is smaller.
    void setIds(int block, const std::vector<uint16_t>& idPerFrame);
    void setMode(int frame, int block, int mode) { modes[size_t(frame) * BlockCount + block] = uint8_t(mode); }
    void setModeAll(int frame, int mode);

    // Computed header fields, as serialise() writes them.
    uint32_t timelineUnits() const;    // in-memory size of the block records in 16-bit units
    uint32_t dictionaryBytes() const;
    // The file's bytes; empty when the clip is inconsistent (block or mode counts, segment
    // lengths not adding up to frameCount, more than 255 segments, more than 65535 entries,
    // Format18 entries out of class order).
    std::vector<uint8_t> serialise(std::string* why = nullptr) const;
    bool writeFile(const std::string& path, std::string* why = nullptr) const;
};

// The 64 pixel indices (8 x row + column) of a block in ScanOrder (fillMode 0..5, variant 0/1).
void scanOrder(int fillMode, int variant, uint8_t order[64]);
// The runs of 64 pixels (row order) along a scan order, each at most maxLength long, all with
// direct colours.
std::vector<Run> runsAlong(const uint16_t pixels[64], int fillMode, int variant, int maxLength);
// AlphaRun bytes for 64 alpha values in row order (runs of at most 16).
std::vector<uint8_t> alphaRuns(const uint8_t values[64]);

// Format17 entries. With a clip that has no alpha, pass noAlpha() (or uniformAlpha, which costs
// nothing). In a clip with alpha every entry needs uniformAlpha or alphaValues.
ClipEntry encode17Colour(uint16_t colour, const EntryAlpha& a);          // type 4
ClipEntry encode17Index(uint8_t index, const EntryAlpha& a);             // type 5
ClipEntry encode17Pixels(const uint16_t pixels[64], const EntryAlpha& a);  // type 6
ClipEntry encode17Indices(const uint8_t indices[64], const EntryAlpha& a); // type 7
// type 0/1: narrow runs (1..8, palette or direct); 2/3: wide runs (1..16, palette only). Bit 0 of
// the type is the scan variant.
ClipEntry encode17Runs(int type, const std::vector<Run>& runs, const EntryAlpha& a);

// Format18 entries; the class is k, or k + 8 when the entry carries an alpha part (alphaValues or
// a uniform value other than 15 in a clip with alpha). In a clip without alpha pass noAlpha().
ClipEntry encode18Pixels(const uint16_t pixels[64], const EntryAlpha& a);    // k 0
ClipEntry encode18Indices(const uint8_t indices[64], const EntryAlpha& a);   // k 1
// k 2/3 (variant): two to four runs of one colour kind; runs 0..2 1..32 long, run 3 the rest.
ClipEntry encode18FourRuns(int variant, const std::vector<Run>& runs, const EntryAlpha& a);
ClipEntry encode18Narrow(int variant, const std::vector<Run>& runs, const EntryAlpha& a);  // k 4/5
ClipEntry encode18Wide(int variant, const std::vector<Run>& runs, const EntryAlpha& a);    // k 6/7

// Little-endian patching helpers for tests that corrupt a serialised clip on purpose.
void putU16(std::vector<uint8_t>& bytes, size_t at, uint16_t v);
void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v);

}  // namespace clipwriter
