#!/usr/bin/env bash
# The product in a real file manager, headless: the build installed into a
# private prefix, its extension module bound over the file manager's own
# extension folder in a mount namespace of this test's own (nothing outside
# the test changes), the file manager run on a private X display (Xvfb
# -noreset) and session bus, and read and driven through AT-SPI
# (file_manager_ui.py). For a plain folder, a shared one and a folder's
# background, the file manager's menu holds exactly the entries `korvane
# menu --json` gives; "Share on Halcyra" there shares exactly that folder,
# and the folder's emblem changes.
#   check_file_manager.sh nautilus|nemo BUILD_DIR
# Exit status 77 (skipped) where it cannot run, with the reason.
set -euo pipefail
app=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] && unshare -m true 2>/dev/null || skip "binding the module over the system folder needs root and unshare -m"
for program in "$app" Xvfb dbus-run-session xdotool; do
  command -v "$program" >/dev/null || skip "$program is not installed (scripts/install-dependencies.sh)"
done
/usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null || skip "gir1.2-atspi-2.0 is not installed"
case $app in
  nautilus) package=libnautilus-extension-4 schema=org/gnome/nautilus/preferences ;;
  nemo) package=libnemo-extension schema=org/nemo/preferences ;;
  *) echo "no such file manager: $app"; exit 2 ;;
esac
system_folder=$(pkg-config --variable=extensiondir "$package")
relative_folder=${system_folder#$(pkg-config --variable=prefix "$package")/}

work=$(mktemp -d /tmp/korvane-fm-XXXXXX)
# KORVANE_KEEP_TEST=1 keeps the folder (logs, the accessibility tree) for a look.
cleanup() {
  [[ -z ${KORVANE_KEEP_TEST:-} ]] || return 0
  # Services the session bus started for the file manager (its file
  # indexer) can outlive it, still writing into the session's cache.
  local environ
  for environ in /proc/[0-9]*/environ; do
    grep -qsF "XDG_CACHE_HOME=$work/cache" "$environ" && kill "$(basename "$(dirname "$environ")")" 2>/dev/null
  done
  rm -rf "$work" 2>/dev/null || { sleep 1 && rm -rf "$work"; } || echo "NOTE: $work could not be removed whole"
}
trap cleanup EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
[[ -f $prefix/$relative_folder/libkorvane-$app.so ]] || { echo "FAIL: the $app extension is not installed"; exit 1; }

cat >"$work/namespace.sh" <<'NAMESPACE'
set -euo pipefail
app=$1 work=$2 prefix=$3 system_folder=$4 relative_folder=$5 schema=$6 here=$7
if [[ -d $system_folder ]]; then
  mount --bind "$prefix/$relative_folder" "$system_folder"
else
  # No extension installed yet: the folder above, copied with the module's
  # folder added, is bound over the original, which stays as it is.
  mkdir -p "$work/system"
  cp -a "$(dirname "$system_folder")" "$work/system/above"
  cp -a "$prefix/$relative_folder" "$work/system/above/$(basename "$system_folder")"
  mount --bind "$work/system/above" "$(dirname "$system_folder")"
fi
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
  XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
# The installed library beside its daemon; local files only (no gvfs); the
# list view, whose cells carry the files' names.
export GSK_RENDERER=cairo KORVANE_DEBUG_OUTPUT=$work/trace.log LD_LIBRARY_PATH=$prefix/lib GIO_USE_VFS=local GIO_USE_VOLUME_MONITOR=unix GSETTINGS_BACKEND=keyfile
unset NO_AT_BRIDGE GTK_A11Y DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
printf "[%s]\ndefault-folder-viewer='list-view'\n" "$schema" >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
mkdir -p "$HOME/plain" "$HOME/site" "$HOME/shared"
echo alpha >"$HOME/site/a.txt"
echo beta >"$HOME/shared/b.txt"
korvane() { "$prefix/bin/korvane" "$@"; }
korvane share --wait "$HOME/shared" >/dev/null 2>&1 || { echo "FAIL: the tool could not share a folder"; exit 1; }
for display in $(seq 90 190); do [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]] || break; done
Xvfb ":$display" -noreset -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; korvane stop-daemon >/dev/null 2>&1 || true' EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
export DISPLAY=:$display
dbus-run-session -- bash "$here/file_manager_session.sh" "$app" "$work" "$prefix" "$here"
NAMESPACE
unshare -m bash "$work/namespace.sh" "$app" "$work" "$prefix" "$system_folder" "$relative_folder" "${schema}" "$here"
