#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs every test:
# the normal build, the address+undefined sanitizer build, and the thread
# sanitizer build of the threaded tests.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
          locales vcdimager dvdauthor libdvdread-dev mjpegtools twolame
          qt6-base-dev xvfb xauth lsdvd clang libclang-rt-14-dev python3
          desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin)

# The desktop tools let the install test check the entry, the file type and
# that the desktop's launcher starts the installed program.
bash scripts/install-deps.sh "${PACKAGES[@]}"
# Number formats must not follow the user's locale: the tests run under a German one too.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO="sudo"
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    $SUDO locale-gen >/dev/null
fi

JOBS=$(nproc)
configure() {  # <dir> <sanitizer> [build type]
    local bench=ON
    [ -z "$2" ] || bench=OFF
    local type=()
    [ -z "${3:-}" ] || type=(-DCMAKE_BUILD_TYPE="$3")
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$1" -G Ninja -DTESSMAR_SANITIZE="$2" -DTESSMAR_BUILD_BENCH="$bench" "${type[@]}" "${launcher[@]}" >/dev/null
}

# The normal build is the optimised one users get (-O3).
configure build "" Release
# The libraries must link in one direction: a cycle in the link graph fails here.
cmake --graphviz=build/graph/libs.dot build >/dev/null
python3 scripts/check-library-order.py build/graph/libs.dot --sources .
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

configure build-asan address
cmake --build build-asan -j "$JOBS"
# intercept_tls_get_addr=0: the leak checker's walk of the dynamic TLS of the
# dlopen'ed resize builds crashes in this compiler's sanitizer runtime
# ("Tracer caught signal 11") depending on the process layout; leaks are still
# checked, only that bookkeeping is off.
ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$JOBS"

# The thread sanitizer runs the tests of the threaded code (label "threads"):
# only their programs are built.
configure build-tsan thread
threaded=$(ninja -C build-tsan -t targets all | sed -n 's/^\(\(engine\|resize\)_[a-z0-9_]*_test\): .*/\1/p')
# shellcheck disable=SC2086
cmake --build build-tsan -j "$JOBS" --target $threaded
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$JOBS" -L threads

# Every parser of outside files under libFuzzer, 20 s each on the generated seed corpus.
scripts/fuzz.sh 20
