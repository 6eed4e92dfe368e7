// particle_engine_test.cpp: the particles' rand order and their life cycle, observed through the
// engine's own step with a recording draw function instead of OpenGL.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "show/particle_engine.h"

namespace {

struct Drawn {
    Particle particle;
    float h, k;
};
std::vector<Drawn> drawn;
void Record(const Particle& p, float h, float k) {
    drawn.push_back({p, h, k});
}

// One step of the system; returns what was drawn of particle `index`.
Drawn Step(int index) {
    drawn.clear();
    AdvanceParticles(&Record);
    return drawn.at(size_t(index));
}

class ParticleTest : public ::testing::Test {
  protected:
    void SetUp() override { particleEngine = ParticleEngineState{}; }
    Particle& P(int i) { return particleEngine.particles[i]; }
};

float Component(int signDraw, int magnitudeDraw) {
    return float(magnitudeDraw % 100) * 0.0001f * (signDraw % 2 == 0 ? 1.0f : -1.0f);
}

TEST_F(ParticleTest, RespawnMakesEightRandCallsInOrder) {
    for (unsigned seed : {1u, 7u, 12345u}) {
        std::srand(seed);
        int r[9];
        for (int& v : r) v = std::rand();
        std::srand(seed);
        P(5) = Particle{0, 1, -3, 9, 1, 2, 3, 4, 5, 6, 7, 8};
        RespawnParticle(5);
        EXPECT_EQ(std::rand(), r[8]) << "exactly eight draws";
        const Particle& p = P(5);
        EXPECT_EQ(p.active, 1);
        EXPECT_EQ(p.returning, 0);
        EXPECT_EQ(p.x, 0.0f);
        EXPECT_EQ(p.y, 0.0f);
        EXPECT_EQ(p.z, 0.0f);
        EXPECT_EQ(p.vx, Component(r[0], r[1]));
        EXPECT_EQ(p.vy, Component(r[2], r[3]));
        EXPECT_EQ(p.vz, Component(r[4], r[5]));
        EXPECT_EQ(p.fade, float(r[6] % 100) * 0.01f + 0.003f);
        EXPECT_EQ(p.tint, float(r[7] % 100) * 0.01f);
        EXPECT_EQ(p.life, 1.0f);
        EXPECT_EQ(p.size, 0.05f);
        EXPECT_LE(std::fabs(p.vx), 0.0099f + 1e-7f);
    }
}

TEST_F(ParticleTest, EmptyTableRespawnsEveryParticleOnItsFirstStep) {
    // All zero: frozen, shrinking, size 0 -> below 0 on the first step -> respawned and drawn
    // at the origin with size 0.05.
    std::srand(3);
    drawn.clear();
    AdvanceParticles(&Record);
    ASSERT_EQ(drawn.size(), size_t(kParticleCount));
    for (const Drawn& d : drawn) {
        ASSERT_EQ(d.particle.active, 1);
        ASSERT_EQ(d.h, 0.05f);
        ASSERT_EQ(d.k, 0.05f);
        ASSERT_EQ(d.particle.x, 0.0f);
    }
    // Respawned once each (life is 1 again by the time it is tested): eight draws apiece.
    std::srand(3);
    for (int i = 0; i < 8 * kParticleCount; ++i) std::rand();
    const int expectedNext = std::rand();
    std::srand(3);
    particleEngine = ParticleEngineState{};
    AdvanceParticles(&Record);
    EXPECT_EQ(std::rand(), expectedNext);
}

TEST_F(ParticleTest, FlyingParticleIsDrawnBeforeItMovesAndFreezesAtTheSphere) {
    particleEngine.particleBoundIsCube = false;
    for (int i = 0; i < kParticleCount; ++i)
        P(i) = Particle{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0.05f};
    P(0) = Particle{1, 0, 1, 0.003f, 1.99f, 0, 0, 0.006f, 0, 0, 0.25f, 0.05f};
    Drawn d = Step(0);
    EXPECT_EQ(d.h, 0.05f);
    EXPECT_EQ(d.particle.x, 1.99f); // drawn at the old position
    EXPECT_EQ(P(0).active, 1);      // 1.996 is still inside
    d = Step(0);
    EXPECT_EQ(P(0).active, 0);
    EXPECT_EQ(P(0).returning, 1);
    EXPECT_NEAR(P(0).x, 2.002f, 1e-5); // keeps the position that crossed the bound
    EXPECT_NEAR(P(0).life, 1.0f - 2 * 0.003f, 1e-6);
}

TEST_F(ParticleTest, CubeBoundLetsParticlesPastRadiusTwo) {
    for (int i = 0; i < kParticleCount; ++i)
        P(i) = Particle{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0.05f};
    P(0) = Particle{1, 0, 1, 0.003f, 1.9f, 1.9f, 1.9f, 0.001f, 0.001f, 0, 0.25f, 0.05f};
    Step(0);
    EXPECT_EQ(P(0).active, 1) << "distance 3.3 from the origin, but inside the cube";
    particleEngine.particleBoundIsCube = false;
    Step(0);
    EXPECT_EQ(P(0).active, 0);
}

TEST_F(ParticleTest, FrozenParticleSwellsThenShrinksAndRespawns) {
    for (int i = 0; i < kParticleCount; ++i)
        P(i) = Particle{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0.05f};
    const float fade = 0.003f;
    P(0) = Particle{0, 1, 0.4f, fade, 2.1f, 0, 0, 0.0099f, 0, 0, 0.3f, 0.05f};
    // Swelling: +0.0001 per step, life up by a tenth of fade; drawn with h = k = size.
    Drawn d = Step(0);
    EXPECT_NEAR(d.h, 0.0501f, 1e-6);
    EXPECT_EQ(d.h, d.k);
    EXPECT_NEAR(P(0).life, 0.4f + 0.1f * fade, 1e-6);
    int swellSteps = 1;
    while (P(0).returning && swellSteps < 5000) {
        Step(0);
        ++swellSteps;
    }
    // About 1500 steps from 0.05 to just above 0.2; the step that ends the swell sets life 1
    // and does not shrink.
    EXPECT_NEAR(swellSteps, 1502, 3);
    EXPECT_GT(P(0).size, 0.2f);
    EXPECT_LT(P(0).size, 0.2002f);
    EXPECT_EQ(P(0).life, 1.0f);
    EXPECT_EQ(P(0).active, 0);
    // Shrinking: -0.03 per step until the size falls below 0, where it respawns at the origin
    // and is drawn in the same step with size 0.05.
    const float startSize = P(0).size;
    int shrinkSteps = 0;
    do {
        d = Step(0);
        ++shrinkSteps;
    } while (!P(0).active && shrinkSteps < 100);
    EXPECT_EQ(shrinkSteps, int(startSize / 0.03f) + 1);
    EXPECT_EQ(d.particle.x, 0.0f);
    EXPECT_EQ(d.h, 0.05f);
    EXPECT_EQ(d.k, 0.05f);
}

TEST_F(ParticleTest, FastFadingParticleLivesTwoStepsAndRespawnsOnTheThird) {
    for (int i = 0; i < kParticleCount; ++i)
        P(i) = Particle{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0.05f};
    P(0) = Particle{1, 0, 1, 0.6f, 0, 0, 0, 0.005f, 0, 0, 0.1f, 0.05f};
    Drawn first = Step(0);
    Drawn second = Step(0);
    EXPECT_EQ(first.particle.life, 1.0f);
    EXPECT_NEAR(second.particle.life, 0.4f, 1e-6);
    EXPECT_NEAR(second.particle.x, 0.005f, 1e-7);
    std::srand(11);
    Drawn third = Step(0);
    EXPECT_EQ(third.particle.x, 0.0f) << "respawned before the third draw";
    EXPECT_EQ(third.particle.life, 1.0f);
}

TEST_F(ParticleTest, ToggleBound) {
    EXPECT_TRUE(particleEngine.particleBoundIsCube);
    ToggleParticleBound();
    EXPECT_FALSE(particleEngine.particleBoundIsCube);
}

} // namespace
