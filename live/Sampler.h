// Live sampling: the pictures a live deck shows become a clip in RAM that plays on that deck at
// once, looping like any clip, while it is saved in the background as a .q18 into videos/sampled/
// and added to the playlist "Sampled".
//
// With a tempo (taps, a MIDI clock) a take starts on the next beat and ends on a beat:
// the whole beats held, rounded down to 1, 2, 4, 8 or 16, or one bar for a short press. Without
// one it lasts as long as the control is held, or two seconds for a short press. Never more than
// 255 frames (then the most beats that fit).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tracks/FrameSource.h"

class LiveSource;

constexpr int MaxSampleFrames = 255;
constexpr uint32_t ShortPressMs = 400;
constexpr uint32_t UntimedShortTakeMs = 2000;
constexpr int SampleQuality = 75;  // the encoder's default
extern const char* const SampledPlaylist;  // "Sampled"

using SampleFrames = std::shared_ptr<const std::vector<uint16_t>>;

// A sampled take as a clip: its frames, exact, shared with the background save.
class SampledClip : public FrameSource {
public:
    SampledClip(SampleFrames f, int n) : frames(std::move(f)), count(n) {}
    void drawFrame(int position, uint16_t* frame) override;
    int frameCount() const override { return count; }
    bool live() const override { return false; }
    const uint16_t* picture(int position) const;
    int64_t firstDrawnUs = 0, firstDrawnFrame = 0;  // when it was first shown, for the figures

private:
    SampleFrames frames;
    int count;
};

class Sampler {
public:
    // The control: down starts a take on the deck (0 or 1) if it shows a live source, up ends it.
    void press(int deck, uint32_t nowMs);
    void release(int deck, uint32_t nowMs);
    void set(int deck, bool down, uint32_t nowMs) { down ? press(deck, nowMs) : release(deck, nowMs); }
    // Once per frame on the Mix screen, after the decks took their pictures.
    void step(uint32_t nowMs);
    // Once per frame: finished saves go into the playlist (outside the editor), failures are shown.
    void pollSaves();
    // Waits for every save under way (at the end of a run).
    void finishSaves();
    bool sampling(int deck) const { return deck >= 0 && deck < 2 && takes[deck].state != Idle; }
    bool savesPending() const { return !saves.empty(); }
    void reset();

    // Figures of the last take: when it ended, when its file was saved (liveClockUs), its track
    // slot, its frames and the file ("sampled/NAME.q18", empty until saved).
    int64_t lastEndUs = 0, lastSavedUs = 0;
    int32_t lastSlot = -1, lastFrames = 0;
    int64_t lastStartFrame = 0, lastEndFrame = 0;  // frames of the main loop (framesRun)
    std::string lastFile;
    SampledClip* lastClip = nullptr;  // owned by its track slot; only compared, never followed

private:
    enum State { Idle = 0, Waiting = 1, Recording = 2 };
    struct Take {
        int32_t state = Idle;
        bool held = false, timed = false;
        uint32_t pressMs = 0, startMs = 0;
        int64_t startFrame = 0;
        double startBeat = 0;
        LiveSource* source = nullptr;
        int32_t slot = -1;
        std::shared_ptr<std::vector<uint16_t>> frames;
        int32_t count = 0;
        int32_t beatsDone = 0;
        int32_t marks[17] = {};  // frames taken when each beat began
        int32_t targetBeats = 0;  // a short press with a tempo: end after this many beats
        uint32_t untilMs = 0;     // a short press without one: end then
    };
    struct Save {
        std::thread thread;
        std::atomic<bool> done{false};
        bool ok = false;
        std::string file, error;
        int64_t doneUs = 0;
        SampledClip* clip = nullptr;
    };
    void finish(int deck, int32_t frames);
    void save(SampleFrames frames, int32_t count, SampledClip* clip, const std::string& base);

    Take takes[2];
    std::vector<std::unique_ptr<Save>> saves;
    int32_t taken = 0;  // takes of this run, for names
};

extern Sampler sampler;

// Encodes frames as a .q18 at the sampling quality and writes it as folder/base.q18 (or
// base-2.q18, ... : an existing file is never replaced). Returns the file name written, or "" with
// why set. Runs on the saving thread.
std::string writeSampledClip(const std::vector<uint16_t>& frames, int32_t count, const std::string& folder,
                             const std::string& base, std::string& why);
