// Forced into ImGui's OpenGL 3 back end when it is compiled: its GL calls
// bind straight to the system libGL instead of the loader that back end
// embeds. In the ImGui release Debian ships, that loader stores 54 function
// pointers into a table of 53 and so overwrites whatever global follows it.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
