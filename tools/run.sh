#!/usr/bin/env bash
# Installs what is missing, builds, starts the local development service
# (gateway, chat server, a few players) on 127.0.0.1 and runs Tavimere
# against it. The service stops when the program ends.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVIMERE_BUILD:-$repo/build}"
"$repo/tools/install-deps.sh"
cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build"
rundir="$(mktemp -d)"
trap '"$repo/tools/devservice/stop.sh" "$rundir"; rm -rf "$rundir"' EXIT
service="$("$repo/tools/devservice/start.sh" "$build" "$rundir" | tail -n 1)"
env "$service" "$build/tavimere"
