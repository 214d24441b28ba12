#include "app/FrameBuffers.h"

uint16_t* deckFrames = nullptr;
uint8_t* alphaPlane = nullptr;
uint16_t* mixFrames = nullptr;

// Allocated once and kept for the whole run; zeroed so that a deck never shows stale memory.
void allocateFrameBuffers() {
    if (!deckFrames) deckFrames = new uint16_t[2 * FramePixels]();
    if (!alphaPlane) alphaPlane = new uint8_t[FrameBytes]();
    if (!mixFrames) mixFrames = new uint16_t[2 * FramePixels]();
}
