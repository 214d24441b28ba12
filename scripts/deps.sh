#!/bin/sh
# Installs the Debian packages the build needs, once: only when one of them is missing.
# Usage: scripts/deps.sh [test]   ("test" adds what the tests, sanitizers and fuzzers need)
set -e
packages="cmake g++ make pkg-config libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev libpng-dev
  fonts-dejavu-core libfreetype-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libavdevice-dev ffmpeg
  librtmidi-dev liblo-dev libjack-jackd2-dev"
if [ "$1" = "test" ]; then
  packages="$packages libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libfuzzer-14-dev
  jackd2"
  # The live input's tests read a region of a virtual X screen.
  packages="$packages xvfb"
  # The console's build: the armel cross toolchain, its emulator and GoogleTest's sources.
  packages="$packages crossbuild-essential-armel qemu-user googletest"
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
