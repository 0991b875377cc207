#!/usr/bin/env bash
# Installs a build made with CMake's default generator (the one packaging tools use) into a scratch
# root, validates the desktop entry and the AppStream metadata, builds the .deb, unpacks it without a
# package manager and runs kroxtool from it.
#
# The build is the tree under test when that tree was made with the default generator (scripts/test
# makes it so); otherwise the program is built from clean in a tree of its own.
set -euo pipefail
SRC=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
default_generator='^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$'

if grep -q "$default_generator" "$1/CMakeCache.txt" && grep -q '^QR_SANITIZE:BOOL=OFF$' "$1/CMakeCache.txt" &&
   grep -q '^QR_TSAN:BOOL=OFF$' "$1/CMakeCache.txt"; then
  BUILD=$1
  echo "packaging the tree under test, $BUILD"
else
  # Inside the test's own build tree, so compiler caches that key on paths below the work tree hit.
  BUILD=$1/install-default-generator
  rm -rf "$BUILD"
  unset CMAKE_GENERATOR
  cmake -S "$SRC" -B "$BUILD" -DQR_BUILD_TESTS=OFF >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log"; echo "FAIL: configure"; exit 1; }
  grep -q "$default_generator" "$BUILD/CMakeCache.txt" ||
    { echo "FAIL: the default generator is not Unix Makefiles"; exit 1; }
  cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" >"$scratch/build.log" 2>&1 ||
    { tail -n 40 "$scratch/build.log"; echo "FAIL: clean build with the default generator"; exit 1; }
fi

DESTDIR="$scratch/root" cmake --install "$BUILD" --prefix /usr >/dev/null
root="$scratch/root/usr"
for f in bin/quintaray-tv-studio bin/kroxtool bin/phone-sim share/applications/quintaray-tv-studio.desktop \
         share/metainfo/io.github.quintaray.TVStudio.metainfo.xml \
         share/icons/hicolor/48x48/apps/quintaray-tv-studio.png \
         share/icons/hicolor/256x256/apps/quintaray-tv-studio.png; do
  [ -e "$root/$f" ] || { echo "FAIL: install lacks $f"; exit 1; }
done
desktop-file-validate "$root/share/applications/quintaray-tv-studio.desktop"
appstreamcli validate --no-net "$root/share/metainfo/io.github.quintaray.TVStudio.metainfo.xml" >/dev/null

(cd "$scratch" && cpack --config "$BUILD/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null)
deb=$(ls "$scratch"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# A Wayland desktop needs Qt's Wayland plugin, which no linked library brings.
dpkg-deb -f "$deb" Recommends | grep -qw qt6-wayland || { echo "FAIL: the .deb does not recommend qt6-wayland"; exit 1; }
# Every library the installed binaries link directly must come from a package the .deb depends on.
for bin in "$root"/bin/*; do
  for needed in $(objdump -p "$bin" | awk '/NEEDED/ {print $2}'); do
    so=$(ldd "$bin" | awk -v n="$needed" '$1 == n {print $3}')
    [ -z "$so" ] && continue
    pkg=$(dpkg -S "$(readlink -f "$so")" 2>/dev/null | head -n 1 | cut -d: -f1 || true)
    [ -z "$pkg" ] && continue
    grep -qw "$pkg" <<<"$depends" || { echo "FAIL: $(basename "$bin") needs $pkg, not in Depends"; exit 1; }
  done
done
dpkg-deb -x "$deb" "$scratch/unpacked"
version=$("$scratch/unpacked/usr/bin/kroxtool" --version)
echo "kroxtool --version: $version"
[ -n "$version" ] || { echo "FAIL: no version"; exit 1; }
echo PASS
