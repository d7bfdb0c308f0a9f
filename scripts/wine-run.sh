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
exec "$wine" "$@"
