// particle_engine.cpp: the particle system; every draw also advances it by one step, and the
// C library's rand (never seeded) decides everything. Main thread.
#include "show/particle_engine.h"

#include "platform/gl.h"

#include <cstdlib>

#include "image/dib_loader.h"

ParticleEngineState particleEngine;

namespace {

constexpr float kBound = 2.0f;
constexpr float kFlyingHalfSize = 0.05f;
constexpr float kSwellLimit = 0.2f;
constexpr float kSwellStep = 0.0001f;
constexpr float kShrinkStep = 0.03f;

// One velocity component: a sign from one rand, a magnitude from the next.
float RandomComponent() {
    float sign = (std::rand() % 4) % 2 == 0 ? 1.0f : -1.0f;
    return float(std::rand() % 100) * 0.0001f * sign;
}

bool OutsideBound(const Particle& p) {
    if (particleEngine.particleBoundIsCube)
        return p.x < -kBound || p.x > kBound || p.y < -kBound || p.y > kBound || p.z < -kBound ||
               p.z > kBound;
    return p.x * p.x + p.y * p.y + p.z * p.z > kBound * kBound;
}

void DrawParticleCross(const Particle& p, float h, float k) {
    glBegin(GL_TRIANGLE_STRIP);
    glColor4f(p.tint, p.tint, 1.0f, p.life);
    glTexCoord2d(1, 1);
    glVertex3f(p.x + h, p.y + h, p.z);
    glTexCoord2d(0, 1);
    glVertex3f(p.x - h, p.y + h, p.z);
    glTexCoord2d(1, 0);
    glVertex3f(p.x + h, p.y - h, p.z);
    glTexCoord2d(0, 0);
    glVertex3f(p.x - h, p.y - h, p.z);
    glEnd();
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2d(1, 1);
    glVertex3f(p.x, p.y + k, p.z + k);
    glTexCoord2d(0, 1);
    glVertex3f(p.x, p.y + k, p.z - k);
    glTexCoord2d(1, 0);
    glVertex3f(p.x, p.y - k, p.z + k);
    glTexCoord2d(0, 0);
    glVertex3f(p.x, p.y - k, p.z - k);
    glEnd();
}

} // namespace

void RespawnParticle(int index) {
    Particle& p = particleEngine.particles[index];
    p.active = 1;
    p.returning = 0;
    p.x = p.y = p.z = 0.0f;
    p.vx = RandomComponent();
    p.vy = RandomComponent();
    p.vz = RandomComponent();
    p.life = 1.0f;
    p.fade = float(std::rand() % 100) * 0.01f + 0.003f;
    p.tint = float(std::rand() % 100) * 0.01f;
    p.size = kFlyingHalfSize;
}

void ToggleParticleBound() {
    particleEngine.particleBoundIsCube = !particleEngine.particleBoundIsCube;
}

void AdvanceParticles(ParticleDrawFunction draw) {
    for (int i = 0; i < kParticleCount; ++i) {
        Particle& p = particleEngine.particles[i];
        if (p.active) {
            if (p.life < 0.0f) RespawnParticle(i);
            draw(p, kFlyingHalfSize, p.size);
            p.life -= p.fade;
            p.x += p.vx;
            p.y += p.vy;
            p.z += p.vz;
            // A frozen particle keeps its position, life, tint and size.
            if (OutsideBound(p)) {
                p.active = 0;
                p.returning = 1;
            }
            continue;
        }
        if (p.returning) {
            // Swelling and brightening; the step that ends the swell does not also shrink.
            if (p.size <= kSwellLimit) {
                p.size += kSwellStep;
                p.life += 0.1f * p.fade;
            } else {
                p.returning = 0;
                p.life = 1.0f;
            }
        } else {
            p.size -= kShrinkStep;
            p.life -= p.fade;
            if (p.size < 0.0f) RespawnParticle(i);
            if (p.life < 0.0f) RespawnParticle(i);
        }
        draw(p, p.size, p.size);
    }
}

void StepParticles() {
    // Expects: the particle render state of ResetParticleEngine (or whatever the show left if
    // the engine never started) and the caller's model-view matrix.
    AdvanceParticles(&DrawParticleCross);
}

void ResetParticleEngine() {
    glBindTexture(GL_TEXTURE_2D, particleEngine.particleTexture);
    glShadeModel(GL_SMOOTH);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    for (int i = 0; i < kParticleCount; ++i) RespawnParticle(i);
}

bool LoadParticleEngine() {
    RgbImage* image = LoadBitmapImage("Data/Particle.bmp");
    const bool loaded = image != nullptr;
    if (loaded) {
        // The show starts the engine on every frame of its last half second of cubes; only the
        // newest texture is used, so the one before it is released rather than left to pile up.
        if (particleEngine.particleTexture != 0)
            glDeleteTextures(1, &particleEngine.particleTexture);
        glGenTextures(1, &particleEngine.particleTexture);
        glBindTexture(GL_TEXTURE_2D, particleEngine.particleTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        // The loader's rows are tightly packed; GL reads rows aligned to 4 bytes by default,
        // which would shear a picture whose row length is not a multiple of 4.
        const bool packed = (image->width * 3) % 4 != 0;
        if (packed) glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, 3, image->width, image->height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     image->pixels);
        if (packed) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        std::free(image->pixels);
        std::free(image);
    }
    ResetParticleEngine();
    return loaded;
}

void DrawParticleRow(float spin) {
    particleEngine.particleRowAngle = spin;
    for (int n = 0; n < 3; ++n) {
        glTranslatef(2.0f * float(n), 0.0f, spin >= 5.0f ? -5.0f : -spin);
        glRotatef(10.0f * particleEngine.particleRowAngle, 0, 1, 0);
        if (10.0f * particleEngine.particleRowAngle > 180.0f &&
            particleEngine.particleRowAngle < 181.0f) {
            ToggleParticleBound();
        } else if (particleEngine.particleRowAngle > 360.0f) {
            particleEngine.particleRowAngle = 0.0f;
            ToggleParticleBound();
        }
        StepParticles();
    }
}

void DrawCreditParticles(float angle) {
    glTranslatef(0.0f, 0.0f, -5.0f);
    glRotatef(angle, 1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    StepParticles();
    glDisable(GL_TEXTURE_2D);
}
