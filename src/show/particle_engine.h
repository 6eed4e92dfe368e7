// particle_engine.h: 1000 textured glowing particles that stream from the origin, freeze and
// swell at a bound, shrink away and start again. Main thread, OpenGL context current (except
// RespawnParticle, ToggleParticleBound and AdvanceParticles with a non-drawing callback).
#pragma once

#include <cstdint>

struct Particle {
    int32_t active;    // flying; clear: frozen at the bound
    int32_t returning; // frozen: set while swelling, clear while shrinking
    float life;        // alpha of its colour
    float fade;        // taken from life on each step of a flying or shrinking particle
    float x, y, z;
    float vx, vy, vz; // displacement per step
    float tint;       // red and green of its colour (blue is 1)
    float size;       // half the edge of its squares while frozen; 0.05 while flying
};

constexpr int kParticleCount = 1000;

struct ParticleEngineState {
    Particle particles[kParticleCount] = {};
    unsigned particleTexture = 0;    // GL texture name, 0 until an image loaded
    bool particleBoundIsCube = true; // cube -2..2 when set, sphere of radius 2 when clear
    float particleRowAngle = 0.0f;   // DrawParticleRow's last spin
};
extern ParticleEngineState particleEngine;

// Loads "Data/Particle.bmp" into a new texture (releasing the previous one), then resets the
// engine whether or not the image loaded. True when it loaded.
bool LoadParticleEngine();
// The particle render state (additive blending, no depth test, texturing on) and a respawn of
// every particle.
void ResetParticleEngine();
// Eight calls to rand, in a fixed order.
void RespawnParticle(int index);
void ToggleParticleBound();

// One step of the whole system in index order; `draw` receives each particle as it is drawn,
// with the half-sizes h (the square facing the viewer) and k (the square in the y-z plane).
using ParticleDrawFunction = void (*)(const Particle& particle, float h, float k);
void AdvanceParticles(ParticleDrawFunction draw);

// Draws every particle as two crossed textured squares and advances it by one step.
void StepParticles();
// Three steps of the system along a row, the transforms accumulating.
void DrawParticleRow(float spin);
// One step, tumbling behind the credits.
void DrawCreditParticles(float angle);
