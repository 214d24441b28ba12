// The console vendor's frame object: a target frame rate and a frame pacing wait.
#pragma once
#include <cstdint>

class DGE_Frame {
public:
    int32_t fps;
    int32_t frameCount;
    int32_t elapsed;
    int32_t currentTick;
    int32_t startTick;
    int32_t lastTick;
    float frameTime;

    DGE_Frame();
    ~DGE_Frame();
    void SetFPS(int fps);
    void SetFrameName(const char* a, const char* b);
    int CreateFrame(int video, int audio, int joystick);
    void waitFrame();
};

extern DGE_Frame g_cFrame;
