// audio.cpp: the null backend's audio device: there is none, so opening fails and the rest
// does nothing. Main thread.
#include "platform/platform.h"

namespace platform {

bool AudioOpen(int) {
    return false;
}
void AudioPlayLooping(const void*, uint32_t) {}
uint32_t AudioPosition() {
    return 0;
}
void AudioReset() {}
bool AudioLost() {
    return false;
}
void AudioClose() {}

} // namespace platform
