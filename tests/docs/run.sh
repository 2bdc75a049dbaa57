#!/usr/bin/env bash
# The documentation's tests: the manual page, README, the consumer examples against a stand-in
# program, the event schema against the program's texts, the hosted-Mac CI workflow against the
# tree (test_workflow.py); given a build directory, also what `cmake --install` puts where and
# (as root) the Debian package.
# Usage: tests/docs/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:+$(realpath "$1")}
MIC_BUILD_DIR=$build /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/docs
if [[ -n $build ]]; then
  bash tests/docs/package_test.sh "$build"
fi
