# Cross-compiles for Windows x64 with Debian's mingw-w64 (the -posix
# compilers: the win32 ones have no std::thread). The libraries come from
# scripts/windows-deps.sh; tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NB_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${NB_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NB_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${NB_MINGW_HOST}-windres)

if(NOT DEFINED NB_WINDOWS_DEPS)
  if(DEFINED ENV{NB_WINDOWS_DEPS})
    set(NB_WINDOWS_DEPS $ENV{NB_WINDOWS_DEPS})
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(NB_WINDOWS_DEPS $ENV{XDG_CACHE_HOME}/nubora/windows-deps)
  else()
    set(NB_WINDOWS_DEPS $ENV{HOME}/.cache/nubora/windows-deps)
  endif()
endif()
set(NB_WINDOWS_DEPS ${NB_WINDOWS_DEPS} CACHE PATH "Cross-built Windows libraries")

set(CMAKE_FIND_ROOT_PATH /usr/${NB_MINGW_HOST} ${NB_WINDOWS_DEPS}/prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the cross-built .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} ${NB_WINDOWS_DEPS}/prefix/lib/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# One executable with no DLLs beside it: the C and C++ runtimes and
# winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
