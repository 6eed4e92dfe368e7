// gl11.cpp: the OpenGL 1.1 entry points of the browser build: state, matrix stacks, immediate
// mode batched into triangles, textures, display lists of bitmaps and the raster position.
// Main thread. The WebGL calls are in webgl.cpp; what is left out is listed in gl11.h.
#include "platform/web/gl11/gl11.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

namespace gl11 {
namespace {

// ============================================================================================
// Matrices (column-major, single precision, as the desktop drivers keep them)
// ============================================================================================

struct Matrix {
    float m[16];
};

constexpr Matrix kIdentity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += a.m[k * 4 + row] * b.m[col * 4 + k];
            r.m[col * 4 + row] = sum;
        }
    return r;
}

void Transform(const Matrix& a, const float in[4], float out[4]) {
    for (int row = 0; row < 4; ++row)
        out[row] =
            a.m[row] * in[0] + a.m[4 + row] * in[1] + a.m[8 + row] * in[2] + a.m[12 + row] * in[3];
}

// The stack depths kept here; OpenGL guarantees at least 32 and 2.
constexpr size_t kModelViewDepth = 32, kProjectionDepth = 32;

// ============================================================================================
// State
// ============================================================================================

struct Texture {
    int handle = 0; // WebGL side
    bool hasImage = false;
    GLint minFilter = GL_NEAREST_MIPMAP_LINEAR;
};

struct BitmapGlyph {
    int width = 0, height = 0;
    float xorig = 0, yorig = 0, xmove = 0, ymove = 0;
    int atlasX = 0, atlasY = 0; // where its coverage lies in the atlas
};

// The glyph atlas: one coverage byte per pixel, packed shelf by shelf.
constexpr int kAtlasSize = 512;

struct State {
    std::vector<Matrix> modelView{kIdentity}, projection{kIdentity};
    GLenum matrixMode = GL_MODELVIEW;

    float colour[4] = {1, 1, 1, 1};
    float texCoord[2] = {0, 0};
    float clearColour[4] = {0, 0, 0, 0};
    float clearDepth = 1;
    int viewport[4] = {0, 0, 640, 480};

    bool blend = false, depthTest = false, texture2d = false;
    GLenum blendSrc = GL_ONE, blendDst = GL_ZERO, depthFunc = GL_LESS;
    GLint unpackAlignment = 4;

    std::map<GLuint, Texture> textures; // by name; 0 is the default texture, never given an image
    GLuint nextTexture = 1;
    GLuint boundTexture = 0;

    // Immediate mode: the primitive being specified and its transform.
    bool inBegin = false;
    GLenum primitive = 0;
    Matrix vertexTransform = kIdentity;
    std::vector<Vertex> primitiveVertices;

    // Display lists (bitmaps only) and the list being compiled.
    std::map<GLuint, std::vector<BitmapGlyph>> lists;
    GLuint nextList = 1;
    GLuint compiling = 0;
    GLenum compileMode = 0;
    GLuint listBase = 0;
    std::vector<GLuint> listBaseStack; // glPushAttrib keeps the list base only

    // Raster position in window coordinates, its validity and colour.
    bool rasterValid = true;
    float raster[3] = {0, 0, 0};
    float rasterColour[4] = {1, 1, 1, 1};

    std::vector<uint8_t> atlas = std::vector<uint8_t>(size_t(kAtlasSize) * kAtlasSize, 0);
    int shelfX = 0, shelfY = 0, shelfHeight = 0;
    bool atlasDirty = false;

    // The batch: triangles waiting to be drawn with one state.
    std::vector<Vertex> batch;
    DrawState batchState;
};

State state;
int contextVersion = 0;

std::vector<Matrix>& CurrentStack() {
    return state.matrixMode == GL_PROJECTION ? state.projection : state.modelView;
}
Matrix& Current() {
    return CurrentStack().back();
}
void MultiplyCurrent(const Matrix& by) {
    Current() = Multiply(Current(), by);
}

void FlushBatch() {
    if (state.batch.empty()) return;
    if (state.atlasDirty) {
        js::AtlasImage(kAtlasSize, kAtlasSize, state.atlas.data());
        state.atlasDirty = false;
    }
    js::Draw(state.batch.data(), int(state.batch.size()), state.batchState);
    state.batch.clear();
}

// The state the next triangles are drawn with; a change flushes the batch first.
void UseDrawState(const DrawState& next) {
    if (!(next == state.batchState)) {
        FlushBatch();
        state.batchState = next;
    }
}

DrawState FixedState(Shading shading, int texture) {
    DrawState s;
    s.blend = state.blend;
    s.blendSrc = state.blendSrc;
    s.blendDst = state.blendDst;
    s.depthTest = state.depthTest;
    s.depthFunc = state.depthFunc;
    s.shading = shading;
    s.texture = texture;
    return s;
}

// Texturing applies only with GL_TEXTURE_2D on and a complete texture bound (an image, and a
// filter that needs no mipmaps, since none are ever given); otherwise it is as if it were off.
DrawState PrimitiveState() {
    if (state.texture2d) {
        auto it = state.textures.find(state.boundTexture);
        if (it != state.textures.end() && it->second.hasImage &&
            (it->second.minFilter == GL_NEAREST || it->second.minFilter == GL_LINEAR))
            return FixedState(Shading::Textured, it->second.handle);
    }
    return FixedState(Shading::Colour, 0);
}

void EmitTriangle(const Vertex& a, const Vertex& b, const Vertex& c) {
    state.batch.push_back(a);
    state.batch.push_back(b);
    state.batch.push_back(c);
}

void EmitPrimitive() {
    const std::vector<Vertex>& v = state.primitiveVertices;
    const size_t n = v.size();
    if (n < 3) return;
    UseDrawState(PrimitiveState());
    switch (state.primitive) {
    case GL_TRIANGLES:
        for (size_t i = 0; i + 2 < n; i += 3) EmitTriangle(v[i], v[i + 1], v[i + 2]);
        break;
    case GL_TRIANGLE_STRIP:
        for (size_t i = 0; i + 2 < n; ++i) EmitTriangle(v[i], v[i + 1], v[i + 2]);
        break;
    case GL_TRIANGLE_FAN:
        for (size_t i = 1; i + 1 < n; ++i) EmitTriangle(v[0], v[i], v[i + 1]);
        break;
    case GL_QUADS:
        for (size_t i = 0; i + 3 < n; i += 4) {
            EmitTriangle(v[i], v[i + 1], v[i + 2]);
            EmitTriangle(v[i], v[i + 2], v[i + 3]);
        }
        break;
    default: break; // points and lines are not drawn by the show
    }
}

// ============================================================================================
// Bitmaps
// ============================================================================================

// Copies a bitmap's bits (rows bottom-up, most significant bit first, rows aligned as the
// unpack alignment says) into the atlas as coverage bytes; false when the atlas is full.
bool StoreInAtlas(BitmapGlyph* glyph, const GLubyte* bits) {
    const int w = glyph->width, h = glyph->height;
    if (w <= 0 || h <= 0) return true;
    if (w > kAtlasSize || h > kAtlasSize) return false;
    if (state.shelfX + w > kAtlasSize) {
        state.shelfX = 0;
        state.shelfY += state.shelfHeight + 1;
        state.shelfHeight = 0;
    }
    if (state.shelfY + h > kAtlasSize) return false;
    glyph->atlasX = state.shelfX;
    glyph->atlasY = state.shelfY;
    const int align = state.unpackAlignment;
    const int rowBytes = ((w + 7) / 8 + align - 1) / align * align;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool set = bits[size_t(y) * rowBytes + x / 8] & (0x80 >> (x % 8));
            state.atlas[size_t(glyph->atlasY + y) * kAtlasSize + glyph->atlasX + x] = set ? 255 : 0;
        }
    state.shelfX += w + 1;
    state.shelfHeight = std::max(state.shelfHeight, h);
    state.atlasDirty = true;
    return true;
}

// Draws a bitmap at the raster position, as window pixels, and moves the position on. With no
// valid raster position nothing is drawn and nothing moves.
void DrawBitmap(const BitmapGlyph& glyph) {
    if (!state.rasterValid) return;
    if (glyph.width > 0 && glyph.height > 0) {
        UseDrawState(FixedState(Shading::Bitmap, 0));
        const float px = std::floor(state.raster[0] - glyph.xorig);
        const float py = std::floor(state.raster[1] - glyph.yorig);
        const float vx = float(state.viewport[0]), vy = float(state.viewport[1]);
        const float vw = float(state.viewport[2]), vh = float(state.viewport[3]);
        const float z = 2.0f * state.raster[2] - 1.0f;
        const float* c = state.rasterColour;
        auto corner = [&](float wx, float wy, float ax, float ay) {
            return Vertex{2.0f * (wx - vx) / vw - 1.0f,
                          2.0f * (wy - vy) / vh - 1.0f,
                          z,
                          1.0f,
                          c[0],
                          c[1],
                          c[2],
                          c[3],
                          ax / float(kAtlasSize),
                          ay / float(kAtlasSize)};
        };
        const float ax0 = float(glyph.atlasX), ay0 = float(glyph.atlasY);
        const float ax1 = ax0 + float(glyph.width), ay1 = ay0 + float(glyph.height);
        const Vertex a = corner(px, py, ax0, ay0);
        const Vertex b = corner(px + float(glyph.width), py, ax1, ay0);
        const Vertex d = corner(px + float(glyph.width), py + float(glyph.height), ax1, ay1);
        const Vertex e = corner(px, py + float(glyph.height), ax0, ay1);
        EmitTriangle(a, b, d);
        EmitTriangle(a, d, e);
    }
    state.raster[0] += glyph.xmove;
    state.raster[1] += glyph.ymove;
}

} // namespace

int CreateContext(const char* canvasSelector) {
    if (contextVersion == 0) contextVersion = js::CreateContext(canvasSelector);
    if (contextVersion != 0) ResetState();
    return contextVersion;
}

void ResetState() {
    state = State();
    js::Reset();
}

void Flush() {
    FlushBatch();
}

} // namespace gl11

// ============================================================================================
// The OpenGL entry points
// ============================================================================================

using gl11::state;

extern "C" {

void glMatrixMode(GLenum mode) {
    if (mode == GL_MODELVIEW || mode == GL_PROJECTION) state.matrixMode = mode;
}

void glLoadIdentity() {
    gl11::Current() = gl11::kIdentity;
}

void glPushMatrix() {
    auto& stack = gl11::CurrentStack();
    const size_t limit =
        state.matrixMode == GL_PROJECTION ? gl11::kProjectionDepth : gl11::kModelViewDepth;
    if (stack.size() < limit) stack.push_back(stack.back()); // else: stack overflow, ignored
}

void glPopMatrix() {
    auto& stack = gl11::CurrentStack();
    if (stack.size() > 1) stack.pop_back(); // else: stack underflow, ignored
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    gl11::Matrix t = gl11::kIdentity;
    t.m[12] = x;
    t.m[13] = y;
    t.m[14] = z;
    gl11::MultiplyCurrent(t);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f) return; // no axis: the matrix stays as it is
    x /= length;
    y /= length;
    z /= length;
    const double radians = double(angle) * M_PI / 180.0;
    const float s = float(std::sin(radians)), c = float(std::cos(radians)), k = 1.0f - c;
    const gl11::Matrix r{{x * x * k + c, y * x * k + z * s, x * z * k - y * s, 0, x * y * k - z * s,
                          y * y * k + c, y * z * k + x * s, 0, x * z * k + y * s, y * z * k - x * s,
                          z * z * k + c, 0, 0, 0, 0, 1}};
    gl11::MultiplyCurrent(r);
}

void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
             GLdouble zFar) {
    if (left == right || bottom == top || zNear == zFar) return; // invalid value
    gl11::Matrix o = gl11::kIdentity;
    o.m[0] = float(2.0 / (right - left));
    o.m[5] = float(2.0 / (top - bottom));
    o.m[10] = float(-2.0 / (zFar - zNear));
    o.m[12] = float(-(right + left) / (right - left));
    o.m[13] = float(-(top + bottom) / (top - bottom));
    o.m[14] = float(-(zFar + zNear) / (zFar - zNear));
    gl11::MultiplyCurrent(o);
}

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    const double radians = fovy / 2.0 * M_PI / 180.0;
    const double deltaZ = zFar - zNear;
    const double sine = std::sin(radians);
    if (deltaZ == 0 || sine == 0 || aspect == 0) return;
    const double cotangent = std::cos(radians) / sine;
    gl11::Matrix p{};
    p.m[0] = float(cotangent / aspect);
    p.m[5] = float(cotangent);
    p.m[10] = float(-(zFar + zNear) / deltaZ);
    p.m[11] = -1.0f;
    p.m[14] = float(-2.0 * zNear * zFar / deltaZ);
    gl11::MultiplyCurrent(p);
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    if (width < 0 || height < 0) return;
    gl11::FlushBatch();
    state.viewport[0] = x;
    state.viewport[1] = y;
    state.viewport[2] = width;
    state.viewport[3] = height;
    gl11::js::Viewport(x, y, width, height);
}

void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
    state.clearColour[0] = std::clamp(r, 0.0f, 1.0f);
    state.clearColour[1] = std::clamp(g, 0.0f, 1.0f);
    state.clearColour[2] = std::clamp(b, 0.0f, 1.0f);
    state.clearColour[3] = std::clamp(a, 0.0f, 1.0f);
}

void glClearDepth(GLclampd depth) {
    state.clearDepth = float(std::clamp(depth, 0.0, 1.0));
}

void glClear(GLbitfield mask) {
    gl11::FlushBatch();
    gl11::js::Clear(mask & (GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT), state.clearColour,
                    state.clearDepth);
}

void glEnable(GLenum cap) {
    if (cap == GL_BLEND) state.blend = true;
    if (cap == GL_DEPTH_TEST) state.depthTest = true;
    if (cap == GL_TEXTURE_2D) state.texture2d = true;
}

void glDisable(GLenum cap) {
    if (cap == GL_BLEND) state.blend = false;
    if (cap == GL_DEPTH_TEST) state.depthTest = false;
    if (cap == GL_TEXTURE_2D) state.texture2d = false;
}

void glBlendFunc(GLenum sfactor, GLenum dfactor) {
    state.blendSrc = sfactor;
    state.blendDst = dfactor;
}

void glDepthFunc(GLenum func) {
    state.depthFunc = func;
}

// Smooth shading is WebGL's only kind, and hints may be ignored by any implementation.
void glShadeModel(GLenum) {}
void glHint(GLenum, GLenum) {}

void glFlush() {
    gl11::FlushBatch();
}
void glFinish() {
    gl11::FlushBatch();
}
GLenum glGetError() {
    return GL_NO_ERROR;
}

// ---- Immediate mode --------------------------------------------------------------------------

void glBegin(GLenum mode) {
    if (state.inBegin) return;
    state.inBegin = true;
    state.primitive = mode;
    state.primitiveVertices.clear();
    state.vertexTransform = gl11::Multiply(state.projection.back(), state.modelView.back());
}

void glEnd() {
    if (!state.inBegin) return;
    state.inBegin = false;
    gl11::EmitPrimitive();
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (!state.inBegin) return;
    const float in[4] = {x, y, z, 1.0f};
    float clip[4];
    gl11::Transform(state.vertexTransform, in, clip);
    const float* c = state.colour;
    state.primitiveVertices.push_back(gl11::Vertex{clip[0], clip[1], clip[2], clip[3], c[0], c[1],
                                                   c[2], c[3], state.texCoord[0],
                                                   state.texCoord[1]});
}

void glColor3f(GLfloat r, GLfloat g, GLfloat b) {
    state.colour[0] = r;
    state.colour[1] = g;
    state.colour[2] = b;
    state.colour[3] = 1.0f;
}

void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    state.colour[0] = r;
    state.colour[1] = g;
    state.colour[2] = b;
    state.colour[3] = a;
}

void glTexCoord2d(GLdouble s, GLdouble t) {
    state.texCoord[0] = float(s);
    state.texCoord[1] = float(t);
}

// Lighting is never on, so normals change nothing that is drawn.
void glNormal3f(GLfloat, GLfloat, GLfloat) {}

// ---- Textures ------------------------------------------------------------------------------

void glGenTextures(GLsizei n, GLuint* textures) {
    for (GLsizei i = 0; i < n; ++i) {
        const GLuint name = state.nextTexture++;
        state.textures[name].handle = gl11::js::CreateTexture();
        textures[i] = name;
    }
}

void glDeleteTextures(GLsizei n, const GLuint* textures) {
    for (GLsizei i = 0; i < n; ++i) {
        auto it = state.textures.find(textures[i]);
        if (textures[i] == 0 || it == state.textures.end()) continue;
        gl11::FlushBatch(); // the batch may still draw with it
        gl11::js::DeleteTexture(it->second.handle);
        state.textures.erase(it);
        if (state.boundTexture == textures[i]) state.boundTexture = 0;
    }
}

void glBindTexture(GLenum target, GLuint texture) {
    if (target != GL_TEXTURE_2D) return;
    // A name bound for the first time becomes a texture (the names were not always generated).
    if (texture != 0 && state.textures.find(texture) == state.textures.end())
        state.textures[texture].handle = gl11::js::CreateTexture();
    state.boundTexture = texture;
}

void glTexParameteri(GLenum target, GLenum pname, GLint param) {
    auto it = state.textures.find(state.boundTexture);
    if (target != GL_TEXTURE_2D || it == state.textures.end()) return;
    gl11::FlushBatch();
    if (pname == GL_TEXTURE_MIN_FILTER) it->second.minFilter = param;
    gl11::js::TextureParameter(it->second.handle, pname, param);
}

void glPixelStorei(GLenum pname, GLint param) {
    if (pname == GL_UNPACK_ALIGNMENT && (param == 1 || param == 2 || param == 4 || param == 8))
        state.unpackAlignment = param;
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    auto it = state.textures.find(state.boundTexture);
    if (target != GL_TEXTURE_2D || level != 0 || border != 0 || type != GL_UNSIGNED_BYTE ||
        it == state.textures.end() || width <= 0 || height <= 0)
        return;
    if (format != GL_RGB && format != GL_RGBA) return;
    // The internal format decides what is kept: 3 components drop alpha, 4 keep it.
    const bool keepAlpha = internalFormat == 4 || internalFormat == GL_RGBA;
    const int inBytes = format == GL_RGBA ? 4 : 3, outBytes = keepAlpha ? 4 : 3;
    const int align = state.unpackAlignment;
    const size_t rowBytes = (size_t(width) * inBytes + align - 1) / align * align;
    std::vector<uint8_t> packed(size_t(width) * height * outBytes);
    const auto* src = static_cast<const uint8_t*>(pixels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = src ? src + y * rowBytes + size_t(x) * inBytes : nullptr;
            uint8_t* q = &packed[(size_t(y) * width + x) * outBytes];
            for (int k = 0; k < outBytes; ++k) q[k] = p ? (k < inBytes ? p[k] : 255) : 0;
        }
    gl11::FlushBatch();
    gl11::js::TextureImage(it->second.handle, width, height, keepAlpha ? GL_RGBA : GL_RGB,
                           packed.data());
    it->second.hasImage = true;
}

// ---- Display lists, raster position and bitmaps ---------------------------------------------

GLuint glGenLists(GLsizei range) {
    if (range <= 0) return 0;
    const GLuint base = state.nextList;
    state.nextList += GLuint(range);
    for (GLsizei i = 0; i < range; ++i) state.lists[base + GLuint(i)];
    return base;
}

void glNewList(GLuint list, GLenum mode) {
    if (list == 0 || state.compiling != 0) return;
    state.compiling = list;
    state.compileMode = mode;
    state.lists[list].clear();
}

void glEndList() {
    state.compiling = 0;
}

void glListBase(GLuint base) {
    state.listBase = base;
}

void glCallLists(GLsizei n, GLenum type, const GLvoid* lists) {
    if (n <= 0 || !lists) return;
    for (GLsizei i = 0; i < n; ++i) {
        GLuint offset;
        if (type == GL_UNSIGNED_BYTE)
            offset = static_cast<const GLubyte*>(lists)[i];
        else if (type == GL_UNSIGNED_INT)
            offset = static_cast<const GLuint*>(lists)[i];
        else
            return;
        auto it = state.lists.find(state.listBase + offset);
        if (it == state.lists.end()) continue; // an undefined list does nothing
        for (const gl11::BitmapGlyph& glyph : it->second) gl11::DrawBitmap(glyph);
    }
}

void glPushAttrib(GLbitfield) {
    state.listBaseStack.push_back(state.listBase);
}

void glPopAttrib() {
    if (state.listBaseStack.empty()) return;
    state.listBase = state.listBaseStack.back();
    state.listBaseStack.pop_back();
}

void glRasterPos2f(GLfloat x, GLfloat y) {
    const float object[4] = {x, y, 0.0f, 1.0f};
    float eye[4], clip[4];
    gl11::Transform(state.modelView.back(), object, eye);
    gl11::Transform(state.projection.back(), eye, clip);
    const float w = clip[3];
    // A position outside the view volume is invalid: bitmaps at it draw nothing.
    state.rasterValid =
        w > 0 && std::fabs(clip[0]) <= w && std::fabs(clip[1]) <= w && std::fabs(clip[2]) <= w;
    if (!state.rasterValid) return;
    const int* vp = state.viewport;
    state.raster[0] = float(vp[0]) + (clip[0] / w + 1.0f) * 0.5f * float(vp[2]);
    state.raster[1] = float(vp[1]) + (clip[1] / w + 1.0f) * 0.5f * float(vp[3]);
    state.raster[2] = (clip[2] / w + 1.0f) * 0.5f;
    std::copy_n(state.colour, 4, state.rasterColour);
}

void glBitmap(GLsizei width, GLsizei height, GLfloat xorig, GLfloat yorig, GLfloat xmove,
              GLfloat ymove, const GLubyte* bitmap) {
    gl11::BitmapGlyph glyph;
    glyph.width = bitmap ? std::max(0, width) : 0;
    glyph.height = bitmap ? std::max(0, height) : 0;
    glyph.xorig = xorig;
    glyph.yorig = yorig;
    glyph.xmove = xmove;
    glyph.ymove = ymove;
    if (!gl11::StoreInAtlas(&glyph, bitmap)) glyph.width = glyph.height = 0; // only the move
    if (state.compiling != 0) {
        state.lists[state.compiling].push_back(glyph);
        if (state.compileMode != GL_COMPILE_AND_EXECUTE) return;
    }
    gl11::DrawBitmap(glyph);
}

} // extern "C"
