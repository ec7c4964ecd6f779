#!/usr/bin/env bash
# Starts the development Fenmoor service on 127.0.0.1: a chat server
# configured like the lobby's (ngircd unless told otherwise), the development
# gateway and a few simulated players. Everything it starts is recorded in
# RUN_DIR/pids for stop.sh.
#
#   tools/devservice/start.sh BUILD_DIR RUN_DIR [GATEWAY_PORT] [CHAT_PORT]
#
# On success the last line of output is TAVIMERE_SERVICE=127.0.0.1:GW:CHAT,
# ready to export for the client. If the gateway or players program has not
# been built, the rest still starts and the script exits with status 3 so
# callers do not mistake a partial service for a working one.
# Optional settings, for tests and screenshots that want a quicker or a
# steadier lobby:
#   TAVIMERE_PLAYERS_PACE_MS  passed to the players as --pace-ms
#   TAVIMERE_PLAYERS_COUNT    passed to the players as --count
#   TAVIMERE_GAMES_CHURN_MS   passed to the gateway as --churn-ms (0: games
#                             stay as games.txt lists them)
#   TAVIMERE_CHAT_SERVER      which chat server runs the lobby:
#                             ngircd        (the default) ngircd with its flood
#                                           penalties off, for a lively lobby
#                             ngircd-stock  the same with ngircd's default
#                                           flood penalties
#                             inspircd      InspIRCd 3 with its own defaults
#                                           (inspircd.conf.in)
set -euo pipefail

readonly host=127.0.0.1
readonly wait_seconds=10

fail() {
  echo "start.sh: $*" >&2
  exit 1
}

if [ $# -lt 2 ] || [ $# -gt 4 ]; then
  fail "usage: $0 BUILD_DIR RUN_DIR [GATEWAY_PORT] [CHAT_PORT]"
fi
[ -d "$1" ] || fail "build folder $1 does not exist"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build_dir=$(cd "$1" && pwd)
mkdir -p "$2"
run_dir=$(cd "$2" && pwd)
gateway_port=${3:-18080}
chat_port=${4:-16667}

chat_server=${TAVIMERE_CHAT_SERVER:-ngircd}
case "$chat_server" in
  ngircd | ngircd-stock | inspircd) ;;
  *) fail "TAVIMERE_CHAT_SERVER must be ngircd, ngircd-stock or inspircd, not '$chat_server'" ;;
esac

# The run folder ends up inside the chat server's configuration, one setting
# per line (ngircd) or in double quotes (InspIRCd).
case "$run_dir" in *$'\n'*) fail "the run folder name must not contain a line break" ;; esac
if [ "$chat_server" = inspircd ]; then
  case "$run_dir" in *'"'*) fail "the run folder name must not contain a double quote" ;; esac
fi
for port in "$gateway_port" "$chat_port"; do
  if ! [[ "$port" =~ ^[0-9]{1,5}$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
    fail "port '$port' is not a number between 1 and 65535"
  fi
done
gateway_port=$((10#$gateway_port))
chat_port=$((10#$chat_port))
[ "$gateway_port" -ne "$chat_port" ] || fail "the gateway and chat ports must differ"

accepts() {
  (exec 3<>"/dev/tcp/$host/$1") 2>/dev/null
}

alive() {
  [ -r "/proc/$1/stat" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]
}

if [ -s "$run_dir/pids" ]; then
  while read -r pid; do
    if alive "$pid"; then
      fail "a service from $run_dir is still running (pid $pid); run stop.sh $run_dir first"
    fi
  done <"$run_dir/pids"
fi
for port in "$gateway_port" "$chat_port"; do
  if accepts "$port"; then
    fail "port $port on $host is already in use"
  fi
done

chat_bin_name=${chat_server%-stock}
chat_bin=$(PATH="$PATH:/usr/sbin:/usr/local/sbin" command -v "$chat_bin_name") ||
  fail "$chat_bin_name is not installed (tools/install-deps.sh installs it)"
find_built() {
  find "$build_dir" -name "$1" -type f -perm -u+x -print -quit
}
gateway_bin=$(find_built tavimere-devgateway)
players_bin=$(find_built tavimere-devplayers)

# Until everything is up, a failure takes down whatever was already started.
pids=()
complete=no
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  if [ "$complete" = no ] && [ ${#pids[@]} -gt 0 ]; then
    kill "${pids[@]}" 2>/dev/null || true
    rm -f "$run_dir/pids"
  fi
}
trap cleanup EXIT

launch() {
  local log=$1
  shift
  # nohup keeps the service running when the starting terminal closes; the
  # logs keep the children off our stdout, which callers often capture.
  nohup "$@" </dev/null >"$run_dir/$log" 2>&1 &
  pids+=("$!")
  printf '%s\n' "${pids[@]}" >"$run_dir/pids"
}

fail_exited() {
  fail "$1 exited while starting; from $run_dir/$2:"$'\n'"$(tail -n 20 "$run_dir/$2")"
}

wait_for_port() {
  local port=$1 pid=$2 name=$3 log=$4 tries=$((wait_seconds * 10))
  while ! accepts "$port"; do
    alive "$pid" || fail_exited "$name" "$log"
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      fail "$name did not accept connections on $host:$port within ${wait_seconds} s; see $run_dir/$log"
    fi
    sleep 0.1
  done
}

cp "$here/motd.txt" "$run_dir/motd.txt"
conf=$(<"$here/$chat_bin_name.conf.in")
# Quoted replacements, so an & in the folder name stays an &.
conf=${conf//@CHAT_PORT@/"$chat_port"}
conf=${conf//@MOTD_FILE@/"$run_dir/motd.txt"}
case "$chat_server" in
  ngircd | ngircd-stock)
    # 0 switches the flood penalties off; -1 is ngircd's own default.
    penalty=0
    [ "$chat_server" = ngircd ] || penalty=-1
    conf=${conf//@MAX_PENALTY_TIME@/$penalty}
    chat_args=(-n -f "$run_dir/ngircd.conf")
    ;;
  inspircd)
    conf=${conf//@LOG_FILE@/"$run_dir/inspircd-events.log"}
    chat_args=(--config "$run_dir/inspircd.conf" --nofork --nopid)
    run_as=
    if [ "$(id -u)" -eq 0 ]; then
      # InspIRCd refuses root unless told; this makes it drop to "nobody".
      run_as='<security runasuser="nobody" runasgroup="nogroup">'
      chat_args+=(--runasroot)
    fi
    conf=${conf//@RUN_AS@/"$run_as"}
    ;;
esac
printf '%s\n' "$conf" >"$run_dir/$chat_bin_name.conf"

launch "$chat_bin_name.log" "$chat_bin" "${chat_args[@]}"
wait_for_port "$chat_port" "${pids[-1]}" "$chat_bin_name" "$chat_bin_name.log"

status=0
if [ -n "$gateway_bin" ]; then
  gateway_args=(--listen "$host" --port "$gateway_port" --connect-address "$host"
    --games "$repo/tools/devgateway/games.txt")
  [ -z "${TAVIMERE_GAMES_CHURN_MS:-}" ] || gateway_args+=(--churn-ms "$TAVIMERE_GAMES_CHURN_MS")
  launch gateway.log "$gateway_bin" "${gateway_args[@]}"
  gateway_pid=${pids[-1]}
else
  echo "start.sh: error: tavimere-devgateway is not built under $build_dir; starting without the gateway" >&2
  status=3
fi

if [ -n "$players_bin" ]; then
  players_args=(--host "$host" --port "$chat_port")
  [ -z "${TAVIMERE_PLAYERS_PACE_MS:-}" ] || players_args+=(--pace-ms "$TAVIMERE_PLAYERS_PACE_MS")
  [ -z "${TAVIMERE_PLAYERS_COUNT:-}" ] || players_args+=(--count "$TAVIMERE_PLAYERS_COUNT")
  launch players.log "$players_bin" "${players_args[@]}"
else
  echo "start.sh: error: tavimere-devplayers is not built under $build_dir; starting without players" >&2
  status=3
fi

[ -z "${gateway_pid:-}" ] || wait_for_port "$gateway_port" "$gateway_pid" tavimere-devgateway gateway.log
if [ -n "$players_bin" ]; then
  # The players report bad arguments at once; give them a moment to do so.
  sleep 0.2
  alive "${pids[-1]}" || fail_exited tavimere-devplayers players.log
fi

complete=yes
echo "Logs and pids are in $run_dir; stop with: $here/stop.sh $run_dir" >&2
echo "TAVIMERE_SERVICE=$host:$gateway_port:$chat_port"
exit "$status"
