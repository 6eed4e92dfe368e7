// frame_loop.h: runs the real show (window, the entry routine's preparation, DrawShowFrame) on
// a virtual clock at a fixed frame rate, handing every drawn frame to a callback before it is
// presented. Shared by the frame-capture tool and any other tool that records the show. Main
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

constexpr int kShowWidth = 640;
constexpr int kShowHeight = 480;

struct ShowFrame {
    int64_t index;      // 0 for the program's first frame
    uint32_t programMs; // virtual program clock when the frame was drawn
    float showTime;     // the show clock after the frame (intro time while the intro runs)
    bool intro;         // drawn by the intro
};

// Opens the 640x480 window (not full screen) and prepares the show with the virtual clock at 0.
// False when no window could be opened.
bool OpenShowWindow();
void CloseShowWindow();

// Draws frame after frame, frame n at program time n * 1000 / fps ms (rounded down), until the
// show ends (that last frame is not handed on) or `onFrame` returns false; between runs the
// program clock reads 0. `onFrame` sees the
// frame in the back buffer, before the buffers are swapped. Returns the number of frames drawn.
int64_t RunShowFrames(int fps, const std::function<bool(const ShowFrame&)>& onFrame);

// Reads the back buffer into top-down RGB rows (kShowWidth x kShowHeight).
void ReadShowFrame(std::vector<uint8_t>* rgb);
