#!/usr/bin/env bash
# Sync from login as installed: the systemd user unit names the installed
# daemon and verifies; the autostart entry is valid and skipped under
# systemd; and a private user manager (in a mount namespace of its own, with
# a tmpfs over /run/systemd, so nothing of the machine's changes) enables,
# starts and stops the unit, while a daemon already serving makes a second
# start leave through its start lock.
#   check_login_start.sh BUILD_DIR
# Exit status 77 (skipped) where no private user manager can run.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/korvane-login-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
daemon=$prefix/${libdir:-lib}/KorvaneBkgProc
unit=$prefix/share/systemd/user/korvane.service
autostart=$prefix/etc/xdg/autostart/korvane.desktop

# ---- The files, as installed
grep -qxF "ExecStart=\"$daemon\"" "$unit" || fail "the unit does not start $daemon: $(grep ExecStart "$unit")"
grep -qxF "WantedBy=default.target" "$unit" || fail "the unit is not wanted by default.target"
grep -qxF "Exec=\"$daemon\"" "$autostart" || fail "the autostart entry does not start $daemon"
grep -qxF "X-systemd-skip=true" "$autostart" || fail "the autostart entry is not skipped under systemd"
mkdir -m 0700 "$work/verify"
if ! verified=$(XDG_RUNTIME_DIR=$work/verify MANPATH=$prefix/share/man systemd-analyze --user verify "$unit" 2>&1); then
  fail "systemd-analyze --user verify: $verified"
fi
validated=$(desktop-file-validate "$autostart" 2>&1) || fail "desktop-file-validate: $validated"

# ---- Started and stopped by a private user manager
if [[ $(id -u) -ne 0 ]] || ! unshare -m true 2>/dev/null; then
  ((failures == 0)) || exit 1
  echo "SKIP: a private user manager needs root and unshare -m; the files check out"
  exit 77
fi
cat >"$work/manager.sh" <<'MANAGER'
set -euo pipefail
work=$1 unit=$2 prefix=$3 daemon=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mount -t tmpfs tmpfs /run/systemd
mkdir -p /run/systemd/system
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
  XDG_STATE_HOME=$work/state DBUS_SESSION_BUS_ADDRESS=
mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME"
/lib/systemd/systemd --user >"$work/manager.log" 2>&1 &
manager=$!
trap 'kill "$manager" 2>/dev/null; wait "$manager" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -S $XDG_RUNTIME_DIR/systemd/private ]] && break; sleep 0.1; done
[[ -S $XDG_RUNTIME_DIR/systemd/private ]] || { echo "SKIP: systemd --user did not start: $(tail -3 "$work/manager.log")"; exit 77; }
# The units see this test's folders, not the machine's.
systemctl --user set-environment HOME="$HOME" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_DATA_HOME="$XDG_DATA_HOME" \
  XDG_STATE_HOME="$XDG_STATE_HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR"
korvane() { "$prefix/bin/korvane" "$@"; }
daemon_pid() { systemctl --user show -p MainPID --value korvane; }

systemctl --user link "$unit" >/dev/null 2>&1
systemctl --user enable --now korvane >/dev/null 2>&1 || fail "systemctl --user enable --now korvane failed"
for _ in $(seq 100); do [[ -S $XDG_RUNTIME_DIR/DalvDaemonCommand ]] && break; sleep 0.1; done
[[ $(systemctl --user is-active korvane) == active ]] || fail "the unit is not active after enable --now"
[[ $(systemctl --user is-enabled korvane) == enabled ]] || fail "the unit is not enabled"
korvane get-activations >/dev/null || fail "the daemon the unit started does not answer"
pid=$(daemon_pid)
[[ $(realpath "/proc/$pid/exe" 2>/dev/null) == "$(realpath "$daemon")" ]] ||
  fail "the unit's process is not the installed daemon"
systemctl --user stop korvane
[[ $(systemctl --user is-active korvane) != active ]] || fail "the unit is still active after stop"
[[ ! -S $XDG_RUNTIME_DIR/DalvDaemonCommand ]] || fail "the daemon's socket is still there after the unit stopped"

# A daemon the tool started already serves: the unit's start leaves at once
# through the start lock, with success, and the first daemon goes on.
korvane start-daemon >/dev/null || fail "korvane start-daemon failed"
first=$(sed -n '$s/^[^ ]* \([0-9]*\) .*/\1/p' "$XDG_STATE_HOME/korvane/daemon.log")
systemctl --user start korvane || fail "the second start failed"
for _ in $(seq 100); do [[ $(systemctl --user is-active korvane) == active ]] || break; sleep 0.1; done
[[ $(systemctl --user show -p Result --value korvane) == success ]] || fail "the second start did not end in success"
[[ $(systemctl --user is-active korvane) != active ]] || fail "a second daemon runs beside the first"
grep -q "another daemon serves" "$XDG_STATE_HOME/korvane/daemon.log" || fail "the second start's leaving is not logged"
kill -0 "$first" 2>/dev/null || fail "the first daemon went away"
korvane stop-daemon >/dev/null || fail "the first daemon did not stop"
exit $((failures > 0))
MANAGER
status=0
unshare -m bash "$work/manager.sh" "$work" "$unit" "$prefix" "$daemon" || status=$?
((status == 77)) && ((failures == 0)) && exit 77
((status == 0)) || failures=$((failures + 1))
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the unit and the autostart entry check out; a private user manager started and stopped the daemon"
