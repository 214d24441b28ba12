#!/usr/bin/env bash
# Size, quality and decoding speed of loopmixer-encode at every --quality from 20 to 100 (step 10)
# against FFmpeg's cinepak (default and -q:v 20), msvideo1, smc (256-colour palette from palettegen,
# no dither) and ZMBV (lossless), on generated sources, and the encoder's speed on every source.
# Needs the ffmpeg command and a built loopmixer-encode (and bench/decode_peers for the decoding
# axis).
#
#   bench/encode_bench.sh [BUILD_DIR]      (default: build)
#
# Sources: 100 frames each at 320x240 and 25 fps, made straight by FFmpeg's lavfi as lossless RGB24.
# Quality is measured the same way for every codec, as a 565 screen shows it, against the 8-bit
# source over all frames: our decoded RGB565 widened by bit replication; each peer's own decoded
# output (in its usual pixel format, converted to RGB24) put on the screen with the nearest level
# per channel, the best a player can do. Bytes per frame: our whole clip file; the peers' video
# packets. Every peer gets its best honest input: the codecs of 5- or 6-bit channels (msvideo1's
# RGB555, ZMBV's RGB565) are fed the nearest level of each channel, as ours is, not swscale's
# dithered or cut conversion; the others take the 8-bit source (smc through its palette).
# Decoding: build/bench/decode_peers times each file to RGB565 as a ratio to a frame copy.
#
# The report ends with the goals on three axes: points where a peer is smaller, at least as good
# and at least as fast to decode, and qualities whose PSNR falls below that of a lower quality.
#
# Environment: SOURCES="testsrc2 life ..." limits the sources; QUALITIES="20 60 100" the
# qualities; LOOPMIXER_ENCODE the encoder; LOOPMIXER_MEASURE the binary whose --decode and --psnr
# measure (default: the encoder, so an older encoder can be measured the same way); PEER_CACHE a
# folder that keeps the peers' results between runs.
set -euo pipefail

build=${1:-build}
encoder=${LOOPMIXER_ENCODE:-$build/tools/encode/loopmixer-encode}
measure=${LOOPMIXER_MEASURE:-$encoder}
for tool in "$encoder" "$measure"; do
    [ -x "$tool" ] || { echo "no encoder at $tool: build the loopmixer-encode target first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "the ffmpeg command is needed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed for the CPU times" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=100
sources=${SOURCES:-"testsrc2 mandelbrot bars life cellauto gradients zoompan plasma grain"}
qualities=${QUALITIES:-"20 30 40 50 60 70 80 90 100"}
peers="cinepak cinepak-q20 msvideo1 smc zmbv"
decoder=$build/bench/decode_peers
[ -x "$decoder" ] || { echo "no $decoder: the decoding axis is left out" >&2; decoder=""; }
cache=${PEER_CACHE:-}
[ -z "$cache" ] || mkdir -p "$cache"

graph() {
    case $1 in
        testsrc2)   echo "testsrc2=size=320x240:rate=25" ;;
        mandelbrot) echo "mandelbrot=size=320x240:rate=25" ;;
        bars)       echo "smptebars=size=320x240:rate=25,format=rgb24[b];color=c=yellow:size=24x24:rate=25,format=rgb24[y];[b][y]overlay=x='20+mod(n*5,270)':y='90+30*sin(n/6)':format=rgb" ;;
        life)       echo "life=size=320x240:rate=25:seed=1:ratio=0.5:mold=10:life_color=#00ff00:death_color=#c83232:mold_color=#1c1c1c" ;;
        cellauto)   echo "cellauto=size=320x240:rate=25:seed=1:rule=110" ;;
        gradients)  echo "gradients=size=320x240:rate=25:seed=1" ;;
        # A still picture (one frame of a 960x720 Mandelbrot set) zoomed into and panned over.
        zoompan)    echo "mandelbrot=size=960x720:rate=25,trim=end_frame=1,zoompan=z='1+0.006*on':x='(iw-iw/zoom)*on/100':y='(ih-ih/zoom)/2':d=$frames:s=320x240:fps=25" ;;
        # Smooth colour waves moving everywhere, and the same with film grain on every pixel.
        plasma)     echo "color=black:size=320x240:rate=25,format=rgb24,geq=r='128+127*sin(X/19+T*2.1)':g='128+127*sin(Y/13+T*1.7)':b='128+127*sin((X+Y)/23+T*1.3)'" ;;
        grain)      echo "color=black:size=320x240:rate=25,format=rgb24,geq=r='clip(128+110*sin(X/19+T*2.1)+40*(random(1)-0.5),0,255)':g='clip(128+110*sin(Y/13+T*1.7)+40*(random(1)-0.5),0,255)':b='clip(128+110*sin((X+Y)/23+T*1.3)+40*(random(1)-0.5),0,255)'" ;;
    esac
}

# Each channel at the nearest level of a B-bit channel, written back as 8 bits by bit replication:
# what a codec of B-bit channels should be given (its conversion then only drops the low bits).
nearest() {
    local b=$1 top=$(( (1 << $1) - 1 ))
    echo "floor(val*$top/255+0.5)*pow(2,8-$b)+floor(floor(val*$top/255+0.5)/pow(2,2*$b-8))"
}
lut565="lutrgb=r='$(nearest 5)':g='$(nearest 6)':b='$(nearest 5)'"
lut555="lutrgb=r='$(nearest 5)':g='$(nearest 5)':b='$(nearest 5)'"

calc() { awk "BEGIN { print $* }"; }

# The bytes of a file's video packets.
packet_bytes() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'
}

# A peer's bytes per frame and PSNR: $1 source, $2 peer.
peer_point() {
    local src=$1 peer=$2 in="$work/$1.nut" out
    case $peer in
        cinepak)     out="$work/$src.$peer.avi"; ffmpeg -v error -y -i "$in" -c:v cinepak "$out" ;;
        cinepak-q20) out="$work/$src.$peer.avi"; ffmpeg -v error -y -i "$in" -c:v cinepak -q:v 20 "$out" ;;
        msvideo1)    out="$work/$src.$peer.avi"
                     ffmpeg -v error -y -i "$in" -vf "$lut555,scale=flags=neighbor:sws_dither=none,format=rgb555le" \
                         -c:v msvideo1 "$out" ;;
        zmbv)        out="$work/$src.$peer.avi"
                     ffmpeg -v error -y -i "$in" -vf "$lut565,scale=flags=neighbor:sws_dither=none,format=rgb565le" \
                         -c:v zmbv "$out" ;;
        smc)         out="$work/$src.$peer.mov"
                     ffmpeg -v error -y -i "$in" -filter_complex \
                         "split[a][b];[a]palettegen=max_colors=256[p];[b][p]paletteuse=dither=none" -c:v smc "$out" ;;
    esac
    # The peer's own decoder output, converted to RGB24 (exact from its RGB555, palette or RGB24).
    ffmpeg -v error -y -i "$out" -f rawvideo -pix_fmt rgb24 -sws_flags neighbor+accurate_rnd "$work/$src.$peer.rgb24"
    echo "$(calc "$(packet_bytes "$out") / $frames") $("$measure" --psnr "$work/$src.rgb24" "$work/$src.$peer.rgb24") $(decode_ratio "$out")"
}

# Decoding a file to RGB565, as frame copies ("-" without decode_peers).
decode_ratio() {
    [ -n "$decoder" ] || { echo "-"; return; }
    "$decoder" --seconds 0.3 "$1" | awk 'NR == 2 { print $NF }'
}

points="$work/points.txt"  # source codec setting bytes psnr
: > "$points"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for src in $sources; do
    ffmpeg -v error -y -f lavfi -i "$(graph "$src"),format=rgb24" -frames:v $frames -c:v rawvideo "$work/$src.nut"
    ffmpeg -v error -y -i "$work/$src.nut" -f rawvideo -pix_fmt rgb24 "$work/$src.rgb24"
    for q in $qualities; do
        "$encoder" -y --quality "$q" -o "$work/$src.q18" "$work/$src.nut" >/dev/null 2>&1
        "$measure" --decode "$work/$src.q18" "$work/$src.ours.rgb565" >/dev/null
        echo "$src loopmixer $q $(calc "$(stat -c %s "$work/$src.q18") / $frames") \
$("$measure" --psnr "$work/$src.rgb24" "$work/$src.ours.rgb565") $(decode_ratio "$work/$src.q18")" >> "$points"
    done
    # Some sources (gradients) differ from run to run: the cache is keyed by the frames' checksum.
    sum=$(md5sum < "$work/$src.rgb24" | cut -c1-12)
    for peer in $peers; do
        if [ -n "$cache" ] && [ -s "$cache/$src.$sum.$peer.2" ]; then
            point=$(cat "$cache/$src.$sum.$peer.2")
        else
            point=$(peer_point "$src" "$peer")
            [ -z "$cache" ] || echo "$point" > "$cache/$src.$sum.$peer.2"
        fi
        echo "$src $peer - $point" >> "$points"
    done
done

printf "%-11s %-12s %7s %12s %8s %9s\n" source codec quality bytes/frame "PSNR dB" "decode x"
awk '{ printf "%-11s %-12s %7s %12.0f %8.2f %9s\n", $1, $2, $3, $4, $5, $6 }' "$points"
echo
echo "Goals:"
awk '
    $2 == "loopmixer" { n++; src[n] = $1; q[n] = $3; b[n] = $4; p[n] = $5; d[n] = $6 }
    $2 != "loopmixer" { m++; psrc[m] = $1; peer[m] = $2; pb[m] = $4; pp[m] = $5; pd[m] = $6 }
    END {
        bad = 0
        for (i = 1; i <= n; i++) {
            for (j = 1; j <= m; j++)
                # A peer wins a point when it is smaller, at least as good and (where measured) at
                # least as fast to decode; one that only decodes slower is listed apart.
                if (psrc[j] == src[i] && pb[j] < b[i] && pp[j] >= p[i]) {
                    faster = (d[i] == "-" || pd[j] == "-" || pd[j] + 0 <= d[i] + 0)
                    printf "  %s: %s (%.0f B, %.2f dB, decodes at %s) is smaller and at least as good as quality %s (%.0f B, %.2f dB, %s)%s\n",
                        src[i], peer[j], pb[j], pp[j], pd[j], q[i], b[i], p[i], d[i], faster ? "" : " but decodes slower"
                    if (faster) bad++
                }
            for (k = 1; k < i; k++)
                if (src[k] == src[i] && q[k] + 0 < q[i] + 0 && p[k] > p[i]) {
                    printf "  %s: quality %s (%.2f dB) is below quality %s (%.2f dB)\n", src[i], q[i], p[i], q[k], p[k]
                    bad++
                }
        }
        if (!bad) print "  no peer is smaller, at least as good and at least as fast to decode at any quality; PSNR never falls as quality rises"
    }' "$points"

# Encoding speed on every source, at the default quality and at 100, frames per second of wall and
# of CPU time, the best of three runs.
echo
for src in $sources; do
    for q in 75 100; do
        wall=999999 cpu=999999
        for i in 1 2 3; do
            /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$encoder" -y --quality $q -o "$work/speed.q18" \
                "$work/$src.nut" >/dev/null 2>&1
            read -r w u s < "$work/time.txt"
            c=$(calc "$u + $s")
            wall=$(calc "($w < $wall) ? $w : $wall")
            cpu=$(calc "($c < $cpu) ? $c : $cpu")
        done
        printf "loopmixer-encode on %s at quality %s: %.1f frames per second of wall time, %.1f per CPU second (reading, encoding and checking; best of 3)\n" \
            "$src" $q "$(calc "$frames / $wall")" "$(calc "$frames / $cpu")"
    done
done
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"

# Decode speed is not measured here: the instrument's in-process decode benchmark measures it
# (see README, Benchmarks).
