#!/usr/bin/env bash
# Encoding speed beside ffmpeg's MPEG-2 encoder and twolame, on material with
# natural texture: a detailed still panned and zoomed, with moving grain.
#
#   bench/compare.sh [build-dir] [frames]
#
# Runs every encoder three times, interleaved, and prints the median time,
# frames per second, the speed ratios and the luma PSNR of each stream.
set -euo pipefail
BUILD=${1:-build}
FRAMES=${2:-250}
BENCH="$BUILD/bench/encode_bench"
ABENCH="$BUILD/bench/audio_bench"
[ -x "$BENCH" ] && [ -x "$ABENCH" ] || { echo "build the benchmarks first ($BENCH, $ABENCH)" >&2; exit 1; }
LAST_CPU=$(($(nproc) - 1))
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

median() { sort -g | sed -n 2p; }
ff_time() {  # real seconds of one ffmpeg run, from its own -benchmark line
    ffmpeg -nostdin -benchmark "$@" 2>&1 | sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p' | tail -1
}
psnr_of() {  # <stream> <width> <height> <source.yuv>
    ffmpeg -nostdin -v error -i "$1" -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y "$WORK/dec.yuv"
    ffmpeg -nostdin -f rawvideo -s "$2x$3" -pix_fmt yuv420p -i "$4" -f rawvideo -s "$2x$3" -pix_fmt yuv420p \
        -i "$WORK/dec.yuv" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.* y:\([0-9.inf]*\) .*/\1/p' | tail -1
}

ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=s=1920x1080:maxiter=300,noise=alls=24:allf=0,format=yuv420p" \
    -frames:v 1 -y "$WORK/photo.png"

video() {  # <width> <height> <bit/s> <buffer bytes>
    local w=$1 h=$2 rate=$3 buf=$4 dir="$WORK/v${1}x${2}"
    mkdir -p "$dir"
    ffmpeg -nostdin -v error -loop 1 -i "$WORK/photo.png" -vf \
        "zoompan=z='min(zoom+0.0015,1.6)':x='iw/2-(iw/zoom/2)+on*3':y='ih/2-(ih/zoom/2)+on':d=$FRAMES:s=${w}x${h}:fps=25,noise=alls=6:allf=t,format=yuv420p" \
        -frames:v "$FRAMES" -f rawvideo -y "$dir/all.yuv"
    ffmpeg -nostdin -v error -f rawvideo -s "${w}x${h}" -pix_fmt yuv420p -i "$dir/all.yuv" -c:v rawvideo \
        -start_number 0 -f image2 "$dir/f%d.yuv"
    local ours=() single=() last=() ff1=() ffn=() line
    for _ in 1 2 3; do
        line=$("$BENCH" "$dir/f%d" "$w" "$h" "$FRAMES" "$rate" - mpeg2 "$dir/ours.m2v" 2>>"$WORK/bench.log")
        ours+=("$(sed -n 's/.*time \([0-9.]*\) s.*/\1/p' <<<"$line")")
        line=$(taskset -c 0 "$BENCH" "$dir/f%d" "$w" "$h" "$FRAMES" "$rate" - mpeg2 "$dir/ours1.m2v" 2>>"$WORK/bench.log")
        single+=("$(sed -n 's/.*time \([0-9.]*\) s.*/\1/p' <<<"$line")")
        # The same on the last CPU: on some virtual machines CPU 0 runs slower.
        line=$(taskset -c "$LAST_CPU" "$BENCH" "$dir/f%d" "$w" "$h" "$FRAMES" "$rate" - mpeg2 "$dir/ours1.m2v" nopsnr 2>>"$WORK/bench.log")
        last+=("$(sed -n 's/.*time \([0-9.]*\) s.*/\1/p' <<<"$line")")
        for threads in 1 0; do
            t=$(ff_time -f rawvideo -s "${w}x${h}" -pix_fmt yuv420p -r 25 -i "$dir/all.yuv" -c:v mpeg2video \
                -threads "$threads" -b:v "$rate" -maxrate "$rate" -minrate "$rate" -bufsize "$buf" -g 12 -bf 2 \
                -y "$dir/ff$threads.m2v")
            if [ "$threads" = 1 ]; then ff1+=("$t"); else ffn+=("$t"); fi
        done
    done
    local to ts tl tf1 tfn
    to=$(printf '%s\n' "${ours[@]}" | median); ts=$(printf '%s\n' "${single[@]}" | median)
    tl=$(printf '%s\n' "${last[@]}" | median)
    tf1=$(printf '%s\n' "${ff1[@]}" | median); tfn=$(printf '%s\n' "${ffn[@]}" | median)
    local po pf
    po=$(psnr_of "$dir/ours.m2v" "$w" "$h" "$dir/all.yuv"); pf=$(psnr_of "$dir/ff1.m2v" "$w" "$h" "$dir/all.yuv")
    awk -v w="$w" -v h="$h" -v r="$rate" -v n="$FRAMES" -v to="$to" -v ts="$ts" -v tl="$tl" -v lc="$LAST_CPU" -v tf1="$tf1" -v tfn="$tfn" \
        -v po="$po" -v pf="$pf" 'BEGIN {
        printf "%dx%d at %d bit/s, %d frames\n", w, h, r, n
        printf "  tessmar, all CPUs   %7.3f s %7.1f fps   PSNR-Y %s dB\n", to, n / to, po
        printf "  tessmar, one CPU    %7.3f s %7.1f fps   (CPU 0; CPU %d: %.3f s %.1f fps)\n", ts, n / ts, lc, tl, n / tl
        printf "  ffmpeg, 1 thread    %7.3f s %7.1f fps   PSNR-Y %s dB\n", tf1, n / tf1, pf
        printf "  ffmpeg, all threads %7.3f s %7.1f fps\n", tfn, n / tfn
        printf "  speed: tessmar all CPUs / ffmpeg 1 thread %.2f; tessmar all CPUs / one CPU %.2f (CPU %d: %.2f)\n", tf1 / to, ts / to, lc, tl / to
    }'
}

video 720 576 6000000 1835008
video 352 288 1150000 376832

# Audio: 60 s of stereo at 44.1 kHz, chords with vibrato and a little noise.
ffmpeg -nostdin -v error -f lavfi -i \
    "aevalsrc='0.25*sin(2*PI*220*t+2*sin(2*PI*5*t))*(0.6+0.4*sin(2*PI*0.5*t))+0.15*sin(2*PI*330*t)+0.1*sin(2*PI*1320*t)*mod(t,1)|0.25*sin(2*PI*277*t)*(0.6+0.4*cos(2*PI*0.3*t))+0.15*sin(2*PI*415*t)+0.08*sin(2*PI*3000*t)*mod(t,0.5)':s=44100:d=60" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.04:r=44100:d=60" -filter_complex "[0:a][1:a]amix=inputs=2:normalize=0" \
    -ac 2 -f s16le -y "$WORK/music.raw"
# The encoding time is what audio_bench measures around the encoder; the
# process time, taken like twolame's, adds loading the program.
ours=() whole=() twl=()
wall() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { print b - a }'; }
for _ in 1 2 3; do
    s=$(date +%s.%N)
    line=$("$ABENCH" "$WORK/music.raw" 44100 224 "$WORK/ours.mp2" s)
    whole+=("$(wall "$s")")
    ours+=("$(sed -n 's/time \([0-9.]*\) s/\1/p' <<<"$line")")
    s=$(date +%s.%N)
    twolame -r -s 44100 -N 2 -m s -P 2 -b 224 "$WORK/music.raw" "$WORK/twolame.mp2" >/dev/null 2>&1
    twl+=("$(wall "$s")")
done
awk -v to="$(printf '%s\n' "${ours[@]}" | median)" -v tw="$(printf '%s\n' "${whole[@]}" | median)" \
    -v tt="$(printf '%s\n' "${twl[@]}" | median)" 'BEGIN {
    printf "audio, 60 s stereo 44.1 kHz at 224 kbit/s\n"
    printf "  tessmar %.3f s (process %.3f s)   twolame -P 2 %.3f s   speed ratio %.2f (process %.2f)\n", \
        to, tw, tt, tt / to, tt / tw
}'
