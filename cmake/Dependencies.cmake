# Every dependency comes from Debian's packages (scripts/install-deps.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

if(WIN32)
  # The Windows build links the libraries scripts/windows-deps.sh cross-built
  # (cmake/mingw-w64.cmake points the searches there).
  include(cmake/WindowsDependencies.cmake)
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  find_package(nlohmann_json REQUIRED)

  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
  pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
  pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
  # The backend simulator: HTTP(S) server and its database.
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
endif()

# Standalone Asio is header-only.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(nb_asio INTERFACE)
target_include_directories(nb_asio INTERFACE ${ASIO_INCLUDE_DIR})
# Every file must agree on how asio allocates, whatever it included first.
target_compile_definitions(nb_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_DISABLE_STD_ALIGNED_ALLOC)
target_link_libraries(nb_asio INTERFACE Threads::Threads)
if(WIN32)
  target_link_libraries(nb_asio INTERFACE ws2_32 mswsock)
endif()

if(NB_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(NB_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# Sanitizer builds are selected by NB_SANITIZE (address+undefined, or thread).
set(NB_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address,undefined' or 'thread'")
if(NB_SANITIZE)
  add_compile_options(-fsanitize=${NB_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${NB_SANITIZE})
endif()

# Coverage feedback for libFuzzer comes from every library the targets link.
if(NB_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "NB_LIBFUZZER needs clang (use the fuzz preset)")
  endif()
  # A finding must stop the run, or libFuzzer never saves the input.
  add_compile_options(-fsanitize=fuzzer-no-link -fno-sanitize-recover=all)
endif()
