#!/usr/bin/env bash
# Runs one Windows program under Wine on a desktop: a virtual X display
# (Xvfb) holding Wine's virtual desktop, whose shell has a taskbar and a
# tray. The headless prefix (scripts/wine-run.sh) uses the null display
# driver, which has no tray, so this one is a prefix of its own beside it:
# WINEPREFIX with "-desktop" added (made on first use). The program's exit
# code is passed through.
set -euo pipefail

headless=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wine-prefix}
export WINEPREFIX=$headless-desktop
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
unset DISPLAY WAYLAND_DISPLAY

wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64 || command -v wine)

if [[ ! -d $WINEPREFIX/drive_c ]]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi
# Every program's windows go into one virtual desktop, which runs the shell.
if ! grep -qs '"Desktop"="Default"' "$WINEPREFIX/user.reg"; then
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1 || true
fi
# What set the prefix up ran without a display: its wineserver and shell
# go, so that the program's shell starts on the desktop below.
WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -w 2>/dev/null || true
exec xvfb-run -a "$wine" "$@"
