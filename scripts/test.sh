#!/usr/bin/env bash
# Builds mic-transcriber three ways (plain, ASan+UBSan, TSan) and runs every test in each: the unit
# tests, the Linux platform's tests and the end-to-end suite against a virtual microphone on
# PulseAudio, then the suite's core (tests marked `core`) again on PipeWire. A fourth build, with
# clang, only checks the locking annotations.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
work=$(mktemp -d)
cleanup() {
  # A failed test stops the script before its build's check: show what the sanitizers saw.
  if compgen -G "$work/sanitizer-reports/*" >/dev/null; then
    echo "sanitizer reports:"
    cat "$work"/sanitizer-reports/*
  fi
  bash tests/e2e/virtual_mic.sh stop "$work/vmic" >/dev/null 2>&1 || true
  bash tests/e2e/virtual_mic.sh stop "$work/pwmic" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== format"
git ls-files -z '*.cpp' '*.h' '*.mm' | xargs -0 clang-format --dry-run -Werror

echo "== clang build with the thread-safety analysis (build only)"
# GCC ignores the locking annotations; clang checks them (-Wthread-safety, set in CMakeLists.txt)
# and -Werror makes a lock that is not held where the annotations demand it a build failure.
CC=clang CXX=clang++ cmake -S . -B build-ci-clang -DCMAKE_BUILD_TYPE=Debug -DMIC_BUILD_TESTS=OFF \
  >/dev/null
cmake --build build-ci-clang -j "$jobs" >/dev/null

echo "== virtual microphone"
mkdir -p "$work/vmic"
PULSE_SERVER=$(bash tests/e2e/virtual_mic.sh start "$work/vmic" </dev/null | sed -n 's/^PULSE_SERVER=//p')
export PULSE_SERVER
[[ -n "$PULSE_SERVER" ]] || { echo "the virtual microphone did not start"; exit 1; }
mkdir -p "$work/pwmic"
pipewire_server=$(bash tests/e2e/virtual_mic.sh start "$work/pwmic" pipewire </dev/null |
  sed -n 's/^PULSE_SERVER=//p')
[[ -n "$pipewire_server" ]] || { echo "the PipeWire virtual microphone did not start"; exit 1; }

# TSan reports races, ASan/UBSan errors: any report fails the run. The program points its stderr
# at /dev/null, so the sanitizers write their reports to files of their own (log_path) instead,
# and a report file left after a build's tests fails the run as well.
reports="$work/sanitizer-reports"
mkdir -p "$reports"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:log_path=$reports/asan
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan
check_reports() {
  if compgen -G "$reports/*" >/dev/null; then
    echo "sanitizer reports after the $1 build's tests"
    exit 1  # the exit trap shows them
  fi
}

for variant in plain address thread; do
  dir=build-ci-$variant
  sanitize=$([[ $variant == plain ]] && echo "" || echo "$variant")
  echo "== build ($variant)"
  bench=$([[ $variant == plain ]] && echo ON || echo OFF)
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIC_SANITIZE="$sanitize" \
    -DMIC_BUILD_BENCH="$bench" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
  echo "== unit and platform tests ($variant)"
  ctest --test-dir "$dir" --output-on-failure
  echo "== end-to-end ($variant)"
  # The soak and the valgrind run are for the plain build; sanitizers would only slow them down,
  # and their shadow memory does not fit under a limit on the address space.
  marks=$([[ $variant == plain ]] && echo "" || echo "not soak and not valgrind and not address_space")
  # ThreadSanitizer's allocator does not look for double frees, so that fault has nothing to show.
  if [[ $variant == thread ]]; then marks="$marks and not double_free"; fi
  MIC_TRANSCRIBER="$PWD/$dir/mic-transcriber" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    ${marks:+-m "$marks"} tests/e2e
  echo "== end-to-end core on PipeWire ($variant)"
  MIC_SOUND_SERVER=pipewire PULSE_SERVER="$pipewire_server" MIC_TRANSCRIBER="$PWD/$dir/mic-transcriber" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider -m core tests/e2e
  check_reports "$variant"
done

echo "== benchmark harness (quick, figures only)"
/usr/bin/python3 bench/run.py --quick --binary build-ci-plain/mic-transcriber
echo "== benchmark harness on PipeWire (quick, figures only)"
PULSE_SERVER="$pipewire_server" /usr/bin/python3 bench/run.py --quick \
  --binary build-ci-plain/mic-transcriber
build-ci-plain/bench/mic_bench --benchmark_min_time=0.05

echo "== docs and package"
bash tests/docs/run.sh build-ci-plain

echo "== event writer, fuzzed"
bash tests/fuzz/run.sh 60

if [[ -f tests/platform/apple/check.sh ]]; then
  echo "== macOS sources, compile check"
  bash tests/platform/apple/check.sh
fi
