// Shared by the track and clip tests: clip files written into a scratch videos/ folder and loaded
// into a slot the way the program does it.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/FrameBuffers.h"
#include "tools/clip/ClipWriter.h"
#include "tracks/Track.h"

inline const std::string& scratchDir() {
    static std::string dir = [] {
        char path[] = "/tmp/loopmixer-tracks-XXXXXX";
        std::string d = mkdtemp(path) ? path : "/tmp";
        std::system(("mkdir -p '" + d + "/videos'").c_str());
        return d;
    }();
    return dir;
}

inline void putClip(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen((scratchDir() + "/videos/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::unique_ptr<Track> newTrack() {
    allocateFrameBuffers();
    return std::make_unique<Track>();
}

// Loads name with steps of n until the loader answers 0 or 2; the answers, one per call.
inline std::vector<int> loadClip(Track& t, const std::string& name, int n = 65000) {
    t.assign(scratchDir(), name);
    std::vector<int> answers;
    for (int i = 0; i < 100; i++) {
        answers.push_back(t.loadStep(n));
        if (answers.back() != 1) break;
    }
    return answers;
}

inline std::vector<int> loadBytes(Track& t, const std::string& name, const std::vector<uint8_t>& bytes, int n = 65000) {
    putClip(name, bytes);
    return loadClip(t, name, n);
}

// Deck d's pixel (x, y) and the alpha plane's byte there.
inline uint16_t deckPixel(int deck, int x, int y) { return deckFrames[deck * FramePixels + y * FrameWidth + x]; }
inline uint8_t alphaAt(int x, int y) { return alphaPlane[y * FrameWidth + x]; }
