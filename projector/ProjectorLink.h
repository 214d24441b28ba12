// The instrument's side of the projector: starts the projector program (found next to the running
// binary), hands it every mixed picture through shared memory with a one-byte wake-up, and
// watches it. Nothing here waits for the projector: a full socket or a busy projector only means
// that it shows a newer frame; its exit is noticed on the next frame.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "projector/ProjectorPlace.h"

struct ProjectorSegment;

class ProjectorLink {
public:
    // The program started; empty: loopmixer-projector next to the running binary.
    std::string program;

    // Starts the projector at a resolved place. Returns false with the reason in error.
    bool open(const ProjectorPlace& place, std::string& error);
    // Tells the projector to leave (end of file on its socket) and forgets it; it is reaped later.
    void close();
    bool isOpen() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The newest mixed picture (320x240 RGB565, pitch in pixels) with the fit and look to show it
    // with.
    void publish(const uint16_t* pixels, int32_t pitch, int32_t fit, int32_t look);
    // The main window has just presented: stamps the frame published before it.
    void presented();
    // Once a frame: true when the projector has gone on its own since the last call, with why.
    bool checkGone(std::string& reason);

    // The segment's name for this process, and the removal of segments whose process is gone.
    static std::string segmentName(pid_t owner);
    static int removeStaleSegments();

private:
    void release();
    void reapLeaving(bool force);

    pid_t pid_ = -1;
    int wake_ = -1;
    ProjectorSegment* segment_ = nullptr;
    uint32_t sequence_ = 0;
    bool publishedUnpresented_ = false;
    // Projectors told to leave and not yet reaped, with when they were told (ms).
    pid_t leaving_[4] = {};
    uint64_t leavingSinceMs_[4] = {};
};

extern ProjectorLink projectorLink;
