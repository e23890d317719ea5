// GLSL 3.30 sources and their compilation.
#include "video/yuv_program.h"

#include <spdlog/spdlog.h>

#include <string>

namespace nb {

namespace {

// A full-viewport quad from the vertex index alone: no vertex buffer to keep.
constexpr const char* k_vertex_source = R"(#version 330 core
uniform vec2 uv_scale;
out vec2 uv;
void main() {
    vec2 pos = vec2((gl_VertexID & 1) != 0 ? 1.0 : -1.0, (gl_VertexID & 2) != 0 ? 1.0 : -1.0);
    gl_Position = vec4(pos, 0.0, 1.0);
    // Row 0 of the picture is its top line.
    uv = vec2(pos.x + 1.0, 1.0 - pos.y) * 0.5 * uv_scale;
}
)";

constexpr const char* k_fragment_source = R"(#version 330 core
uniform sampler2D plane0;
uniform sampler2D plane1;
uniform sampler2D plane2;
uniform int nv12;
uniform mat3 yuv_to_rgb;
uniform vec3 offset;
// Last texel centres inside the visible part: filtering must not blend in
// the coding padding beyond it.
uniform vec2 luma_max;
uniform vec2 chroma_max;
in vec2 uv;
out vec4 color;
void main() {
    float y = texture(plane0, min(uv, luma_max)).r;
    vec2 cuv = min(uv, chroma_max);
    vec2 c = nv12 != 0 ? texture(plane1, cuv).rg : vec2(texture(plane1, cuv).r, texture(plane2, cuv).r);
    color = vec4(clamp(yuv_to_rgb * (vec3(y, c) - offset), 0.0, 1.0), 1.0);
}
)";

GLuint compile(const GlFunctions& gl, GLenum kind, const char* source) {
    const GLuint shader = gl.CreateShader(kind);
    gl.ShaderSource(shader, 1, &source, nullptr);
    gl.CompileShader(shader);
    GLint ok = GL_FALSE;
    gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[1024] = {};
        gl.GetShaderInfoLog(shader, sizeof(log), nullptr, log);
        spdlog::error("GlRenderer: {} shader does not compile: {}", kind == GL_VERTEX_SHADER ? "vertex" : "fragment",
                      log);
        gl.DeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

bool YuvProgram::create(const GlFunctions& gl) {
    const GLuint vs = compile(gl, GL_VERTEX_SHADER, k_vertex_source);
    const GLuint fs = vs ? compile(gl, GL_FRAGMENT_SHADER, k_fragment_source) : 0;
    if (!fs) {
        if (vs) gl.DeleteShader(vs);
        return false;
    }
    program_ = gl.CreateProgram();
    gl.AttachShader(program_, vs);
    gl.AttachShader(program_, fs);
    gl.LinkProgram(program_);
    gl.DeleteShader(vs);
    gl.DeleteShader(fs);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(program_, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[1024] = {};
        gl.GetProgramInfoLog(program_, sizeof(log), nullptr, log);
        spdlog::error("GlRenderer: shader program does not link: {}", log);
        destroy(gl);
        return false;
    }
    nv12_ = gl.GetUniformLocation(program_, "nv12");
    matrix_ = gl.GetUniformLocation(program_, "yuv_to_rgb");
    offset_ = gl.GetUniformLocation(program_, "offset");
    uv_scale_ = gl.GetUniformLocation(program_, "uv_scale");
    luma_max_ = gl.GetUniformLocation(program_, "luma_max");
    chroma_max_ = gl.GetUniformLocation(program_, "chroma_max");
    gl.UseProgram(program_);
    gl.Uniform1i(gl.GetUniformLocation(program_, "plane0"), 0);
    gl.Uniform1i(gl.GetUniformLocation(program_, "plane1"), 1);
    gl.Uniform1i(gl.GetUniformLocation(program_, "plane2"), 2);
    gl.UseProgram(0);
    // Core profile draws nothing without a vertex array bound.
    gl.GenVertexArrays(1, &vertex_array_);
    return true;
}

void YuvProgram::destroy(const GlFunctions& gl) {
    if (vertex_array_) gl.DeleteVertexArrays(1, &vertex_array_);
    if (program_) gl.DeleteProgram(program_);
    vertex_array_ = 0;
    program_ = 0;
}

void YuvProgram::draw(const GlFunctions& gl, bool nv12, const YuvToRgb& conversion, uint32_t texture_width,
                      uint32_t texture_height, uint32_t visible_width, uint32_t visible_height) const {
    const SampleWindow window = sample_window(texture_width, texture_height, visible_width, visible_height);
    gl.UseProgram(program_);
    gl.Uniform1i(nv12_, nv12 ? 1 : 0);
    gl.UniformMatrix3fv(matrix_, 1, GL_FALSE, conversion.matrix.data());
    gl.Uniform3f(offset_, conversion.offset[0], conversion.offset[1], conversion.offset[2]);
    gl.Uniform2f(uv_scale_, window.uv_scale[0], window.uv_scale[1]);
    gl.Uniform2f(luma_max_, window.luma_max[0], window.luma_max[1]);
    gl.Uniform2f(chroma_max_, window.chroma_max[0], window.chroma_max[1]);
    gl.BindVertexArray(vertex_array_);
    gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl.BindVertexArray(0);
    gl.UseProgram(0);
}

}  // namespace nb
