#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsvn-dev libapr1-dev subversion
  # The team server the tests start: svnserve comes with subversion; the
  # http:// variant is Apache httpd with mod_dav_svn (and htpasswd).
  apache2 apache2-utils libapache2-mod-svn
  # The https variant's certificates (mod_ssl is part of apache2).
  openssl
  # The rule of names: NFC and case folding of space names.
  libutf8proc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # The korvane tool's argument parsing and JSON, and the daemon's jobs file.
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  python3
  # The daemon's notifications go over the session bus (sd-bus); the tests
  # run a stand-in notification server on a private bus.
  libsystemd-dev dbus python3-gi
  # Sync from login: the user unit and the autostart file are checked.
  systemd desktop-file-utils
  # The file-manager extensions and their tests with the real file managers,
  # headless on a private display and bus, read through AT-SPI.
  libnautilus-extension-dev libnemo-extension-dev nautilus nemo
  xvfb xauth xdotool gir1.2-atspi-2.0 at-spi2-core
  # The Windows build: the mingw-w64 cross compiler, GoogleTest's sources,
  # the tools that build Subversion and APR from source, Wine, and NSIS for
  # the installer.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  googletest tcl dpkg-dev autoconf automake libtool file
  wine wine64 nsis
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
