#!/bin/sh
# Installs the Debian packages the build needs, once: only when one of them is missing.
# Usage: scripts/deps.sh [test|package]   ("test" adds what the tests, sanitizers and fuzzers need;
# "package" what scripts/package.sh needs, which the tests need as well)
set -e
packages="cmake g++ make pkg-config libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev libpng-dev
  fonts-dejavu-core libfreetype-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libavdevice-dev ffmpeg
  librtmidi-dev liblo-dev libjack-jackd2-dev libx11-dev libxrandr-dev
  libaubio-dev"
if [ "$1" = "test" ] || [ "$1" = "package" ]; then
  # The package: man pages from --help, dependencies from the linked libraries, its checker.
  packages="$packages help2man dpkg-dev lintian"
fi
# The browser surface: its server, the QR code, the pictures.
packages="$packages libcivetweb-dev libqrencode-dev libjpeg-dev"
if [ "$1" = "test" ]; then
  packages="$packages libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libfuzzer-14-dev
  jackd2 liblo-tools
  hydrogen-drumkits aubio-tools"
  # The projector's tests: an X server of their own.
  packages="$packages xvfb"
  # The console's build: the armel cross toolchain, its emulator and GoogleTest's sources.
  packages="$packages crossbuild-essential-armel qemu-user googletest"
  # The browser surface's tests: a real browser driven over WebDriver from Python.
  packages="$packages chromium chromium-driver python3"
fi
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
