#!/usr/bin/env bash
# Installs Tavimere as a user would and checks what arrives: the program,
# the desktop entry and the software-centre description (both validated),
# the icons in the hicolor theme; the Debian package with the same files and
# the libraries it needs; and the installed program, started from another
# folder as its desktop entry says, showing its login window under an X
# server of the test's own, against the development service. A missing tool
# fails the test.
#
#   test_install.sh CMAKE CPACK SOURCE_DIR BUILD_DIR APP_ID
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ $# -eq 5 ] || fail "usage: $0 CMAKE CPACK SOURCE_DIR BUILD_DIR APP_ID"
cmake=$1 cpack=$2 source_dir=$3 build_dir=$4 app_id=$5

for tool in desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps file Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

work=$(mktemp -d)
pids=()
service_started=no
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
  done
  [ "$service_started" = no ] || "$source_dir/tools/devservice/stop.sh" "$work/service" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to ten seconds for a command to succeed.
await() {
  for _ in $(seq 100); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

alive() {
  [ -r "/proc/$1/stat" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]
}

show_log() {
  echo "--- $1" >&2
  cat "$1" >&2
}

# --- Installing into a prefix of the test's own.
prefix=$work/prefix
"$cmake" --install "$build_dir" --prefix "$prefix" --strip >"$work/install.log" 2>&1 ||
  { show_log "$work/install.log"; fail "cmake --install failed"; }
icon_sizes=(16 22 24 32)
files=(bin/tavimere
  "share/applications/$app_id.desktop"
  "share/metainfo/$app_id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$app_id.svg"
  share/doc/tavimere/copyright)
for size in "${icon_sizes[@]}"; do
  files+=("share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for f in "${files[@]}"; do
  [ -f "$prefix/$f" ] || fail "cmake --install put no $f into the prefix"
done
echo "Installed into $prefix:"
(cd "$prefix" && find . -type f | sort)
for size in "${icon_sizes[@]}"; do
  picture="$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  file "$picture" | grep -q "PNG image data, $size x $size," || fail "$picture is not a $size x $size PNG: $(file -b "$picture")"
done
file -b "$prefix/share/icons/hicolor/scalable/apps/$app_id.svg" | grep -q SVG || fail "the scalable icon is no SVG"

# The installed program names neither the source nor the build folder: it
# must not need them.
for folder in "$source_dir" "$build_dir"; do
  if grep -qF "$folder" "$prefix/bin/tavimere"; then
    fail "the installed program names $folder"
  fi
done

# --- The validators. The screenshots are on the project's web pages, which
# a build machine need not reach.
entry="$prefix/share/applications/$app_id.desktop"
desktop-file-validate "$entry" >"$work/desktop.log" 2>&1 || { show_log "$work/desktop.log"; fail "desktop-file-validate"; }
[ ! -s "$work/desktop.log" ] || { show_log "$work/desktop.log"; fail "desktop-file-validate has remarks"; }
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { show_log "$work/appstream.log"; fail "appstreamcli validate"; }
echo "desktop-file-validate and appstreamcli validate passed"
grep -qx "Icon=$app_id" "$entry" || fail "the desktop entry names another icon"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "$exec_line" = tavimere ] || fail "the desktop entry starts '$exec_line'"

# --- The Debian package.
"$cpack" --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { show_log "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no single .deb: ${debs[*]}"
fi
deb=${debs[0]}
echo "Package ${deb##*/}:"
dpkg-deb -c "$deb" | tee "$work/contents.txt"
for f in "${files[@]}"; do
  grep -q " \./usr/$f\$" "$work/contents.txt" || fail "the package holds no /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
depends_on=$(sed 's/ ([^)]*)//g; s/, */\n/g' <<<"$depends")
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 fonts-dejavu-core hicolor-icon-theme; do
  grep -qxF "$package" <<<"$depends_on" || fail "the package does not depend on $package"
done
if grep -Eq 'famfamfam|tango|-dev$' <<<"$depends_on"; then
  fail "the package depends on build-time packages: $depends"
fi

# --- The installed program under an X server of its own.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
await test -s "$work/display" || { show_log "$work/xvfb.log"; fail "Xvfb did not start"; }
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
openbox --sm-disable --startup "touch $work/wm-ready" >"$work/openbox.log" 2>&1 &
pids+=($!)
await test -e "$work/wm-ready" || { show_log "$work/openbox.log"; fail "openbox did not start on $DISPLAY"; }

# The development service on free ports.
for _ in $(seq 10); do
  gateway_port=$((20000 + RANDOM % 20000))
  if TAVIMERE_PLAYERS_COUNT=1 "$source_dir/tools/devservice/start.sh" "$build_dir" "$work/service" \
      "$gateway_port" $((gateway_port + 1)) >"$work/service.out" 2>"$work/service.err"; then
    service_started=yes
    break
  fi
  grep -q "already in use" "$work/service.err" || { show_log "$work/service.err"; fail "the development service did not start"; }
done
[ "$service_started" = yes ] || fail "no free ports for the development service"
service=$(tail -n 1 "$work/service.out")

# From another folder, with the source and build folders out of its path.
mkdir -m 700 "$work/home" "$work/runtime" "$work/elsewhere"
program=$(PATH="$prefix/bin:/usr/bin:/bin" command -v "$exec_line")
[ "$program" = "$prefix/bin/tavimere" ] || fail "the desktop entry's command is $program"
(cd "$work/elsewhere" && exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
  XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$service" PATH="$prefix/bin:/usr/bin:/bin" \
  "$exec_line" >"$work/program.log" 2>&1) &
program_pid=$!
pids+=("$program_pid")
login_window() {
  alive "$program_pid" || { show_log "$work/program.log"; fail "the installed program ended"; }
  window=$(xdotool search --onlyvisible --name '^Login - Tavimere v1\.3\.9$' 2>/dev/null | head -n 1)
  [ -n "$window" ]
}
await login_window || fail "no login window within ten seconds"
echo "The installed program shows its login window ($window on $DISPLAY)"

# Closing the login window ends the program, and it ends well.
timeout 10 xdotool windowactivate --sync "$window" || fail "the login window could not be brought to the front"
xdotool key --clearmodifiers alt+F4
ended() { ! alive "$program_pid"; }
await ended || fail "the program did not end when its login window closed"
status=0
wait "$program_pid" || status=$?
unset 'pids[-1]'
[ "$status" -eq 0 ] || { show_log "$work/program.log"; fail "the program ended with status $status"; }
echo "The login window closed and the program ended with status 0"
