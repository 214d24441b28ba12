#!/usr/bin/env bash
# Quality, size and speed of loopmixer-encode against FFmpeg's cinepak, msvideo1 and smc encoders
# on three generated sources. Needs the ffmpeg command and a built loopmixer-encode.
#
#   bench/encode_bench.sh [BUILD_DIR]      (default: build)
#
# For each source and codec it prints bytes per frame (our whole clip file; the peers' video
# packets), PSNR in RGB565 (both sides truncated to RGB565 before comparing, against the source's
# exact RGB24 frames), and decode time per frame: ours from RAM with the instrument's decoder,
# the peers' through ffmpeg decoding to rgb565le with -sws_flags neighbor. Decode times are CPU
# time, the best of several repeats on both sides (so that other programs' load counts for
# neither), and are also given as a ratio to copying one 153,600-byte frame (memcpy), measured
# in the same run. Encoding speed is given as frames per second of wall time and of CPU time,
# the best of three runs, with the load average seen before and after.
set -euo pipefail

build=${1:-build}
encoder=${LOOPMIXER_ENCODE:-$build/tools/encode/loopmixer-encode}
if [ ! -x "$encoder" ]; then
    echo "no encoder at $encoder: build the loopmixer-encode target first" >&2
    exit 1
fi
command -v ffmpeg >/dev/null || { echo "the ffmpeg command is needed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed for the CPU times" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=100

make_source() {  # name, filter graph
    ffmpeg -v error -y -filter_complex "$2" -frames:v $frames -pix_fmt rgb24 -c:v rawvideo "$work/$1.nut"
    ffmpeg -v error -y -i "$work/$1.nut" -f rawvideo -pix_fmt rgb24 "$work/$1.rgb24"
}
make_source testsrc2 "testsrc2=size=320x240:rate=25"
make_source mandelbrot "mandelbrot=size=320x240:rate=25"
make_source bars "smptebars=size=320x240:rate=25[b];color=c=yellow:size=24x24:rate=25[y];[b][y]overlay=x='20+mod(n*5\,270)':y='90+30*sin(n/6)'"

calc() { awk "BEGIN { print $* }"; }

# Wall and CPU seconds of a command (its output discarded), each the best of so many runs.
best_times() {  # runs, command...
    local runs=$1 wall=999999 cpu=999999 w u s c i
    shift
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$@" >/dev/null 2>&1
        read -r w u s < "$work/time.txt"
        c=$(calc "$u + $s")
        wall=$(calc "($w < $wall) ? $w : $wall")
        cpu=$(calc "($c < $cpu) ? $c : $cpu")
    done
    echo "$wall $cpu"
}

# The bytes of a file's video packets.
packet_bytes() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'
}

# CPU seconds (user + system, from ffmpeg's -benchmark) of ffmpeg decoding a file $2 + 1 times
# over to rgb565le, the best of three runs.
peer_cpu() {
    local best=999999 t i
    for i in 1 2 3; do
        t=$(ffmpeg -nostats -benchmark -stream_loop "$2" -i "$1" -f rawvideo -pix_fmt rgb565le \
                -sws_flags neighbor -y /dev/null 2>&1 |
            sed -n 's/^bench: utime=\([0-9.]*\)s stime=\([0-9.]*\)s.*/\1 \2/p' | awk '{print $1 + $2}')
        best=$(calc "($t < $best) ? $t : $best")
    done
    echo "$best"
}

# ms per frame of ffmpeg decoding a file to rgb565le: the difference between decoding it 20 times
# and once takes the start-up cost out.
peer_decode_ms() {
    local once many
    once=$(peer_cpu "$1" 0)
    many=$(peer_cpu "$1" 19)
    calc "($many - $once) * 1000 / (19 * $frames)"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
copy_ms=""
encode_fps=()
printf "%-11s %-10s %12s %10s %16s %10s\n" source codec bytes/frame "PSNR dB" "decode ms/frame" "x memcpy"
for src in testsrc2 mandelbrot bars; do
    in="$work/$src.nut"
    ref="$work/$src.rgb24"

    # Ours, at the default quality.
    read -r wall cpu < <(best_times 3 "$encoder" -y -o "$work/$src.q18" "$in")
    [ -f "$work/$src.q18" ] || { echo "encoding $src failed" >&2; exit 1; }
    read -r ms copy < <("$encoder" --decode "$work/$src.q18" "$work/$src.ours.rgb565")
    copy_ms=$copy
    bytes=$(stat -c %s "$work/$src.q18")
    psnr=$("$encoder" --psnr "$ref" "$work/$src.ours.rgb565")
    printf "%-11s %-10s %12.0f %10s %16.4f %10.1f\n" "$src" loopmixer "$(calc "$bytes / $frames")" "$psnr" "$ms" \
        "$(calc "$ms / $copy")"
    encode_fps+=("$src $(calc "$frames / $wall") $(calc "$frames / $cpu")")

    for codec in cinepak msvideo1 smc; do
        case $codec in
            cinepak)  out="$work/$src.cinepak.avi"; ffmpeg -v error -y -i "$in" -c:v cinepak "$out" ;;
            msvideo1) out="$work/$src.msvideo1.avi"; ffmpeg -v error -y -i "$in" -c:v msvideo1 "$out" ;;
            smc)      out="$work/$src.smc.mov"
                      ffmpeg -v error -y -i "$in" -filter_complex \
                          "split[a][b];[a]palettegen=max_colors=256[p];[b][p]paletteuse=dither=none" \
                          -c:v smc "$out" ;;
        esac
        ffmpeg -v error -y -i "$out" -f rawvideo -pix_fmt rgb565le -sws_flags neighbor "$work/$src.$codec.rgb565"
        psnr=$("$encoder" --psnr "$ref" "$work/$src.$codec.rgb565")
        ms=$(peer_decode_ms "$out")
        printf "%-11s %-10s %12.0f %10s %16.4f %10.1f\n" "$src" "$codec" "$(calc "$(packet_bytes "$out") / $frames")" \
            "$psnr" "$ms" "$(calc "$ms / $copy_ms")"
    done
done
echo
echo "memcpy of one 153,600-byte frame: $(printf %.4f "$copy_ms") ms"
for line in "${encode_fps[@]}"; do
    set -- $line
    printf "loopmixer-encode on %s: %.1f frames per second of wall time, %.1f per CPU second (reading, encoding and checking; best of 3)\n" "$1" "$2" "$3"
done
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
