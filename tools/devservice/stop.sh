#!/usr/bin/env bash
# Stops what tools/devservice/start.sh started from RUN_DIR.
#
#   tools/devservice/stop.sh RUN_DIR
#
# Only processes that are still the programs start.sh launched are signalled,
# so a stale pids file never takes down an unrelated process that has since
# been given the same id.
set -euo pipefail

readonly wait_seconds=5

[ $# -eq 1 ] || { echo "usage: $0 RUN_DIR" >&2; exit 1; }
pid_file="$1/pids"
if [ ! -s "$pid_file" ]; then
  echo "stop.sh: nothing to stop in $1"
  exit 0
fi

alive() {
  [ -r "/proc/$1/stat" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]
}

ours() {
  local exe
  exe=$(readlink "/proc/$1/exe" 2>/dev/null) || return 1
  case "${exe##*/}" in
    ngircd | inspircd | tavimere-devgateway | tavimere-devplayers) return 0 ;;
    *) return 1 ;;
  esac
}

targets=()
while read -r pid; do
  [[ "$pid" =~ ^[0-9]+$ ]] || continue
  if alive "$pid" && ours "$pid"; then
    targets+=("$pid")
  fi
done <"$pid_file"

# Newest first: the players and the gateway say goodbye to the chat server
# before it goes away.
for ((i = ${#targets[@]} - 1; i >= 0; i--)); do
  pid=${targets[i]}
  kill -TERM "$pid" 2>/dev/null || true
  tries=$((wait_seconds * 10))
  while alive "$pid" && [ "$tries" -gt 0 ]; do
    tries=$((tries - 1))
    sleep 0.1
  done
  if alive "$pid"; then
    echo "stop.sh: process $pid did not stop within ${wait_seconds} s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
done
rm -f "$pid_file"
echo "stop.sh: stopped ${#targets[@]} process(es) from $1"
