#!/usr/bin/env bash
# Compile-checks the macOS platform on a machine without Apple's SDK.
#
# Every src/platform/apple/*.mm (and every header there, on its own) and the Mac-only tests in
# tests/platform/apple/*_test.mm are syntax-checked as Objective-C++ with ARC against the declarations in
# tests/platform/apple/sdk, which cover just the Apple API they use. A wrong selector, block signature or type fails here as on a Mac. Each file
# in tests/platform/apple/must_fail/ is a small deliberate mistake that the check must reject, with the
# diagnostic named on its "// expect:" line: they prove the check has teeth. The embedded
# Info.plist must parse and carry the usage descriptions macOS demands.
#
# Usage: tests/platform/apple/check.sh          (CLANGXX=... picks the compiler; clang++ by default)
# Exits non-zero on any failure; the last line says "N passed, N failed".
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
clangxx=${CLANGXX:-clang++}

flags=(-x objective-c++ -std=c++20 -fobjc-arc -fblocks -fobjc-runtime=macosx-13.0 -fsyntax-only
  -Werror -Wall -Wextra -I "$here/sdk" -I "$root/src")

passed=0
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
log=$scratch/log
probe=$scratch/probe.mm

pass() {
  passed=$((passed + 1))
  echo "ok    $1"
}

fail() {
  failed=$((failed + 1))
  echo "FAIL  $1: $2"
  [[ -s "$log" ]] && sed 's/^/      /' "$log"
  return 0
}

compile() {
  "$clangxx" "${flags[@]}" "${@:2}" "$1" </dev/null >"$log" 2>&1
}

if ! command -v "$clangxx" >/dev/null 2>&1; then
  echo "FAIL  $clangxx not found"
  echo "0 passed, 1 failed"
  exit 1
fi

shopt -s nullglob
sources=("$root"/src/platform/apple/*.mm)
headers=("$root"/src/platform/apple/*.h)
mistakes=("$here"/must_fail/*.mm)
tests=("$here"/*_test.mm)
if ((${#sources[@]} == 0)); then fail "src/platform/apple" "no .mm sources found"; fi
if ((${#mistakes[@]} == 0)); then fail "tests/platform/apple/must_fail" "no deliberate mistakes found"; fi

for source in "${sources[@]}"; do
  name=${source#"$root"/}
  if compile "$source"; then pass "$name"; else fail "$name" "does not compile"; fi
done

# Each header must stand on its own, as the first thing a file includes.
for header in "${headers[@]}"; do
  name=${header#"$root"/}
  printf '#include "%s"\n' "${header#"$root"/src/}" >"$probe"
  if compile "$probe"; then pass "$name (alone)"; else fail "$name" "does not compile on its own"; fi
done

# The Mac tests build against googletest and the fakes as well.
for test in "${tests[@]}"; do
  name=${test#"$root"/}
  if compile "$test" -I "$root/tests"; then pass "$name"; else fail "$name" "does not compile"; fi
done

for mistake in "${mistakes[@]}"; do
  name=${mistake#"$root"/}
  expected=$(sed -n 's|^// expect: ||p' "$mistake" | head -n 1)
  if [[ -z "$expected" ]]; then
    : >"$log"
    fail "$name" "has no '// expect:' line naming the diagnostic"
  elif compile "$mistake"; then
    fail "$name" "compiled, but must be rejected"
  elif ! grep -qF -- "$expected" "$log"; then
    fail "$name" "rejected, but not with: $expected"
  else
    pass "$name (rejected as expected)"
  fi
done

plist="$root/src/platform/apple/Info.plist"
if /usr/bin/env python3 - "$plist" >"$log" 2>&1 <<'EOF'; then
import plistlib
import sys

with open(sys.argv[1], "rb") as f:
    info = plistlib.load(f)
for key in ("CFBundleIdentifier", "NSSpeechRecognitionUsageDescription",
            "NSMicrophoneUsageDescription"):
    value = info.get(key)
    if not isinstance(value, str) or not value.strip():
        sys.exit(f"{key} is missing or empty")
EOF
  pass "src/platform/apple/Info.plist"
else
  fail "src/platform/apple/Info.plist" "not a usable property list"
fi

echo "$passed passed, $failed failed"
((failed == 0))
