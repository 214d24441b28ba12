#include "core/FrameBuffers.h"

#include <new>

uint16_t* deckFrames = nullptr;
uint8_t* alphaPlane = nullptr;
uint16_t* mixFrames = nullptr;
uint16_t* screenPixels = nullptr;

// Allocated once and kept for the whole run; zeroed so that a deck never shows stale memory.
void allocateFrameBuffers() {
    if (!deckFrames) deckFrames = new (std::align_val_t(64)) uint16_t[2 * FramePixels]();
    if (!alphaPlane) alphaPlane = new (std::align_val_t(64)) uint8_t[FrameBytes]();
    if (!mixFrames) mixFrames = new (std::align_val_t(64)) uint16_t[2 * FramePixels]();
    if (!screenPixels) screenPixels = new (std::align_val_t(64)) uint16_t[FramePixels]();
}
