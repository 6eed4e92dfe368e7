// audio_match.cpp: checks that raw 16-bit stereo bytes a sound device played are, frame for
// frame, the frames of a WAV rendering of the same song, wherever the device's first ring frame
// lies in its recording. Used by the audio end-to-end test.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The frames of a WAV file's data chunk (16-bit stereo assumed, checked by the caller's render).
bool WavFrames(const std::vector<uint8_t>& wav, std::vector<uint32_t>* frames) {
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0 ||
        std::memcmp(wav.data() + 8, "WAVE", 4) != 0)
        return false;
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        const uint32_t size = Le32(wav.data() + at + 4);
        if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            const size_t end = at + 8 + size <= wav.size() ? at + 8 + size : wav.size();
            for (size_t i = at + 8; i + 4 <= end; i += 4) frames->push_back(Le32(wav.data() + i));
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

size_t FirstSound(const std::vector<uint32_t>& frames) {
    size_t i = 0;
    while (i < frames.size() && frames[i] == 0) ++i;
    return i;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: audio_match DEVICE.raw RENDER.wav MIN_FRAMES\n");
        return 2;
    }
    const std::vector<uint8_t> raw = ReadAll(argv[1]);
    std::vector<uint32_t> device;
    for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
        device.push_back(raw[i] | raw[i + 1] << 8 | raw[i + 2] << 16 | uint32_t(raw[i + 3]) << 24);
    }
    std::vector<uint32_t> render;
    if (!WavFrames(ReadAll(argv[2]), &render)) {
        std::fprintf(stderr, "audio_match: %s is not a WAV file with a data chunk\n", argv[2]);
        return 2;
    }
    const size_t minFrames = std::strtoul(argv[3], nullptr, 10);

    // The device plays silence of its own before the ring is handed over; the ring's first frame
    // lies where the first sound of the recording is, less the render's own leading silence.
    const size_t deviceSound = FirstSound(device);
    const size_t renderSound = FirstSound(render);
    if (deviceSound == device.size() || renderSound == render.size()) {
        std::fprintf(stderr, "audio_match: no sound (device %zu frames, render %zu frames)\n",
                     device.size(), render.size());
        return 1;
    }
    if (deviceSound < renderSound) {
        std::fprintf(stderr, "audio_match: the device's sound starts before the render's\n");
        return 1;
    }
    const size_t offset = deviceSound - renderSound;

    size_t n = 0;
    while (offset + n < device.size() && n < render.size() && device[offset + n] == render[n]) ++n;
    // Where the comparison stops, the device's recording must end, or end in the silence of a
    // device stopped at exit; anything else is a lost or repeated frame.
    size_t rest = offset + n;
    while (rest < device.size() && device[rest] == 0) ++rest;
    std::printf("ring starts at device frame %zu; %zu frames (%.2f s) match the render\n", offset,
                n, n / 44100.0);
    if (n < render.size() && rest < device.size()) {
        std::fprintf(stderr,
                     "audio_match: device frame %zu differs from render frame %zu "
                     "(device %08x, render %08x)\n",
                     offset + n, n, device[offset + n], render[n]);
        return 1;
    }
    if (n < minFrames) {
        std::fprintf(stderr, "audio_match: only %zu frames matched, %zu needed\n", n, minFrames);
        return 1;
    }
    return 0;
}
