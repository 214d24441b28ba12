// A deck picture that does not come from a clip file: a live input, or frames sampled from one.
// A track slot holding one plays it like a loaded clip (positions, loops, filters, blends). Only
// the desktop build has sources: without them a "live:" entry is a clip file that does not exist.
#pragma once
#include <cstdint>
#include <string>

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Writes the 320x240 RGB565 picture of position (0 .. frameCount() - 1) into frame.
    virtual void drawFrame(int position, uint16_t* frame) = 0;
    virtual int frameCount() const = 0;
    // A live input: one position, no rates, reverse or scrubbing (the overlay says "live").
    virtual bool live() const = 0;
};

// Set by the desktop's live part at start-up; both null elsewhere.
struct FrameSourceHooks {
    // Whether the entry names a source this build can open (its kind and protocol are allowed).
    bool (*accepts)(const std::string& entry) = nullptr;
    // A source for the entry (the slot owns it), or nullptr when it is not accepted.
    FrameSource* (*open)(const std::string& entry) = nullptr;
};
extern FrameSourceHooks frameSourceHooks;

// Playlist entries that name a live source instead of a clip file start with this.
constexpr const char* LivePrefix = "live:";
inline bool isLiveEntry(const std::string& entry) { return entry.compare(0, 5, LivePrefix) == 0; }
