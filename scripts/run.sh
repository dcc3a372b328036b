#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it:
#   scripts/run.sh [clip.avi]
# An AVI file given here becomes the input of the main form. Without any
# argument a short sample clip (a test picture with a tone, 5 seconds, made by
# ffmpeg) is made in a new scratch folder and opened, so that there is
# something to encode at once. Settings go to
# $TESSMAR_CONFIG_DIR, else $XDG_CONFIG_HOME/tessmar, else ~/.config/tessmar.
# Help, the batch log and playing open through xdg-open (xdg-utils).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev
          ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
          libdvdread-dev qt6-base-dev xdg-utils)

bash "$root/scripts/install-deps.sh" "${PACKAGES[@]}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSMAR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target tessmar

# The program runs in the caller's folder: at the first start it makes its
# profile folder "profiles/" there.
if [ "$#" -eq 0 ]; then
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/tessmar-sample.XXXXXX")"
    sample="$scratch/sample.avi"
    # 352 x 240 at 29.97 frames/s: what a new profile encodes as it stands
    # (MPEG-1 within the constrained parameters).
    ffmpeg -v error -f lavfi -i testsrc2=size=352x240:rate=30000/1001 \
           -f lavfi -i sine=frequency=440:sample_rate=44100 -t 5 \
           -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 "$sample"
    echo "No clip given: opening the sample $sample"
    set -- "$sample"
fi
exec "$root/build/app/tessmar" "$@"
