// particle_texture_test.cpp: the committed particle texture is exactly its generator's output
// and loads as a glow: bright in the middle, black in the corners.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "image/dib_loader.h"
#include "particle_texture.h"

TEST(ParticleTexture, CommittedFileMatchesGeneratorAndLoads) {
    const std::string path = std::string(DEMO_DATA_DIR) + "/Data/Particle.bmp";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    std::vector<uint8_t> committed((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    EXPECT_EQ(committed, MakeParticleBitmap()) << "regenerate with tools/particle_texture";

    RgbImage* image = LoadBitmapImage(path.c_str());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, kParticleTextureSize);
    EXPECT_EQ(image->height, kParticleTextureSize);
    const int mid = kParticleTextureSize / 2;
    const uint8_t* centre = image->pixels + (size_t(mid) * image->width + mid) * 3;
    EXPECT_GT(centre[0], 200);
    EXPECT_EQ(image->pixels[0], 0);
    const uint8_t* halfway = image->pixels + (size_t(mid) * image->width + mid / 2) * 3;
    EXPECT_GT(halfway[0], 0);
    EXPECT_LT(halfway[0], centre[0]);
    FreeRgbImage(image);
}
