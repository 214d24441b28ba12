#!/bin/sh
# The package as a user meets it: built from BUILD_DIR, its files listed and checked by lintian,
# then (as root, as on CI) installed with dpkg, started headless as a fresh user in an empty folder,
# the demo playlist played through OSC, and removed, leaving the user's run folder in place.
# Usage: tests/package_test.sh BUILD_DIR
set -e
cd "$(dirname "$0")/.."
build="${1:?usage: tests/package_test.sh BUILD_DIR}"
fail() { echo "package test: $*" >&2; exit 1; }

deb="$(scripts/package.sh "$build" | tail -n 1)"
[ -f "$deb" ] || fail "no package written"
files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in usr/bin/loopmixer usr/bin/loopmixer-encode usr/bin/loopmixer-clip usr/bin/loopmixer-projector \
  usr/share/loopmixer/data/textureUI.png usr/share/loopmixer/data/volter usr/share/loopmixer/data/prefs.xml \
  usr/share/loopmixer/data/playlists.xml usr/share/loopmixer/videos/plasma.q18 \
  usr/share/applications/loopmixer.desktop usr/share/metainfo/loopmixer.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/loopmixer.svg usr/share/icons/hicolor/48x48/apps/loopmixer.png \
  usr/share/man/man1/loopmixer.1.gz usr/share/man/man1/loopmixer-encode.1.gz usr/share/man/man1/loopmixer-clip.1.gz usr/share/man/man1/loopmixer-projector.1.gz \
  usr/share/doc/loopmixer/copyright usr/share/doc/loopmixer/changelog.gz; do
  echo "$files" | grep -qx "./$f" || fail "$f is not in the package"
done
echo "$files" | grep -q "log.txt" && fail "a log file is in the package"
dpkg-deb -f "$deb" Depends | grep -q libsdl1.2 || fail "no dependency on SDL"
lintian --fail-on error "$deb" || fail "lintian reports errors"

if [ "$(id -u)" != 0 ]; then
  echo "package test: built and checked; installing needs root, skipped"
  exit 0
fi
dpkg -i "$deb" >/dev/null
command -v loopmixer >/dev/null || fail "loopmixer is not on the PATH after dpkg -i"
loopmixer --version | grep -q "^loopmixer $(dpkg-deb -f "$deb" Version) (commit " || fail "--version"

work="$(mktemp -d)"
osc=$((20000 + $$ % 20000))
feedback=$((osc + 1))
cleanup() {
  [ -n "$dump" ] && kill "$dump" 2>/dev/null || true
  [ -n "$program" ] && kill -9 "$program" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home" "$work/elsewhere"
stdbuf -oL oscdump "$feedback" >"$work/feedback.txt" 2>&1 &
dump=$!
# Waits up to 30 s for a line matching $2 in file $1.
wait_for() {
  i=0
  while ! grep -q "$2" "$1" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 300 ] && fail "waited 30 s for \"$2\" in $1"
    sleep 0.1
  done
}
press_b() {
  oscsend localhost "$osc" /loopmixer/button/b i 1
  sleep 0.2
  oscsend localhost "$osc" /loopmixer/button/b i 0
}
(cd "$work/elsewhere" && env -u XDG_DATA_HOME HOME="$work/home" SDL_VIDEODRIVER=dummy \
  loopmixer --osc-port "$osc" --osc-feedback "127.0.0.1:$feedback" >"$work/out.txt" 2>&1) &
program=$!
run="$work/home/.local/share/loopmixer"
wait_for "$work/feedback.txt" '/loopmixer/screen s "home"'
press_b
wait_for "$work/feedback.txt" '/loopmixer/screen s "mix"'
sleep 0.5
press_b
wait_for "$run/data/log.txt" "playlist loading complete"
kill -TERM "$program"
wait "$program" || fail "loopmixer did not end with status 0"
program=""
[ -z "$(ls -A "$work/elsewhere")" ] || fail "the program wrote into the folder it was started in"
[ -f "$run/data/prefs.xml" ] && [ ! -L "$run/data/prefs.xml" ] || fail "prefs.xml was not copied"
[ -L "$run/data/home.png" ] || fail "the pictures were not linked"
[ "$(grep -c 'LOADED' "$run/data/log.txt")" -ge 5 ] || fail "the demo clips did not load"

dpkg -r loopmixer >/dev/null
[ ! -e /usr/bin/loopmixer ] || fail "dpkg -r left /usr/bin/loopmixer"
[ -f "$run/data/playlists.xml" ] || fail "dpkg -r touched the user's run folder"
echo "package test: $deb built, checked, installed, played and removed"
