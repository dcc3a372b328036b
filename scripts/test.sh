#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs every test:
# the normal build, the address+undefined sanitizer build, and the thread
# sanitizer build of the threaded tests.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
          locales vcdimager dvdauthor libdvdread-dev mjpegtools twolame)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# Number formats must not follow the user's locale: the tests run under a German one too.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO="sudo"
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    $SUDO locale-gen >/dev/null
fi

JOBS=$(nproc)
run_build() {  # <dir> <sanitizer> [ctest args...]
    local dir=$1 sanitize=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DTESSMAR_SANITIZE="$sanitize" >/dev/null
    cmake --build "$dir" -j "$JOBS"
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" "$@"
}

run_build build ""
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_build build-asan address
TSAN_OPTIONS=halt_on_error=1 run_build build-tsan thread -L threads
