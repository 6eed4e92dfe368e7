// cube_field_test.cpp: the lattice's layout, extent and index order, and the size invariant.
#include <gtest/gtest.h>

#include <algorithm>

#include "show/cube_field.h"

namespace {

class CubeFieldTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cubeField = CubeFieldState{};
        InitCubeField();
    }
};

TEST_F(CubeFieldTest, IndexOrderIsLayerRowColumnWithColumnFastest) {
    const CubeCell* c = cubeField.cubeCells;
    EXPECT_FLOAT_EQ(c[0].x, -0.255f);
    EXPECT_FLOAT_EQ(c[0].y, -0.255f);
    EXPECT_FLOAT_EQ(c[0].z, -0.37f);
    // Column k moves x, row j moves y, layer i moves z, each by the pitch 0.06.
    EXPECT_NEAR(c[1].x - c[0].x, 0.06f, 1e-6);
    EXPECT_EQ(c[1].y, c[0].y);
    EXPECT_EQ(c[1].z, c[0].z);
    EXPECT_NEAR(c[10].y - c[0].y, 0.06f, 1e-6);
    EXPECT_EQ(c[10].x, c[0].x);
    EXPECT_NEAR(c[100].z - c[0].z, 0.06f, 1e-6);
    EXPECT_EQ(c[100].x, c[0].x);
    const CubeCell& cell = c[100 * 3 + 10 * 7 + 2];
    EXPECT_NEAR(cell.x, -0.255f + 0.06f * 2, 1e-5);
    EXPECT_NEAR(cell.y, -0.255f + 0.06f * 7, 1e-5);
    EXPECT_NEAR(cell.z, -0.37f + 0.06f * 3, 1e-5);
    for (const CubeCell& each : cubeField.cubeCells) EXPECT_EQ(each.size, 0.05f);
}

TEST_F(CubeFieldTest, FullSizeExtentWithGaps) {
    float minX = 1, maxX = -1, minY = 1, maxY = -1, minZ = 1, maxZ = -1;
    for (const CubeCell& c : cubeField.cubeCells) {
        minX = std::min(minX, c.x), maxX = std::max(maxX, c.x + c.size);
        minY = std::min(minY, c.y - c.size), maxY = std::max(maxY, c.y);
        minZ = std::min(minZ, c.z - c.size), maxZ = std::max(maxZ, c.z);
    }
    EXPECT_NEAR(minX, -0.255f, 1e-5);
    EXPECT_NEAR(maxX, 0.335f, 1e-5);
    EXPECT_NEAR(minY, -0.305f, 1e-5);
    EXPECT_NEAR(maxY, 0.285f, 1e-5);
    EXPECT_NEAR(minZ, -0.42f, 1e-5);
    EXPECT_NEAR(maxZ, 0.17f, 1e-5);
    // Neighbouring cubes leave a gap of 0.01.
    const CubeCell* c = cubeField.cubeCells;
    EXPECT_NEAR(c[1].x - (c[0].x + c[0].size), 0.01f, 1e-5);
}

TEST_F(CubeFieldTest, SizeReachesEveryCellAndStaysAcrossInit) {
    SetCubeSize(0.0125f);
    EXPECT_EQ(GetCubeSize(), 0.0125f);
    for (const CubeCell& c : cubeField.cubeCells) ASSERT_EQ(c.size, 0.0125f);
    // Positions never move with the size.
    EXPECT_FLOAT_EQ(cubeField.cubeCells[999].x, -0.255f + 0.06f * 9);
    InitCubeField(); // takes the current size
    for (const CubeCell& c : cubeField.cubeCells) ASSERT_EQ(c.size, 0.0125f);
    SetCubesTranslucent(2);
    EXPECT_TRUE(cubeField.cubesTranslucent);
    SetCubesTranslucent(0);
    EXPECT_FALSE(cubeField.cubesTranslucent);
}

} // namespace
