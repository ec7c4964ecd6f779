#!/usr/bin/env bash
# Takes pictures of Tavimere's windows for the README: the end-to-end test
# works the real windows against the development service (with all the
# simulated players) under an X server and window manager of its own, and
# saves the login window, the lobby and the channel window as it goes.
#
#   tools/screenshots.sh [FOLDER]     (default: docs/ in the repository)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVIMERE_BUILD:-$repo/build}"
target="${1:-$repo/docs}"
"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build" --target test_end_to_end tavimere-devgateway tavimere-devplayers
pictures="$(mktemp -d)"
trap 'rm -rf "$pictures"' EXIT
if ! env -u TAVIMERE_SERVICE TAVIMERE_SCREENSHOTS="$pictures" QTEST_DISABLE_CRASH_HANDLER=1 \
    "$build/tests/test_end_to_end" >"$pictures/run.log" 2>&1; then
  cat "$pictures/run.log" >&2
  echo "screenshots.sh: the run failed; no pictures were changed" >&2
  exit 1
fi
mkdir -p "$target"
for name in login lobby channel; do
  cp "$pictures/$name.png" "$target/$name.png"
  echo "$target/$name.png"
done
