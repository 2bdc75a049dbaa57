#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks it as a user meets it: its control
# fields and files, then installed with dpkg on this machine, run with no microphone, and removed.
# Needs root for dpkg -i.   Usage: tests/docs/package_test.sh BUILD_DIR
set -uo pipefail

build=$(realpath "${1:?usage: package_test.sh BUILD_DIR}")
passed=0
failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
  exit
}
skip() {
  echo "SKIPPED: $1"
  finish
}

[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
[[ -x $build/mic-transcriber ]] || skip "no built program in $build"
for tool in cpack dpkg-shlibdeps dpkg-deb readelf; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (dpkg-dev, binutils, cmake)"
done
if dpkg-query -W -f='${Status}' mic-transcriber 2>/dev/null | grep -q 'ok installed'; then
  fail "mic-transcriber is already installed here; remove it (dpkg -r mic-transcriber) first"
  finish
fi

work=$(mktemp -d)
installed=no
cleanup() {
  if [[ $installed == yes ]]; then dpkg -r mic-transcriber >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- the package file ---
if ! (cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  fail "cpack -G DEB builds the package"
  finish
fi
debs=("$work"/packages/*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
  fail "cpack makes exactly one .deb (got: ${debs[*]})"
  finish
fi
pass "cpack makes exactly one .deb"
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "package name" test "$(field Package)" = mic-transcriber
check "version is the project's ($version)" test "$(field Version)" = "$version"
check "architecture is this machine's" test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "maintainer and description are set" test -n "$(field Maintainer)" -a -n "$(field Description)"
check "recommends a sound server" test "$(field Recommends)" = "pulseaudio | pipewire-pulse"

# Depends as one package name per line, versions and alternatives dropped.
field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g; /^$/d' | sort -u >"$work/depends"
depends_on() { grep -qx "$1" "$work/depends"; }
check "depends on the speech model pocketsphinx-en-us" depends_on pocketsphinx-en-us
check "depends on the word list wamerican" depends_on wamerican

# Every library the program loads must come from a package it depends on: what dpkg-shlibdeps
# is there for.
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/mic-transcriber
check "the program is in /usr/bin" test -x "$program"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
libraries_covered() {
  local lib owner ok=0
  for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    owner=$(dpkg -S "*/$multiarch/$lib" 2>/dev/null | head -1 | cut -d: -f1)
    if [[ -z $owner ]] || ! depends_on "$owner"; then
      echo "  $lib (from ${owner:-no package}) is not covered by Depends: $(field Depends)"
      ok=1
    fi
  done
  return $ok
}
check "Depends covers every library the program needs" libraries_covered
check "the program is stripped" bash -c "! readelf -S '$program' | grep -q '\.symtab'"
check "the manual page is in /usr/share/man/man1, compressed" \
  test -s "$work/root/usr/share/man/man1/mic-transcriber.1.gz"
doc=$work/root/usr/share/doc/mic-transcriber
check "the copyright file is in its machine-readable form" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
check "the changelog's latest entry is this version" \
  bash -c "zcat '$doc/changelog.gz' | head -1 | grep -q '^mic-transcriber ($version) '"

# lintian as Debian runs it: no error or warning. The maintainer placeholder the build uses when
# none is given is the one exception, since its address is not a real one.
placeholder='mic-transcriber developers <mic-transcriber@localhost>'
if command -v lintian >/dev/null; then
  lintian "$deb" >"$work/lintian.log" 2>/dev/null
  allowed='^$'
  if [[ $(field Maintainer) == "$placeholder" ]]; then
    allowed='^(bogus-mail-host|bogus-mail-host-in-debian-changelog)$'
  fi
  lintian_clean() {
    local tags
    tags=$(awk '$1 == "E:" || $1 == "W:" { print $3 }' "$work/lintian.log" | grep -Ev "$allowed")
    [[ -z $tags ]] || { grep -E '^[EW]: ' "$work/lintian.log"; return 1; }
  }
  check "lintian finds no error or warning but the maintainer placeholder" lintian_clean
else
  echo "SKIPPED: lintian is not installed (scripts/install-deps.sh --test installs it)"
fi

outside=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '^\./usr/' | grep -v '^\./$' || true)
check "installs nothing outside /usr" test -z "$outside"

# --- installed on this machine ---
if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  installed=yes
  pass "dpkg -i installs it (its dependencies are present)"
else
  cat "$work/dpkg.log"
  fail "dpkg -i installs it (its dependencies are present)"
  finish
fi

if grep -rqs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/; then
  echo "SKIPPED: dpkg is set to leave manual pages out on this machine"
elif command -v man >/dev/null; then
  check "man finds the installed page" test "$(man -w mic-transcriber)" = \
    /usr/share/man/man1/mic-transcriber.1.gz
  check "the installed page shows without warnings" \
    bash -c '[[ -z $(man --warnings mic-transcriber 2>&1 >/dev/null) ]]'
fi

# A clean environment, a sound server that is not there, no sound card, stdin at its end.
env -i PATH=/usr/bin:/bin HOME="$work" PULSE_SERVER="unix:$work/no-such-socket" \
  timeout 30 /usr/bin/mic-transcriber </dev/null >"$work/stdout" 2>"$work/stderr"
status=$?
expected='{"kind":"status","text":"requesting local speech access"}
{"kind":"error","text":"no microphone input is available"}'
check "with no microphone it exits 1 (got $status)" test "$status" -eq 1
check "with no microphone it reports exactly that" test "$(cat "$work/stdout")" = "$expected"
check "the output ends in one line feed" test "$(tail -c 1 "$work/stdout" | od -An -c | tr -d ' ')" = '\n'
check "nothing on stderr" test ! -s "$work/stderr"
if [[ $status -ne 1 || -s $work/stderr || $(cat "$work/stdout") != "$expected" ]]; then
  echo "  stdout:" && cat "$work/stdout"
  echo "  stderr:" && cat "$work/stderr"
fi

# --- removed ---
if dpkg -r mic-transcriber >"$work/dpkg.log" 2>&1; then
  installed=no
  pass "dpkg -r removes it"
else
  cat "$work/dpkg.log"
  fail "dpkg -r removes it"
fi
check "no program left behind" test ! -e /usr/bin/mic-transcriber
check "no manual page left behind" test ! -e /usr/share/man/man1/mic-transcriber.1.gz

finish
