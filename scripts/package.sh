#!/bin/sh
# Builds the Debian package build/loopmixer_VERSION_ARCH.deb: the programs in /usr/bin, the default
# set in /usr/share/loopmixer, desktop entry, icons, AppStream metadata, man pages, licences, and
# the dependencies dpkg-shlibdeps reads from the libraries the programs link.
# Usage: scripts/package.sh [BUILD_DIR]
#   Without BUILD_DIR it makes a Release build of its own in build-package/ (whose default set
#   nobody has played with); test.sh passes the fresh build/ of the test run.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh package
build="$1"
if [ -z "$build" ]; then
  build=build-package
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOOPMIXER_TESTS=OFF -DLOOPMIXER_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
arch="$(dpkg --print-architecture)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/debian/loopmixer"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >/dev/null

# Debian's places for the documentation: compressed man pages and changelog, the copyright file.
doc="$stage/usr/share/doc/loopmixer"
gzip -9n "$stage"/usr/share/man/man1/*.1
rm -f "$doc/font-licence.txt"
cp packaging/copyright "$doc/copyright"
gzip -9n -c packaging/changelog >"$doc/changelog.gz"
mkdir -p "$stage/usr/share/lintian/overrides"
cp packaging/lintian-overrides "$stage/usr/share/lintian/overrides/loopmixer"

# Dependencies from the shared libraries the programs link (dpkg-shlibdeps wants a debian/control).
mkdir -p "$work/debian"
printf 'Source: loopmixer\n\nPackage: loopmixer\nArchitecture: any\n' >"$work/debian/control"
depends="$(cd "$work" && dpkg-shlibdeps -O debian/loopmixer/usr/bin/* 2>&1 | sed -n 's/^shlibs:Depends=//p')"

mkdir -p "$stage/DEBIAN"
size="$(du -sk --exclude=DEBIAN "$stage" | cut -f1)"
sed -e "s#@VERSION@#$version#" -e "s#@ARCH@#$arch#" -e "s#@SIZE@#$size#" -e "s#@DEPENDS@#$depends#" \
  packaging/control.in >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) \
  >"$stage/DEBIAN/md5sums"
chmod -R u+rwX,go+rX,go-w "$stage"
mkdir -p build
deb="build/loopmixer_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
