#!/bin/sh
# The projector's figures on a real X server (Xvfb): the projector program's processor time as a
# share of one core while the demo playlist plays at 25 fps, at 1280x720 and 1920x1080, sharp and
# smooth; and the latency from the main window's present to the projector's present of the same
# frame (median, p95), which the projector measures through the frame numbers and the monotonic
# clock (LOOPMIXER_PROJECTOR_STATS). Needs Xvfb and oscsend (liblo-tools).
# Usage: [SIZES="1280x720 1920x1080"] bench/projector_figures.sh [BUILD_DIR] [SECONDS]
set -e
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
display=77
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
sleep 2
port=$((20000 + $$ % 20000))
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' /proc/$1/stat; }
printf "%-10s %-7s %10s %8s %8s %10s %8s\n" size look "cpu share" shown skipped "median ms" "p95 ms"
for size in ${SIZES:-1280x720 1920x1080}; do
  for look in sharp smooth; do
    rm -rf "$work/run"
    cp -r "$build/run" "$work/run"
    cd "$work/run"
    LOOPMIXER_PROJECTOR_STATS="$work/stats" DISPLAY=:$display "$build/loopmixer" --projector "$size+0+0" \
      --projector-look $look --osc-port $port >"$work/out" 2>&1 &
    lm=$!
    sleep 3
    oscsend localhost $port /loopmixer/button/b i 1; sleep 0.2; oscsend localhost $port /loopmixer/button/b i 0
    sleep 1
    oscsend localhost $port /loopmixer/playlist i 0
    sleep 3
    if [ ! -e /proc/$lm ]; then echo "loopmixer ended:"; tail -5 "$work/out"; exit 1; fi
    projector=$(awk '{ print $1 }' /proc/$lm/task/$lm/children)
    before=$(cpu $projector)
    sleep "$seconds"
    after=$(cpu $projector)
    kill -TERM $lm
    wait $lm || true
    sleep 1
    set -- $(cat "$work/stats")
    # shown N skipped M samples K median_us A p95_us B
    printf "%-10s %-7s %9.1f%% %8s %8s %10.2f %8.2f\n" $size $look \
      "$(echo "($after - $before) * 100 / $ticks / $seconds" | bc -l)" $2 $4 \
      "$(echo "$8 / 1000" | bc -l)" "$(echo "${10} / 1000" | bc -l)"
    port=$((port + 1))
  done
done
