#!/usr/bin/env bash
# Installs what mic-transcriber needs from Debian's packages: to build and run it, or with --test
# everything its test suite uses too (the virtual microphone, speech synthesis, sanitizers, checks).
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libpocketsphinx-dev pocketsphinx-en-us libsoxr-dev libpulse-dev libasound2-dev libutf8proc-dev
  wamerican
)
test_packages=(
  libgtest-dev libgmock-dev nlohmann-json3-dev libbenchmark-dev
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon flite sox pocketsphinx faketime
  python3 python3-pytest python3-jsonschema python3-yaml
  clang libclang-rt-14-dev clang-format strace valgrind jq
  groff-base man-db dpkg-dev lintian nodejs
)
if [[ "${1:-}" == "--test" ]]; then packages+=("${test_packages[@]}"); fi

as_root=()
if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
