#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (with ASan and UBSan) and runs each for a bounded
# time: the event writer over its seed corpus, display text from scratch. Usage: run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
flags=(-std=c++20 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined
  -fno-sanitize-recover=all -Isrc)

# Runs target $1 for $seconds over the scratch corpus and any seed corpora after it.
fuzz() {
  local name=$1 runs
  shift
  mkdir -p "$out/$name-corpus"
  # New inputs go to a scratch corpus; the kept seeds stay as they are.
  "$out/$name" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 "$out/$name-corpus" "$@" \
    2>"$out/$name.log" || { tail -n 60 "$out/$name.log"; exit 1; }
  runs=$(grep -o 'Done [0-9]* runs' "$out/$name.log" | grep -o '[0-9]*' || echo 0)
  echo "$name: $runs inputs, no failure"
}

clang++ "${flags[@]}" tests/fuzz/event_line_fuzz.cpp src/app/event_line.cpp src/platform/last_line.cpp \
  $(pkg-config --cflags --libs libutf8proc) -o "$out/event_line_fuzz"
fuzz event_line_fuzz tests/fuzz/corpus

clang++ "${flags[@]}" tests/fuzz/display_text_fuzz.cpp src/display_text/display_text.cpp \
  src/display_text/english_display_text.cpp src/display_text/english_names.cpp \
  src/display_text/english_numbers.cpp src/platform/linux/bounded_file.cpp \
  -o "$out/display_text_fuzz"
fuzz display_text_fuzz
