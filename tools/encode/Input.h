// Reading the frames of an input: a video or animated picture through FFmpeg's libraries, or a
// numbered PNG sequence (a folder of .png files, or a printf pattern such as "shot%04d.png").
// Every input comes out the same way: at most maxFrames frames at the deck rate, fitted to
// 320x240 and quantised to RGB565.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "tools/encode/Picture.h"

namespace encode {

struct InputSettings {
    double rate = 25;          // output frames per second
    double start = 0;          // seconds skipped at the start
    double duration = 0;       // seconds kept; 0 = as many as maxFrames allows
    int maxFrames = 255;
    double sequenceRate = 25;  // frames per second of a picture sequence
    Fit fit = Fit::Crop;
    bool dither = false;
};

struct InputClip {
    std::vector<Frame565> frames;
    bool hasAlpha = false;  // the input has an alpha channel and uses it
    int expectedFrames = 0;
    // Set when the input went on past the 255 frames a clip holds and was cut there: how much of
    // it was left out, in seconds (negative when the input does not say how long it is).
    bool cut = false;
    double droppedSeconds = -1;
    bool alphaDropped = false;  // the input has alpha that no decoder here can read
};

// Called after each output frame with (frames done, frames expected or 0 when unknown).
using ProgressFn = std::function<void(int, int)>;

// Fills clip; on failure returns false with one line in error (no trailing newline).
bool readInput(const std::string& path, const InputSettings& settings, InputClip& clip,
               const ProgressFn& progress, std::string& error);

// True when path names a picture sequence (a folder, a pattern with '%', or a .png file).
bool isPictureSequence(const std::string& path);

}  // namespace encode
