#!/usr/bin/env bash
# Cross-builds the libraries the Windows client links (SDL2, Opus, libsodium,
# Dear ImGui with its Win32 and Direct3D 11 back ends, GoogleTest) from
# Debian's source packages into a cache folder outside the tree, and links
# the header-only ones (Asio, spdlog, fmt, nlohmann-json) beside them.
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
    -DCMAKE_TOOLCHAIN_FILE="$source_root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  quietly "$name" cmake --build "$deps/build/$name" -j "$jobs"
  quietly "$name" cmake --install "$deps/build/$name"
}

autotools_cross() {
  CC="$host-gcc-posix" CXX="$host-g++-posix" ./configure --host="$host" \
    --prefix="$prefix" --disable-shared --enable-static "$@"
}

ensure_source_entries

if ! built sdl2-2.26.5; then
  src="$(unpack libsdl2)"
  log "building SDL2 (a few minutes)"
  cmake_library sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_STATIC_PIC=OFF
  stamp sdl2-2.26.5
fi

if ! built opus-1.3.1; then
  src="$(unpack opus)"
  log "building Opus"
  # The release's stack protector needs libssp at link time; the client
  # gains nothing from it in a decoder fed only checked packets.
  cd "$src"
  quietly opus autotools_cross --disable-doc --disable-extra-programs --disable-hardening
  quietly opus make -j "$jobs"
  quietly opus make install
  cd "$source_root"
  stamp opus-1.3.1
fi

if ! built libsodium-1.0.18; then
  src="$(unpack libsodium)"
  log "building libsodium"
  cd "$src"
  if [ ! -x configure ]; then quietly libsodium ./autogen.sh -s; fi
  quietly libsodium autotools_cross
  quietly libsodium make -j "$jobs"
  quietly libsodium make install
  cd "$source_root"
  stamp libsodium-1.0.18
fi

if ! built googletest-1.12.1; then
  src="$(unpack googletest)"
  log "building GoogleTest"
  cmake_library googletest "$src" -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=OFF
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

# Header-only libraries come from the Linux packages, linked one by one so
# that no glibc header is ever on the cross compiler's path.
for header in asio asio.hpp spdlog fmt nlohmann; do
  if [ ! -e "/usr/include/$header" ]; then
    echo "windows-deps: /usr/include/$header is missing (run scripts/install-deps.sh)" >&2
    exit 1
  fi
  ln -sfn "/usr/include/$header" "$prefix/include/$header"
done

log "all libraries in $prefix"
