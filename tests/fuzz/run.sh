#!/usr/bin/env bash
# Builds the event-writer fuzz target with clang's libFuzzer (with ASan and UBSan) and runs it for a
# bounded time over the seed corpus. Usage: run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -Isrc tests/fuzz/event_line_fuzz.cpp src/app/event_line.cpp \
  $(pkg-config --cflags --libs libutf8proc) -o "$out/event_line_fuzz"
mkdir -p "$out/corpus"
# New inputs go to a scratch corpus; the kept seeds stay as they are.
"$out/event_line_fuzz" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
  "$out/corpus" tests/fuzz/corpus 2>"$out/log" || { tail -n 60 "$out/log"; exit 1; }
runs=$(grep -o 'Done [0-9]* runs' "$out/log" | grep -o '[0-9]*' || echo 0)
echo "event line fuzzing: $runs inputs, no failure"
