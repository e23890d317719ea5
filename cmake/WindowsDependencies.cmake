# Targets named as the Linux build names them, so subsystem folders link the
# same names on both platforms.

set(NB_WINDOWS_INCLUDE_DIR ${NB_WINDOWS_DEPS}/prefix/include)

# fmt and spdlog, cross-built by scripts/windows-deps.sh, bring their own
# fmt::fmt and spdlog::spdlog.
find_package(fmt REQUIRED CONFIG)
find_package(spdlog REQUIRED CONFIG)
add_library(nb_nlohmann_json INTERFACE)
target_include_directories(nb_nlohmann_json INTERFACE ${NB_WINDOWS_INCLUDE_DIR})
add_library(nlohmann_json::nlohmann_json ALIAS nb_nlohmann_json)

# SDL2 and its WinMain glue, linked statically with the system libraries
# its static build needs.
find_package(SDL2 REQUIRED CONFIG)
add_library(nb_sdl2 INTERFACE)
target_link_libraries(nb_sdl2 INTERFACE SDL2::SDL2-static)
add_library(PkgConfig::SDL2 ALIAS nb_sdl2)

find_library(NB_OPUS_LIBRARY opus REQUIRED)
find_path(NB_OPUS_INCLUDE_DIR opus/opus.h REQUIRED)
add_library(nb_opus INTERFACE)
target_include_directories(nb_opus INTERFACE ${NB_OPUS_INCLUDE_DIR}/opus)
# Its fortified string calls live in libssp.
target_link_libraries(nb_opus INTERFACE ${NB_OPUS_LIBRARY} ssp)
add_library(PkgConfig::OPUS ALIAS nb_opus)

find_library(NB_SODIUM_LIBRARY sodium REQUIRED)
find_path(NB_SODIUM_INCLUDE_DIR sodium.h REQUIRED)
add_library(nb_sodium INTERFACE)
target_include_directories(nb_sodium INTERFACE ${NB_SODIUM_INCLUDE_DIR})
target_compile_definitions(nb_sodium INTERFACE SODIUM_STATIC)
target_link_libraries(nb_sodium INTERFACE ${NB_SODIUM_LIBRARY})
add_library(PkgConfig::SODIUM ALIAS nb_sodium)

# Windows 10 interfaces; no min/max macros in the way of std::min.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)

# Tests run under wine; one wineserver kept alive by scripts/build-windows.sh
# makes each start cheap. The wrapper tells a teardown kill from a failure.
find_program(NB_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(NB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/support/run_under_wine.sh ${NB_WINE})
endif()

# Dear ImGui with its Win32 and Direct3D 11 back ends, built into one
# library by scripts/windows-deps.sh.
find_library(NB_IMGUI_LIBRARY imgui REQUIRED)
add_library(nb_imgui_backends INTERFACE)
target_include_directories(nb_imgui_backends INTERFACE ${NB_WINDOWS_INCLUDE_DIR}/imgui
                           ${NB_WINDOWS_INCLUDE_DIR}/imgui/backends)
target_link_libraries(nb_imgui_backends INTERFACE ${NB_IMGUI_LIBRARY} d3d11 dxgi d3dcompiler dwmapi imm32)
