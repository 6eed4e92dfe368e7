// webgl.cpp: the WebGL side of the GL 1.1 layer: context, the one shader, the vertex buffer,
// textures and the glyph atlas, with a cache of the WebGL state so that unchanged state is not
// set again. Main thread. Everything here runs as JavaScript on the page's `Module.gl11`.
#include "platform/web/gl11/gl11.h"

#include <emscripten.h>

// clang-format off
EM_JS(int, gl11_js_create_context, (const char* selector), {
    if (Module.gl11) return Module.gl11.version;
    var canvas = document.querySelector(UTF8ToString(selector));
    if (!canvas) return 0;
    // No alpha: the desktop's window shows no alpha either, and the clear colour's 0.5 would
    // let the page shine through. Bitmap edges stay hard: no multisampling.
    var attributes = {alpha: false, depth: true, stencil: false, antialias: false,
                      premultipliedAlpha: false, preserveDrawingBuffer: false};
    var version = 2;
    var gl = canvas.getContext('webgl2', attributes);
    if (!gl) {
        version = 1;
        gl = canvas.getContext('webgl', attributes) || canvas.getContext('experimental-webgl', attributes);
    }
    if (!gl) return 0;
    function compile(type, source) {
        var shader = gl.createShader(type);
        gl.shaderSource(shader, source);
        gl.compileShader(shader);
        if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) err(gl.getShaderInfoLog(shader));
        return shader;
    }
    var vertex = 'attribute vec4 aPosition; attribute vec4 aColour; attribute vec2 aTexCoord;' +
        'varying vec4 vColour; varying vec2 vTexCoord;' +
        'void main() { gl_Position = aPosition; vColour = aColour; vTexCoord = aTexCoord; }';
    // 0: the colour; 1: colour times texture (the texture environment's default, modulate);
    // 2: a bitmap: the colour where the atlas has a set bit, no fragment elsewhere.
    var fragment = '#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump float;\n#endif\n' +
        'varying vec4 vColour; varying vec2 vTexCoord; uniform int uShading; uniform sampler2D uTexture;' +
        'void main() {' +
        '  if (uShading == 1) gl_FragColor = vColour * texture2D(uTexture, vTexCoord);' +
        '  else if (uShading == 2) { if (texture2D(uTexture, vTexCoord).a < 0.5) discard; gl_FragColor = vColour; }' +
        '  else gl_FragColor = vColour;' +
        '}';
    var program = gl.createProgram();
    gl.attachShader(program, compile(gl.VERTEX_SHADER, vertex));
    gl.attachShader(program, compile(gl.FRAGMENT_SHADER, fragment));
    gl.bindAttribLocation(program, 0, 'aPosition');
    gl.bindAttribLocation(program, 1, 'aColour');
    gl.bindAttribLocation(program, 2, 'aTexCoord');
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) { err(gl.getProgramInfoLog(program)); return 0; }
    gl.useProgram(program);
    var buffer = gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    var stride = 40; // gl11::Vertex
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 4, gl.FLOAT, false, stride, 0);
    gl.enableVertexAttribArray(1);
    gl.vertexAttribPointer(1, 4, gl.FLOAT, false, stride, 16);
    gl.enableVertexAttribArray(2);
    gl.vertexAttribPointer(2, 2, gl.FLOAT, false, stride, 32);
    gl.uniform1i(gl.getUniformLocation(program, 'uTexture'), 0);
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
    Module.gl11 = {
        version: version, gl: gl, canvas: canvas, uShading: gl.getUniformLocation(program, 'uShading'),
        textures: [null], atlas: null, cache: {}
    };
    return version;
});

EM_JS(void, gl11_js_reset, (), {
    var s = Module.gl11;
    if (!s) return;
    for (var i = 1; i < s.textures.length; ++i) if (s.textures[i]) s.gl.deleteTexture(s.textures[i]);
    s.textures = [null];
    if (s.atlas) s.gl.deleteTexture(s.atlas);
    s.atlas = null;
    var gl = s.gl;
    gl.disable(gl.BLEND);
    gl.disable(gl.DEPTH_TEST);
    gl.blendFunc(gl.ONE, gl.ZERO);
    gl.depthFunc(gl.LESS);
    gl.bindTexture(gl.TEXTURE_2D, null);
    s.cache = {blend: 0, src: 1, dst: 0, depth: 0, depthFunc: 0x0201, shading: -1, texture: null};
});

EM_JS(void, gl11_js_draw, (const void* vertices, int count, int blend, int src, int dst, int depth,
                           int depthFunc, int shading, int texture), {
    var s = Module.gl11;
    var gl = s.gl, c = s.cache;
    if (c.blend !== blend) { if (blend) gl.enable(gl.BLEND); else gl.disable(gl.BLEND); c.blend = blend; }
    if (c.src !== src || c.dst !== dst) { gl.blendFunc(src, dst); c.src = src; c.dst = dst; }
    if (c.depth !== depth) { if (depth) gl.enable(gl.DEPTH_TEST); else gl.disable(gl.DEPTH_TEST); c.depth = depth; }
    if (c.depthFunc !== depthFunc) { gl.depthFunc(depthFunc); c.depthFunc = depthFunc; }
    if (c.shading !== shading) { gl.uniform1i(s.uShading, shading); c.shading = shading; }
    if (shading) {
        var t = shading == 2 ? s.atlas : s.textures[texture];
        if (c.texture !== t) { gl.bindTexture(gl.TEXTURE_2D, t); c.texture = t; }
    }
    gl.bufferData(gl.ARRAY_BUFFER, HEAPF32.subarray(vertices >> 2, (vertices >> 2) + count * 10), gl.STREAM_DRAW);
    gl.drawArrays(gl.TRIANGLES, 0, count);
});

EM_JS(void, gl11_js_clear, (int mask, float r, float g, float b, float a, float depth), {
    var gl = Module.gl11.gl;
    gl.clearColor(r, g, b, a);
    gl.clearDepth(depth);
    gl.clear(mask);
});

EM_JS(void, gl11_js_viewport, (int x, int y, int width, int height), {
    Module.gl11.gl.viewport(x, y, width, height);
});

EM_JS(int, gl11_js_create_texture, (), {
    var s = Module.gl11;
    var t = s.gl.createTexture();
    s.textures.push(t);
    // OpenGL's defaults where WebGL's differ: a mipmapped minification filter.
    s.gl.bindTexture(s.gl.TEXTURE_2D, t);
    s.gl.texParameteri(s.gl.TEXTURE_2D, s.gl.TEXTURE_MIN_FILTER, s.gl.NEAREST_MIPMAP_LINEAR);
    s.cache.texture = t;
    return s.textures.length - 1;
});

EM_JS(void, gl11_js_delete_texture, (int handle), {
    var s = Module.gl11;
    var t = s.textures[handle];
    if (!t) return;
    if (s.cache.texture === t) s.cache.texture = null;
    s.gl.deleteTexture(t);
    s.textures[handle] = null;
});

EM_JS(void, gl11_js_texture_parameter, (int handle, int name, int value), {
    var s = Module.gl11;
    var t = s.textures[handle];
    if (!t) return;
    s.gl.bindTexture(s.gl.TEXTURE_2D, t);
    s.cache.texture = t;
    s.gl.texParameteri(s.gl.TEXTURE_2D, name, value);
});

EM_JS(void, gl11_js_texture_image, (int handle, int width, int height, int format, const void* pixels), {
    var s = Module.gl11;
    var gl = s.gl, t = s.textures[handle];
    if (!t) return;
    gl.bindTexture(gl.TEXTURE_2D, t);
    s.cache.texture = t;
    var bytes = width * height * (format == gl.RGBA ? 4 : 3);
    gl.texImage2D(gl.TEXTURE_2D, 0, format, width, height, 0, format, gl.UNSIGNED_BYTE,
                  HEAPU8.subarray(pixels, pixels + bytes));
    // WebGL 1 samples a texture whose sides are not powers of two only when it does not repeat.
    var pot = function(n) { return (n & (n - 1)) == 0; };
    if (s.version == 1 && !(pot(width) && pot(height))) {
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    }
});

EM_JS(void, gl11_js_atlas_image, (int width, int height, const void* coverage), {
    var s = Module.gl11;
    var gl = s.gl;
    if (!s.atlas) {
        s.atlas = gl.createTexture();
        gl.bindTexture(gl.TEXTURE_2D, s.atlas);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    }
    gl.bindTexture(gl.TEXTURE_2D, s.atlas);
    s.cache.texture = s.atlas;
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.ALPHA, width, height, 0, gl.ALPHA, gl.UNSIGNED_BYTE,
                  HEAPU8.subarray(coverage, coverage + width * height));
});
// clang-format on

namespace gl11::js {

int CreateContext(const char* selector) {
    return gl11_js_create_context(selector);
}
void Reset() {
    gl11_js_reset();
}
void Draw(const Vertex* vertices, int count, const DrawState& s) {
    gl11_js_draw(vertices, count, s.blend, int(s.blendSrc), int(s.blendDst), s.depthTest,
                 int(s.depthFunc), int(s.shading), s.texture);
}
void Clear(uint32_t mask, const float colour[4], float depth) {
    gl11_js_clear(int(mask), colour[0], colour[1], colour[2], colour[3], depth);
}
void Viewport(int x, int y, int width, int height) {
    gl11_js_viewport(x, y, width, height);
}
int CreateTexture() {
    return gl11_js_create_texture();
}
void DeleteTexture(int handle) {
    gl11_js_delete_texture(handle);
}
void TextureParameter(int handle, uint32_t name, int value) {
    gl11_js_texture_parameter(handle, int(name), value);
}
void TextureImage(int handle, int width, int height, uint32_t format, const uint8_t* pixels) {
    gl11_js_texture_image(handle, width, height, int(format), pixels);
}
void AtlasImage(int width, int height, const uint8_t* coverage) {
    gl11_js_atlas_image(width, height, coverage);
}

} // namespace gl11::js
