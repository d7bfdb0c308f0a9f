#!/usr/bin/env bash
# Runs one Windows program under Wine, headless: no display, no debug
# channels, in the prefix that WINEPREFIX names (build/wine-prefix by
# default, made on first use). The program's exit code is passed through.
set -euo pipefail

export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
unset DISPLAY WAYLAND_DISPLAY

wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64 || command -v wine)

if [[ ! -d $WINEPREFIX/drive_c ]]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi
# Without a display, windows (the daemon's session window that hears the
# session end, a tray icon) need Wine's null display driver.
if ! grep -qs '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
