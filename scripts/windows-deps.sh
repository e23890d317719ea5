#!/usr/bin/env bash
# Cross-builds the libraries the Windows client links (SDL2, Opus, libsodium,
# fmt, spdlog, Dear ImGui with its Win32 and Direct3D 11 back ends,
# GoogleTest) from Debian's source packages into a cache folder outside the
# tree, and links the header-only ones (Asio, nlohmann-json) beside them.
# Each library is built once; delete its stamp (or the folder) to rebuild.
#
#   NB_WINDOWS_DEPS  the cache folder (default ~/.cache/nubora/windows-deps)
set -euo pipefail
cd "$(dirname "$0")/.."
source_root="$PWD"
deps="${NB_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/nubora/windows-deps}"
prefix="$deps/prefix"
host=x86_64-w64-mingw32
jobs="$(nproc)"
mkdir -p "$deps/sources" "$deps/build" "$deps/stamps" "$prefix/include" "$prefix/lib"

log() { echo "windows-deps: $*"; }

# apt-get source needs a deb-src entry; Debian's images ship without one.
ensure_source_entries() {
  if apt-get source --download-only --print-uris libsodium >/dev/null 2>&1; then
    return
  fi
  local SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  log "adding deb-src entries for bookworm"
  $SUDO tee /etc/apt/sources.list.d/nubora-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $SUDO apt-get update -qq
}

# Unpacks the upstream tarball of a Debian source package; prints its folder.
unpack() {
  local package="$1"
  local dir="$deps/sources/$package"
  if [ ! -d "$dir" ]; then
    local download="$deps/sources/.download-$package"
    rm -rf "$download" && mkdir -p "$download"
    (cd "$download" && apt-get source --download-only -qq "$package" >/dev/null 2>&1) \
      || { echo "windows-deps: could not download the source of $package" >&2; exit 1; }
    local tarball
    tarball="$(ls "$download"/*.orig.tar.* | head -1)"
    mkdir -p "$dir.partial"
    tar -xf "$tarball" -C "$dir.partial" --strip-components=1
    mv "$dir.partial" "$dir"
    rm -rf "$download"
  fi
  echo "$dir"
}

# Runs a build step with its output in the library's log, shown on failure.
quietly() {
  local name="$1"; shift
  if ! "$@" >>"$deps/build/$name.log" 2>&1; then
    echo "windows-deps: building $name failed; the end of $deps/build/$name.log:" >&2
    tail -n 30 "$deps/build/$name.log" >&2
    exit 1
  fi
}

built() { [ -f "$deps/stamps/$1" ]; }
stamp() { touch "$deps/stamps/$1"; log "$1 ready"; }

# Configures, builds and installs a CMake project: name, sources, options.
cmake_library() {
  local name="$1" src="$2"; shift 2
  quietly "$name" cmake -G Ninja -S "$src" -B "$deps/build/$name" \
    -DCMAKE_TOOLCHAIN_FILE="$source_root/cmake/mingw-w64.cmake" -DNB_WINDOWS_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  quietly "$name" cmake --build "$deps/build/$name" -j "$jobs"
  quietly "$name" cmake --install "$deps/build/$name"
}

# Configures (generating configure first where the tarball has none),
# builds and installs an autotools project: name, sources, options.
autotools_library() {
  local name="$1" src="$2"; shift 2
  cd "$src"
  if [ ! -x configure ]; then quietly "$name" ./autogen.sh -s; fi
  quietly "$name" env CC="$host-gcc-posix" CXX="$host-g++-posix" ./configure --host="$host" \
    --prefix="$prefix" --disable-shared --enable-static "$@"
  quietly "$name" make -j "$jobs"
  quietly "$name" make install
  cd "$source_root"
}

ensure_source_entries

# SDL2 gives the client its window and events and nothing else (sound goes
# through WASAPI, drawing through our own Direct3D 11 device), so the other
# subsystems are left out: half the build time.
build_sdl2() {
  built sdl2-2.26.5-video && return
  local src
  src="$(unpack libsdl2)"
  log "building SDL2's video and events (about two minutes)"
  cmake_library sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_STATIC_PIC=OFF \
    -DSDL_AUDIO=OFF -DSDL_RENDER=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
    -DSDL_POWER=OFF -DSDL_SENSOR=OFF -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_VULKAN=OFF \
    -DSDL_OPENGLES=OFF
  stamp sdl2-2.26.5-video
}

# The smaller libraries, one after another.
build_the_rest() {
  local src
  if ! built opus-1.3.1; then
    src="$(unpack opus)"
    log "building Opus"
    # The release's stack protector needs libssp at link time; the client
    # gains nothing from it in a decoder fed only checked packets.
    autotools_library opus "$src" --disable-doc --disable-extra-programs --disable-hardening
    stamp opus-1.3.1
  fi

  if ! built libsodium-1.0.18; then
    src="$(unpack libsodium)"
    log "building libsodium"
    autotools_library libsodium "$src"
    stamp libsodium-1.0.18
  fi

  # fmt and spdlog compiled once: used header-only, spdlog alone costs every
  # translation unit ten seconds.
  if ! built fmt-9.1.0; then
    src="$(unpack fmtlib)"
    log "building fmt"
    # An older cache links the Linux headers here; installing through that
    # link would write into /usr/include.
    if [ -L "$prefix/include/fmt" ]; then rm "$prefix/include/fmt"; fi
    cmake_library fmt "$src" -DFMT_DOC=OFF -DFMT_TEST=OFF
    stamp fmt-9.1.0
  fi

  if ! built spdlog-1.10.0; then
    src="$(unpack spdlog)"
    log "building spdlog"
    if [ -L "$prefix/include/spdlog" ]; then rm "$prefix/include/spdlog"; fi
    cmake_library spdlog "$src" -DSPDLOG_FMT_EXTERNAL=ON -DSPDLOG_BUILD_EXAMPLE=OFF \
      -DSPDLOG_BUILD_TESTS=OFF -DSPDLOG_BUILD_BENCH=OFF
    stamp spdlog-1.10.0
  fi

  if ! built googletest-1.12.1; then
    src="$(unpack googletest)"
    log "building GoogleTest"
    cmake_library googletest "$src" -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=OFF -DBUILD_GMOCK=OFF
    stamp googletest-1.12.1
  fi

  if ! built imgui-1.86; then
    src="$(unpack imgui)"
    log "building Dear ImGui with the Win32 and Direct3D 11 back ends"
    out="$deps/build/imgui"
    mkdir -p "$out" "$prefix/include/imgui/backends"
    objects=()
    for file in imgui.cpp imgui_draw.cpp imgui_tables.cpp imgui_widgets.cpp \
                backends/imgui_impl_win32.cpp backends/imgui_impl_dx11.cpp; do
      object="$out/$(basename "$file" .cpp).o"
      quietly imgui "$host-g++-posix" -O2 -std=c++17 -I"$src" -c "$src/$file" -o "$object"
      objects+=("$object")
    done
    rm -f "$prefix/lib/libimgui.a"
    "$host-ar" rcs "$prefix/lib/libimgui.a" "${objects[@]}"
    cp "$src"/*.h "$prefix/include/imgui/"
    cp "$src"/backends/imgui_impl_win32.h "$src"/backends/imgui_impl_dx11.h \
       "$prefix/include/imgui/backends/"
    stamp imgui-1.86
  fi
}

# Most of the time goes into single-threaded configure scripts, so SDL2 is
# built beside the rest.
build_sdl2 &
sdl2_job=$!
build_the_rest
wait "$sdl2_job"

# Header-only libraries come from the Linux packages, linked one by one so
# that no glibc header is ever on the cross compiler's path.
for header in asio asio.hpp nlohmann; do
  if [ ! -e "/usr/include/$header" ]; then
    echo "windows-deps: /usr/include/$header is missing (run scripts/install-deps.sh)" >&2
    exit 1
  fi
  ln -sfn "/usr/include/$header" "$prefix/include/$header"
done

log "all libraries in $prefix"
