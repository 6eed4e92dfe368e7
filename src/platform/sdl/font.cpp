// font.cpp: caption glyphs as OpenGL bitmap display lists, from an installed font found through
// fontconfig and rendered by FreeType. Main thread, with an OpenGL context current.
#include "platform/gl.h"
#include "platform/platform.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <cstdint>
#include <string>
#include <strings.h>
#include <vector>

namespace platform {
namespace {

struct FontFile {
    std::string path;
    int index = 0;
    bool bold = false; // the face itself is bold (no synthetic emboldening needed)
};

bool MatchFont(const char* family, int weight, FontFile* out) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* file = nullptr;
    FcChar8* matchedFamily = nullptr;
    int index = 0, matchedWeight = FC_WEIGHT_REGULAR;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FcPatternGetInteger(match, FC_WEIGHT, 0, &matchedWeight);
    FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily);
    if (ok) {
        out->path = reinterpret_cast<const char*>(file);
        out->index = index;
        out->bold = matchedWeight >= FC_WEIGHT_DEMIBOLD;
    }
    // fontconfig always answers with something; report whether it is the family asked for.
    bool exact = ok && matchedFamily &&
                 strcasecmp(reinterpret_cast<const char*>(matchedFamily), family) == 0;
    FcPatternDestroy(match);
    return ok && exact;
}

// The face asked for, else DejaVu Sans (the system's look-alike), else whatever fontconfig
// offers in their place.
bool FindFont(const char* face, int weight, FontFile* out) {
    if (!FcInit()) return false;
    FontFile asked, fallback;
    if (MatchFont(face, weight, &asked)) return *out = asked, true;
    if (MatchFont("DejaVu Sans", weight, &fallback)) return *out = fallback, true;
    if (!asked.path.empty()) return *out = asked, true;
    if (!fallback.path.empty()) return *out = fallback, true;
    return false;
}

// One glyph into one display list: a glBitmap whose origin puts the glyph on the baseline and
// whose move is the advance. The coverage is anti-aliased; glBitmap takes 1 bit per pixel, so
// half coverage and up become set bits.
void CompileGlyph(GLuint list, const FT_GlyphSlot slot, bool haveGlyph) {
    static const GLubyte kNoPixels[1] = {0}; // Mesa drops a glBitmap with a null pointer
    const FT_Bitmap& bm = slot->bitmap;
    int width = haveGlyph ? static_cast<int>(bm.width) : 0;
    int rows = haveGlyph ? static_cast<int>(bm.rows) : 0;
    float advance = haveGlyph ? static_cast<float>((slot->advance.x + 32) >> 6) : 0.0f;
    std::vector<GLubyte> bits;
    if (width > 0 && rows > 0 && bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
        int rowBytes = (width + 7) / 8;
        bits.assign(static_cast<size_t>(rowBytes) * rows, 0);
        for (int r = 0; r < rows; ++r) {
            // FreeType rows run top-down, glBitmap rows bottom-up.
            const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(r) * bm.pitch;
            GLubyte* dst = &bits[static_cast<size_t>(rows - 1 - r) * rowBytes];
            for (int x = 0; x < width; ++x) {
                if (src[x] >= 128) dst[x >> 3] |= static_cast<GLubyte>(0x80 >> (x & 7));
            }
        }
    } else {
        width = rows = 0;
    }
    float xorig = width ? static_cast<float>(-slot->bitmap_left) : 0.0f;
    float yorig = rows ? static_cast<float>(rows - slot->bitmap_top) : 0.0f;
    glNewList(list, GL_COMPILE);
    glBitmap(width, rows, xorig, yorig, advance, 0.0f, bits.empty() ? kNoPixels : bits.data());
    glEndList();
}

} // namespace

bool BuildFontBitmapLists(const char* face, int height, int weight, int first, int count,
                          unsigned listBase) {
    if (!face || height <= 0 || count <= 0 || first < 0) return false;
    FontFile font;
    if (!FindFont(face, weight, &font)) return false;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return false;
    FT_Face ftFace = nullptr;
    if (FT_New_Face(library, font.path.c_str(), font.index, &ftFace) != 0) {
        FT_Done_FreeType(library);
        return false;
    }
    // The height is the em size in pixels: the character height without internal leading.
    bool ok = FT_Set_Pixel_Sizes(ftFace, 0, static_cast<FT_UInt>(height)) == 0;
    bool embolden = weight >= 600 && !font.bold;
    if (ok) {
        // Pixel-store state is applied when the lists are compiled, not when they run.
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
        glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
        for (int i = 0; i < count; ++i) {
            FT_UInt glyph = FT_Get_Char_Index(ftFace, static_cast<FT_ULong>(first + i));
            bool have = glyph != 0 && FT_Load_Glyph(ftFace, glyph, FT_LOAD_DEFAULT) == 0;
            if (have && embolden) FT_GlyphSlot_Embolden(ftFace->glyph);
            if (have) have = FT_Render_Glyph(ftFace->glyph, FT_RENDER_MODE_NORMAL) == 0;
            CompileGlyph(listBase + static_cast<unsigned>(i), ftFace->glyph, have);
        }
        glPopClientAttrib();
    }
    FT_Done_Face(ftFace);
    FT_Done_FreeType(library);
    return ok;
}

} // namespace platform
