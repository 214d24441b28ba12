// The three frame buffers shared by the decoders, the compositor and the editor preview. Allocated
// once at start-up; each pair buffer holds deck 0's 320x240 RGB565 frame followed by deck 1's.
#pragma once
#include <cstdint>

constexpr int FrameWidth = 320;
constexpr int FrameHeight = 240;
constexpr int FramePixels = FrameWidth * FrameHeight;  // 76,800
constexpr int FrameBytes = FramePixels * 2;            // 153,600

extern uint16_t* deckFrames;  // 2 frames, written by the decoders
extern uint8_t* alphaPlane;   // 153,600 bytes, alpha 0..15 of deck 1 (76,800 used)
extern uint16_t* mixFrames;   // 2 frames, the compositor's working copy
// The 320x240 picture every screen draws on, as memory: the compositor presents into it, and the
// platform's screen surface is made over it for the drawing that goes through SDL.
extern uint16_t* screenPixels;

void allocateFrameBuffers();
