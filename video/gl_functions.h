// The OpenGL 3.3 core entry points the renderer uses, looked up through SDL
// so that GLX and EGL contexts work alike.
#pragma once

#include <GL/glcorearb.h>

#include <string>

namespace nb {

#define NB_GL_FUNCTIONS(X)                                 \
    X(PFNGLGETERRORPROC, GetError)                         \
    X(PFNGLGETSTRINGPROC, GetString)                       \
    X(PFNGLGETINTEGERVPROC, GetIntegerv)                   \
    X(PFNGLVIEWPORTPROC, Viewport)                         \
    X(PFNGLCLEARCOLORPROC, ClearColor)                     \
    X(PFNGLCLEARPROC, Clear)                               \
    X(PFNGLDISABLEPROC, Disable)                           \
    X(PFNGLCOLORMASKPROC, ColorMask)                       \
    X(PFNGLGENTEXTURESPROC, GenTextures)                   \
    X(PFNGLDELETETEXTURESPROC, DeleteTextures)             \
    X(PFNGLBINDTEXTUREPROC, BindTexture)                   \
    X(PFNGLACTIVETEXTUREPROC, ActiveTexture)               \
    X(PFNGLTEXIMAGE2DPROC, TexImage2D)                     \
    X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)               \
    X(PFNGLTEXPARAMETERIPROC, TexParameteri)               \
    X(PFNGLPIXELSTOREIPROC, PixelStorei)                   \
    X(PFNGLCREATESHADERPROC, CreateShader)                 \
    X(PFNGLSHADERSOURCEPROC, ShaderSource)                 \
    X(PFNGLCOMPILESHADERPROC, CompileShader)               \
    X(PFNGLGETSHADERIVPROC, GetShaderiv)                   \
    X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)         \
    X(PFNGLDELETESHADERPROC, DeleteShader)                 \
    X(PFNGLCREATEPROGRAMPROC, CreateProgram)               \
    X(PFNGLATTACHSHADERPROC, AttachShader)                 \
    X(PFNGLLINKPROGRAMPROC, LinkProgram)                   \
    X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                 \
    X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)       \
    X(PFNGLDELETEPROGRAMPROC, DeleteProgram)               \
    X(PFNGLUSEPROGRAMPROC, UseProgram)                     \
    X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)     \
    X(PFNGLUNIFORM1IPROC, Uniform1i)                       \
    X(PFNGLUNIFORM2FPROC, Uniform2f)                       \
    X(PFNGLUNIFORM3FPROC, Uniform3f)                       \
    X(PFNGLUNIFORMMATRIX3FVPROC, UniformMatrix3fv)         \
    X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)           \
    X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)           \
    X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)     \
    X(PFNGLDRAWARRAYSPROC, DrawArrays)                     \
    X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)           \
    X(PFNGLREADBUFFERPROC, ReadBuffer)                     \
    X(PFNGLREADPIXELSPROC, ReadPixels)                     \
    X(PFNGLFINISHPROC, Finish)

struct GlFunctions {
#define NB_GL_MEMBER(type, name) type name = nullptr;
    NB_GL_FUNCTIONS(NB_GL_MEMBER)
#undef NB_GL_MEMBER

    // Needs a current context. On failure names the first missing function
    // in `missing` and returns false.
    bool load(std::string& missing);
};

}  // namespace nb
