// show_timeline.h: the per-frame show: clock, segment, camera, scene, captions, fades. Main thread.
#pragma once

// Clears and draws the frame of the current show time; false once the show is over.
bool DrawShowFrame();
