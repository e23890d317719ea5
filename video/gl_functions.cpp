// Entry point lookup for the renderer's GL function table.
#include "video/gl_functions.h"

#include <SDL.h>

namespace nb {

bool GlFunctions::load(std::string& missing) {
#define NB_GL_LOAD(type, name)                                                        \
    name = reinterpret_cast<type>(SDL_GL_GetProcAddress("gl" #name));                 \
    if (!name) {                                                                      \
        missing = "gl" #name;                                                         \
        return false;                                                                 \
    }
    NB_GL_FUNCTIONS(NB_GL_LOAD)
#undef NB_GL_LOAD
    return true;
}

}  // namespace nb
