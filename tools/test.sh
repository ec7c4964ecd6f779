#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests without a
# display.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVIMERE_BUILD:-$repo/build}"
"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure
