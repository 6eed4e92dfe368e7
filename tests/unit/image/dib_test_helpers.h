// dib_test_helpers.h: reading result pixels, recording the loader's message boxes and writing
// temporary files, for the loader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "image/dib_loader.h"

// The RGB triple of pixel (x, row) of an image, row 0 at the bottom.
inline std::vector<int> PixelAt(const RgbImage* image, int x, int row) {
    const uint8_t* p = image->pixels + (size_t(row) * image->width + x) * 3;
    return {p[0], p[1], p[2]};
}

struct RecordedBox {
    std::string text;
    std::string caption;
    platform::MessageButtons buttons;
    platform::MessageIcon icon;
};
inline std::vector<RecordedBox> recordedBoxes;

inline int RecordBox(const char* text, const char* caption, platform::MessageButtons buttons,
                     platform::MessageIcon icon) {
    recordedBoxes.push_back({text, caption, buttons, icon});
    return platform::AnswerOk;
}

inline std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = ::testing::TempDir() + "dib_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}
