#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests without a
# display; then builds and runs them again with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking, where any report fails.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVIMERE_BUILD:-$repo/build}"
"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure

# The sanitizer run. Leaks inside Qt's and the system's libraries (caches
# kept until exit) are listed in tools/lsan.supp; ours never are.
asan="$build-asan"
cmake -S "$repo" -B "$asan" -G Ninja -DTAVIMERE_SANITIZE=ON -DTAVIMERE_BENCHMARKS=OFF
cmake --build "$asan"
QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$repo/tools/lsan.supp:print_suppressions=0" \
  ctest --test-dir "$asan" --output-on-failure
