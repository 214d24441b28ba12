#!/usr/bin/env bash
# Decoding busy footage to RGB565: the instrument's decoder against FFmpeg's cinepak (default and
# -q:v 20), msvideo1, smc (256-colour palettegen palette, no dither) and ZMBV (lossless RGB565) decoders plus libswscale's
# conversion to RGB565, timed in one process by build/bench/decode_peers (thread CPU time, best
# pass, as a ratio to copying one 153,600-byte frame in the same run). Then the decoder's
# instructions per frame under callgrind.
#
#   bench/decode_bench.sh [BUILD_DIR [WORK_DIR]]
#
# Seven generated sources of 100 frames at 320x240, 25 fps, straight from ffmpeg -f lavfi. Ours
# are encoded with BUILD_DIR/tools/encode/loopmixer-encode at the qualities in
# LOOPMIXER_QUALITIES (default "50 100"). Files already in WORK_DIR are kept, so a rerun after a
# decoder change times the same clips (default: a temporary folder, removed at the end).
set -euo pipefail

build=${1:-build}
peers=$build/bench/decode_peers
encoder=$build/tools/encode/loopmixer-encode
for tool in "$peers" "$encoder"; do
    [ -x "$tool" ] || { echo "no $tool: build the decode_peers and loopmixer-encode targets" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "the ffmpeg command is needed" >&2; exit 1; }
if [ -n "${2:-}" ]; then
    work=$2
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
qualities=${LOOPMIXER_QUALITIES:-50 100}
frames=100
rate=size=320x240:rate=25

sources=(testsrc2 mandelbrot bars life cellauto gradients zoompan)
graph() {
    case $1 in
        bars) echo "smptebars=$rate[b];color=c=yellow:size=24x24:rate=25[y];[b][y]overlay=x='20+mod(n*5\,270)':y='90+30*sin(n/6)'[out0]" ;;
        life) echo "life=$rate:mold=10:ratio=0.4:life_color=#ffd040:death_color=#2040a0:mold_color=#102010" ;;
        zoompan) echo "testsrc2=size=640x480:rate=25,trim=end_frame=1,zoompan=z='1+0.008*on':x='(iw-iw/zoom)*on/100':y='(ih-ih/zoom)/2':d=$frames:s=320x240:fps=25" ;;
        *) echo "$1=$rate" ;;
    esac
}

files=()
for src in "${sources[@]}"; do
    in=$work/$src.nut
    [ -f "$in" ] || ffmpeg -v error -y -f lavfi -i "$(graph "$src")" -frames:v $frames -pix_fmt rgb24 -c:v rawvideo "$in"
    for q in $qualities; do
        out=$work/$src.q$q.q18
        [ -f "$out" ] || "$encoder" -y --quality "$q" -o "$out" "$in" >/dev/null
        files+=("$out")
    done
    for peer in cinepak cinepak-q20 msvideo1 smc zmbv; do
        case $peer in
            cinepak) out=$work/$src.cinepak.avi; args=(-c:v cinepak) ;;
            cinepak-q20) out=$work/$src.cinepak-q20.avi; args=(-c:v cinepak -q:v 20) ;;
            msvideo1) out=$work/$src.msvideo1.avi; args=(-c:v msvideo1) ;;
            zmbv) out=$work/$src.zmbv.avi; args=(-pix_fmt rgb565le -c:v zmbv) ;;
            smc) out=$work/$src.smc.mov
                 args=(-filter_complex "split[a][b];[a]palettegen=max_colors=256[p];[b][p]paletteuse=dither=none" -c:v smc) ;;
        esac
        [ -f "$out" ] || ffmpeg -v error -y -i "$in" "${args[@]}" "$out"
        files+=("$out")
    done
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$peers" "${files[@]}"
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"

if command -v valgrind >/dev/null; then
    echo
    echo "instructions per frame of our decoder (callgrind, inside the decode loop only, 3 passes after a warm one):"
    for f in "${files[@]}"; do
        case $f in *.q17|*.q18) ;; *) continue ;; esac
        n=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*decodeRounds*' \
                "$peers" --rounds 3 "$f" 2>"$work/callgrind.txt" | sed -n 's/^frames //p')
        ir=$(sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$work/callgrind.txt")
        printf "%-28s %12.0f\n" "$(basename "$f")" "$(awk "BEGIN { print $ir / $n }")"
    done
fi
