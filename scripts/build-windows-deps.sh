#!/usr/bin/env bash
# Cross-builds, with mingw-w64 for Windows x64, the static libraries the
# Windows build of Korvane links: APR, APR-util, the Subversion libraries of
# the library (libsvn_subr, libsvn_delta, libsvn_diff, libsvn_wc) and of the
# daemon (libsvn_client, libsvn_ra with its local and svn:// layers,
# libsvn_repos, libsvn_fs with its FSFS and FSX back ends and libsvn_fs_util),
# and what they need (expat, SQLite, zlib), utf8proc for the daemon's
# rules of names, and for https the Subversion layer over serf
# (libsvn_ra_serf) with serf and OpenSSL. Subversion's Windows password
# store (the CryptoAPI's DPAPI) is compiled in. The sources are Debian
# bookworm's source packages, of the same versions the Linux build links,
# Debian's patches applied.
#
# The result is cached in a folder named after the package versions:
#
#   ${KORVANE_CACHE_DIR:-$HOME/.cache/korvane}/windows-deps-<key>/
#     prefix/include/   apr-1/, subversion-1/, expat, SQLite and zlib headers
#     prefix/lib/       lib*.a
#     build.log         everything the build printed
#     sources.list      where the sources came from
#     complete          written last: the folder is ready
#     complete-utf8proc-VERSION   utf8proc is in the prefix too
#     complete-openssl-VERSION    so are OpenSSL's libssl and libcrypto
#     complete-serf-VERSION       serf
#     complete-ra_serf-VERSION    libsvn_ra_serf, with libsvn_ra rebuilt to
#                       load it
#
# What joined after the first prefixes were made is built into a finished
# prefix on the next run, each part under its own stamp, so that the key
# (and with it every cached prefix) stays as it was.
#
# A run that finds the folder complete does nothing else. The last line on
# standard output is always the prefix, for the caller to capture:
#
#   cmake -DKORVANE_WINDOWS_DEPS="$(scripts/build-windows-deps.sh)" ...
#
# Progress goes to standard error; on failure the tail of build.log follows.

# The perl expressions below are single-quoted on purpose.
# shellcheck disable=SC2016
set -euo pipefail

# Bump when a change to this script changes the libraries it makes, so that
# builds pick up a fresh cache folder.
readonly SCRIPT_REVISION=2

# The Debian source packages, pinned to the versions bookworm offers, so that
# the cache key only changes when we decide to move. When Debian drops one of
# these versions from its archive the run stops and says which pin to update.
readonly PACKAGES=(
  zlib=1:1.2.13.dfsg-1
  expat=2.5.0-1+deb12u2
  sqlite3=3.40.1-2+deb12u2
  apr=1.7.2-3+deb12u1
  apr-util=1.6.3-1+deb12u1
  subversion=1.14.2-4+deb12u1
)

readonly DEBIAN_MIRROR=${KORVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
readonly DEBIAN_SECURITY_MIRROR=${KORVANE_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

readonly HOST=x86_64-w64-mingw32
# The posix-threads variants of the mingw-w64 compilers, as for Korvane itself.
readonly CROSS_CC=$HOST-gcc-posix
readonly CROSS_CXX=$HOST-g++-posix
readonly CFLAGS_RELEASE=-O2

# --- Cache folder ------------------------------------------------------------

# The key joins the script revision and every name-version pair. Epochs are
# left out: they never change without the version changing too, and a ':'
# has no place in a path.
cache_key="r$SCRIPT_REVISION"
for pin in "${PACKAGES[@]}"; do
  version=${pin#*=}
  cache_key+="_${pin%%=*}-${version#*:}"
done
readonly cache_root=${KORVANE_CACHE_DIR:-$HOME/.cache/korvane}
readonly cache=$cache_root/windows-deps-$cache_key
readonly prefix=$cache/prefix
readonly stamp=$cache/complete
readonly log=$cache/build.log

# utf8proc, which the daemon's name rules use, joins a finished prefix with
# a stamp of its own (see build_utf8proc_into_prefix at the end).
readonly UTF8PROC_PACKAGE=utf8proc=2.8.0-1
readonly utf8proc_stamp=$cache/complete-${UTF8PROC_PACKAGE/=/-}

# https: OpenSSL and serf, and Subversion's serf layer, join the same way.
# The serf layer is keyed by the Subversion and serf versions it is built
# from.
readonly OPENSSL_PACKAGE=openssl=3.0.20-1~deb12u2
readonly SERF_PACKAGE=serf=1.3.9-11
readonly openssl_stamp=$cache/complete-${OPENSSL_PACKAGE/=/-}
readonly serf_stamp=$cache/complete-${SERF_PACKAGE/=/-}
subversion_pin=
for pin in "${PACKAGES[@]}"; do
  [[ $pin != subversion=* ]] || subversion_pin=$pin
done
readonly subversion_pin
readonly ra_serf_stamp=$cache/complete-ra_serf-${subversion_pin#*=}-${SERF_PACKAGE#*=}

prefix_complete() {
  [[ -f $stamp && -f $utf8proc_stamp && -f $openssl_stamp && -f $serf_stamp && -f $ra_serf_stamp ]]
}

if prefix_complete; then
  printf '%s\n' "$prefix"
  exit 0
fi

# --- Build tools -------------------------------------------------------------

# Installs the Debian packages the build needs, when missing (as
# install-dependencies.sh does). Native gcc and tcl build SQLite's generators.
install_build_tools() {
  local packages=(
    build-essential tcl dpkg-dev autoconf automake libtool
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    perl patch xz-utils bzip2
  )
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
install_build_tools >&2

# --- Lock, log, work folder --------------------------------------------------

# One build per key at a time; a run that waited finds the stamp and stops.
mkdir -p "$cache_root"
exec 9>"$cache.lock"
flock 9
if prefix_complete; then
  printf '%s\n' "$prefix"
  exit 0
fi

# A finished prefix only lacks the parts that joined later: those alone are
# built into it.
only_later_parts=false
if [[ -f $stamp ]]; then
  only_later_parts=true
else
  rm -rf "$cache"
  mkdir -p "$prefix/include" "$prefix/lib"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-windows-deps.XXXXXX")
readonly work
jobs=$(nproc)
readonly jobs
started=$SECONDS
sqlite_pid=

# From here on all output goes to the log; fd 3 and 4 keep the caller's
# standard output and error.
exec 3>&1 4>&2 >>"$log" 2>&1

# Reports progress, with the seconds spent so far, to the log and the caller.
step() {
  printf '==> [%4d s] %s\n' $((SECONDS - started)) "$*"
  printf 'build-windows-deps: [%4d s] %s\n' $((SECONDS - started)) "$*" >&4
}

die() {
  printf 'build-windows-deps: %s\n' "$*"
  printf 'build-windows-deps: %s\n' "$*" >&4
  exit 1
}

finish() {
  local rc=$?
  if [[ -n $sqlite_pid ]]; then
    kill -- -"$sqlite_pid" 2>/dev/null || true
    wait "$sqlite_pid" 2>/dev/null || true
  fi
  if ((rc != 0)); then
    {
      echo "build-windows-deps: failed (exit $rc). Last lines of $log:"
      tail -n 60 "$log"
      echo "build-windows-deps: work folder kept for inspection: $work"
    } >&4
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

# Runs a perl substitution (whole file in $_) over FILE and fails when it
# changes nothing, so that a new upstream version cannot silently skip a fix.
edit() {
  local file=$1 expression=$2
  cp "$file" "$file.before-edit"
  perl -0pi -e "$expression" "$file"
  if cmp -s "$file" "$file.before-edit"; then
    die "edit did not apply to $file: $expression"
  fi
  rm "$file.before-edit"
}

# --- Sources -----------------------------------------------------------------

# Debian's source packages, through apt with a private deb-src list, package
# lists and archive cache under the cache folder: the system's apt
# configuration and state are left as they are. apt checks every file against
# the signed index.
fetch_sources() {
  local packages=("$@")
  local apt_dir=$work/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/src"
  cat >"$cache/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_MIRROR bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_MIRROR bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_SECURITY_MIRROR bookworm-security main
EOF
  local apt_options=(
    -o Dir::Etc::SourceList="$cache/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::Cache="$apt_dir/cache"
  )
  # Root would hand the downloads to the _apt user, who may not reach $HOME.
  [[ $(id -u) -ne 0 ]] || apt_options+=(-o APT::Sandbox::User=root)

  apt-get "${apt_options[@]}" update

  local pin name version offered
  for pin in "${packages[@]}"; do
    name=${pin%%=*}
    version=${pin#*=}
    offered=$(apt-cache "${apt_options[@]}" showsrc --only-source "$name")
    grep -qxF "Version: $version" <<<"$offered" ||
      die "Debian bookworm no longer offers $name $version; set the version it offers now in PACKAGES in $0"
  done
  (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only "${packages[@]}")

  # Unpacking applies Debian's patches.
  for pin in "${packages[@]}"; do
    name=${pin%%=*}
    version=${pin#*=}
    dpkg-source -x "$work/src/${name}_${version#*:}.dsc" "$work/$name"
  done
}

# --- zlib, expat, SQLite -----------------------------------------------------

build_zlib() (
  cd "$work/zlib"
  CHOST=$HOST CC=$CROSS_CC ./configure --static --prefix="$prefix"
  # Only the library: the test programs are no use here.
  make -j"$jobs" libz.a
  install -m 644 zlib.h zconf.h "$prefix/include/"
  install -m 644 libz.a "$prefix/lib/"
)

build_expat() (
  # The Debian source is the upstream repository layout, without configure.
  cd "$work/expat/expat"
  ./buildconf.sh
  ./configure --host=$HOST --prefix="$prefix" CC=$CROSS_CC CFLAGS="$CFLAGS_RELEASE" \
    --disable-shared --enable-static \
    --without-docbook --without-examples --without-tests --without-xmlwf
  make -j"$jobs" -C lib
  make -C lib install
)

build_sqlite() (
  # The amalgamation sqlite3.c is generated by native tools (and tclsh) from
  # the Debian-patched sources, then compiled on its own for Windows.
  mkdir "$work/sqlite3/native"
  cd "$work/sqlite3/native"
  CC=gcc ../configure --disable-tcl --disable-readline --disable-shared
  make -j"$jobs" sqlite3.c
  # Subversion opens each database from one thread at a time but from several
  # threads overall, and never loads extensions.
  $CROSS_CC $CFLAGS_RELEASE -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
    -c sqlite3.c -o sqlite3.o
  $HOST-ar rcs libsqlite3.a sqlite3.o
  install -m 644 sqlite3.h sqlite3ext.h "$prefix/include/"
  install -m 644 libsqlite3.a "$prefix/lib/"
)

# --- APR, APR-util -----------------------------------------------------------

# The configure scripts shipped in the tarballs are used as they are: the
# Debian patches to configure.in only concern Unix atomics, the Hurd and
# database back ends, none of which this build uses.

build_apr() (
  cd "$work/apr"
  # Debian empties LIBS in apr-1-config; Subversion's configure needs the
  # Windows libraries from it to link its checks.
  patch -R -p1 <debian/patches/omit_extra_libs.patch

  # ssize_t and size_t are long long on Win64; configure knows the 64-bit
  # formats for mingw but not these two.
  edit configure 's/^(        int64_strfn="_strtoi64"\n)/$1        ssize_t_fmt="I64d"\n        size_t_fmt="I64u"\n/m'
  # The interface-name calls need netioapi.h, which the Windows sources of
  # APR do not include under mingw; without them only IPv6 zone names
  # (apr_sockaddr_zone_*) are unsupported.
  edit include/arch/win32/apr_private.h 's/(#define HAVE_IF_INDEXTONAME 1\n#define HAVE_IF_NAMETOINDEX 1\n)/#ifndef __MINGW32__\n$1#endif\n/'
  # The shared atomics header sends gcc on x86-64 to the generic 64-bit
  # fallback, which the Windows build does not compile; the Windows atomics
  # need no set-up.
  edit atomic/win32/apr_atomic.c 's|(#include "apr_arch_atomic.h"\n)|$1\n/* The Interlocked functions cover 64 bits: no generic fallback. */\n#undef NEED_ATOMICS_GENERIC64\n|'

  # configure cannot run test programs for Windows: give it the answers.
  env \
    ac_cv_file__dev_zero=no \
    apr_cv_process_shared_works=no \
    apr_cv_mutex_robust_shared=no \
    apr_cv_tcp_nodelay_with_cork=no \
    apr_cv_mutex_recursive=yes \
    ac_cv_o_nonblock_inherited=no \
    apr_cv_gai_addrconfig=no \
    ap_cv_atomic_builtins=yes \
    ap_cv_atomic_builtins64=yes \
    ./configure --host=$HOST --prefix="$prefix" --disable-shared --enable-static \
    CC=$CROSS_CC CFLAGS="$CFLAGS_RELEASE" CPPFLAGS=-DCOM_NO_WINDOWS_H
  make -j"$jobs"
  make install
)

build_apr_util() (
  cd "$work/apr-util"
  # As for APR: Debian empties LIBS in apu-1-config (here: expat).
  patch -R -p1 <debian/patches/apu_config_dont_list_indep_libs.patch
  # Only the core (pools of buckets, XML, URIs, dates...) with expat; every
  # optional back end off, the DBM one being the built-in sdbm.
  ./configure --host=$HOST --prefix="$prefix" \
    CC=$CROSS_CC CFLAGS="$CFLAGS_RELEASE" CPPFLAGS=-DCOM_NO_WINDOWS_H \
    --with-apr="$prefix/bin/apr-1-config" --with-expat="$prefix" \
    --disable-util-dso --without-crypto --without-openssl --without-nss \
    --without-commoncrypto --without-ldap --without-gdbm --without-ndbm \
    --without-berkeley-db --without-pgsql --without-mysql --without-sqlite3 \
    --without-sqlite2 --without-oracle --without-odbc --without-iconv
  make -j"$jobs"
  make install
)

# --- Subversion --------------------------------------------------------------

# Debian's Subversion source made ready for mingw (once per work folder).
prepare_subversion() (
  cd "$work/subversion"
  # Debian converts $LastChangedDate$ to the locale's character set; keyword
  # expansion stays UTF-8 here, as upstream has it.
  patch -R -p1 <debian/patches/last-changed-date-charset

  # mingw-w64 spells the header in lower case (Linux file names are exact).
  edit subversion/libsvn_subr/config_win.c 's/<Ws2tcpip\.h>/<ws2tcpip.h>/'
  edit subversion/libsvn_subr/win32_xlate.c 's/<Ws2tcpip\.h>/<ws2tcpip.h>/'
  # A cast is not an lvalue in gcc: cast the address instead.
  edit subversion/libsvn_subr/io.c 's/svn_utf__win32_utf8_to_utf16\(&\(const WCHAR\*\)buffer,/svn_utf__win32_utf8_to_utf16((const WCHAR **)&buffer,/'
  # mingw-w64's mlang.h declares IID_IMultiLanguage but its libuuid does not
  # define it; the value is the interface's published GUID.
  edit subversion/libsvn_subr/win32_xlate.c 's|(#include <mlang.h>\n)|$1\n#ifdef __MINGW32__\nstatic const IID svn_mingw_IID_IMultiLanguage =\n  {0x275c23e1, 0x3747, 0x11d0, {0x9f, 0xea, 0x00, 0xaa, 0x00, 0x3f, 0x86, 0x46}};\n#define IID_IMultiLanguage svn_mingw_IID_IMultiLanguage\n#endif\n|'
  # The Windows password store (DPAPI, wincrypt.h) and its declarations are
  # left out under mingw only because Subversion's own Windows build uses
  # MSVC; mingw-w64 has every call they make. Compile them in.
  local file
  for file in \
    subversion/include/svn_auth.h subversion/include/svn_client.h \
    subversion/include/private/svn_auth_private.h \
    subversion/libsvn_subr/auth.h subversion/libsvn_subr/auth.c \
    subversion/libsvn_subr/win32_crypto.c subversion/libsvn_subr/deprecated.c \
    subversion/libsvn_subr/config_file.c subversion/libsvn_client/compat_providers.c; do
    edit "$file" 's/defined\(WIN32\) && !defined\(__MINGW32__\)/defined(WIN32)/g'
  done
)

# Configures the prepared Subversion source; SERF is the --with-serf value.
configure_subversion() (
  local serf=$1
  cd "$work/subversion"
  # pkg-config must not find the Linux libraries.
  PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH='' \
    ./configure --host=$HOST --prefix="$prefix" --disable-shared --enable-static \
    CC=$CROSS_CC CXX=$CROSS_CXX CFLAGS="$CFLAGS_RELEASE" CXXFLAGS="$CFLAGS_RELEASE" \
    CPPFLAGS="-DAPR_DECLARE_STATIC -DAPU_DECLARE_STATIC" \
    --with-apr="$prefix/bin/apr-1-config" --with-apr-util="$prefix/bin/apu-1-config" \
    --with-expat="$prefix/include:$prefix/lib:-lexpat" \
    --with-zlib="$prefix" --with-sqlite="$prefix" \
    --with-lz4=internal --with-utf8proc=internal \
    --with-serf="$serf" --without-apr_memcache --without-apxs --without-berkeley-db \
    --without-sasl --without-gpg-agent --without-gnome-keyring --without-kwallet \
    --without-libmagic --without-swig --without-jdk --without-junit \
    --without-doxygen --without-trang --without-ctypesgen --without-py3c \
    --without-boost --disable-javahl --disable-svnxx --disable-nls \
    --disable-keychain --disable-mod-activation

  # configure writes the Unix path separator and null device; the Windows
  # build of Subversion uses these (svn_private_config.hw).
  edit subversion/svn_private_config.h "s/^#define SVN_PATH_LOCAL_SEPARATOR .*\$/#define SVN_PATH_LOCAL_SEPARATOR '\\\\\\\\'/m"
  edit subversion/svn_private_config.h 's/^#define SVN_NULL_DEVICE_NAME .*$/#define SVN_NULL_DEVICE_NAME "nul"/m'
)

build_subversion() (
  prepare_subversion
  configure_subversion no
  cd "$work/subversion"
  # Only the libraries Korvane links, not the whole tree. The loaders of
  # libsvn_ra and libsvn_fs link every layer configure enabled: ra_local and
  # ra_svn, fs_fs and fs_x.
  local libs=(subr delta diff wc client ra ra_local ra_svn repos fs fs_fs fs_x fs_util)
  local lib targets=()
  for lib in "${libs[@]}"; do
    targets+=("subversion/libsvn_$lib/libsvn_$lib-1.la")
  done
  make -j"$jobs" "${targets[@]}"
  make install-include
  for lib in "${libs[@]}"; do
    install -m 644 "subversion/libsvn_$lib/.libs/libsvn_$lib-1.a" "$prefix/lib/"
  done
)

# --- Parts that joined later ------------------------------------------------

# utf8proc is one C file (its tables included), compiled as a static library
# with its exports left undecorated.
build_utf8proc() (
  cd "$work/utf8proc"
  $CROSS_CC $CFLAGS_RELEASE -DUTF8PROC_STATIC -c utf8proc.c -o utf8proc.o
  $HOST-ar rcs libutf8proc.a utf8proc.o
  install -m 644 utf8proc.h "$prefix/include/"
  install -m 644 libutf8proc.a "$prefix/lib/"
)

# OpenSSL's two libraries only: no programs, tests, manuals, engines or
# loadable modules, and without the protocols and ciphers a client of a
# team server never meets, which keeps the build short. The configuration
# folder it would read openssl.cnf from is the Windows default, not a path
# of this machine.
build_openssl() (
  cd "$work/openssl"
  ./Configure mingw64 --prefix="$prefix" --libdir=lib \
    --openssldir="C:/Program Files/Common Files/SSL" \
    CC=$CROSS_CC AR=$HOST-ar RANLIB=$HOST-ranlib RC=$HOST-windres \
    no-shared no-tests no-module no-legacy no-engine no-dso no-comp \
    no-ssl3 no-dtls no-srp no-idea no-seed no-mdc2 no-rc5 no-whirlpool \
    no-sm2 no-sm3 no-sm4 no-aria no-camellia no-ts
  make -j"$jobs" build_libs
  make install_dev
)

# serf's own build (SCons) does not cross-compile; its C files are few and
# are compiled directly, with the definitions its build uses on Windows,
# without the Negotiate (SSPI) authentication a team server does not offer.
build_serf() (
  cd "$work/serf"
  local source objects=()
  for source in *.c buckets/*.c auth/*.c; do
    $CROSS_CC $CFLAGS_RELEASE -DWIN32 -DWIN32_LEAN_AND_MEAN -DNOUSER -DNOGDI -DNONLS -DNOCRYPT \
      -DAPR_DECLARE_STATIC -DAPU_DECLARE_STATIC \
      -I. -I"$prefix/include/apr-1" -I"$prefix/include" -c "$source" -o "${source%.c}.o"
    objects+=("${source%.c}.o")
  done
  $HOST-ar rcs libserf-1.a "${objects[@]}"
  install -d "$prefix/include/serf-1"
  install -m 644 serf.h serf_bucket_types.h serf_bucket_util.h "$prefix/include/serf-1/"
  install -m 644 libserf-1.a "$prefix/lib/"
)

# The upstream version of the pinned package NAME (no epoch, no Debian
# revision).
upstream_version() {
  local name=$1 pin version
  for pin in "${PACKAGES[@]}"; do
    [[ $pin == "$name="* ]] || continue
    version=${pin#*=}
    version=${version#*:}
    printf '%s\n' "${version%-*}"
  done
}

# Writes apr-1-config and apu-1-config into FOLDER: a finished prefix keeps
# only headers and libraries, and Subversion's configure learns from these
# where APR and APR-util are and what they link, as it did from theirs.
write_apr_config_tools() {
  local folder=$1
  mkdir -p "$folder"
  # NAME VERSION CPPFLAGS LINK LIBS
  write_config_tool() {
    cat >"$folder/$1" <<EOF
#!/bin/sh
out=
for option; do
  case \$option in
    --version) out="\$out $2" ;;
    --cppflags) out="\$out $3" ;;
    --includes) out="\$out -I$prefix/include/apr-1" ;;
    --link-ld) out="\$out -L$prefix/lib $4" ;;
    --libs) out="\$out $5" ;;
    --shlib-path-var) out="\$out PATH" ;;
    --old-expat) out="\$out no" ;;
  esac
done
echo \$out
EOF
    chmod +x "$folder/$1"
  }
  # The flags APR's configure sets for mingw, and the one given to it above.
  write_config_tool apr-1-config "$(upstream_version apr)" \
    "-DCOM_NO_WINDOWS_H -DWIN32 -D__MSVCRT__ -DAPR_DECLARE_STATIC" -lapr-1 \
    "-lshell32 -ladvapi32 -lws2_32 -lrpcrt4 -lmswsock"
  write_config_tool apu-1-config "$(upstream_version apr-util)" -DAPU_DECLARE_STATIC -laprutil-1 -lexpat
}

# libsvn_ra_serf, and libsvn_ra again, whose loader links the layers
# configure enabled. Only their objects are compiled: the other libraries in
# the prefix are the same with or without serf.
build_ra_serf() (
  # Subversion's configure finds serf through a pkg-config file.
  local serf_version=${SERF_PACKAGE#*=}
  mkdir -p "$work/serf-pc"
  printf '%s\n' "Name: serf" "Description: HTTP client library" "Version: ${serf_version%-*}" \
    "Cflags: -I$prefix/include/serf-1" "Libs: -L$prefix/lib -lserf-1" >"$work/serf-pc/serf-1.pc"
  write_apr_config_tools "$prefix/bin"
  configure_subversion "$work/serf-pc"
  grep -q '^#define SVN_LIBSVN_RA_LINKS_RA_SERF' "$work/subversion/subversion/svn_private_config.h" ||
    die "Subversion's configure did not take serf"
  cd "$work/subversion"
  local lib source objects
  for lib in ra ra_serf; do
    # Objects of a build without serf would be taken as up to date.
    rm -f "subversion/libsvn_$lib"/*.lo "subversion/libsvn_$lib"/*.o
    objects=()
    for source in "subversion/libsvn_$lib"/*.c; do
      objects+=("${source%.c}.lo")
    done
    make -j"$jobs" "${objects[@]}"
    rm -f "libsvn_$lib-1.a"
    $HOST-ar rcs "libsvn_$lib-1.a" "${objects[@]/%.lo/.o}"
    install -m 644 "libsvn_$lib-1.a" "$prefix/lib/"
  done
)

# Marks a part built: STAMP, then the package versions it came from.
mark_built() {
  local stamp_file=$1
  shift
  {
    echo "Built $(date -u +%Y-%m-%dT%H:%M:%SZ) by scripts/build-windows-deps.sh"
    printf '%s\n' "$@"
  } >"$stamp_file"
}

# Builds into the finished prefix each part that joined later and is not
# there yet, from one fetch of their sources.
build_later_parts() {
  local packages=() need_ra_serf=false
  [[ -f $utf8proc_stamp ]] || packages+=("$UTF8PROC_PACKAGE")
  [[ -f $openssl_stamp ]] || packages+=("$OPENSSL_PACKAGE")
  [[ -f $serf_stamp ]] || packages+=("$SERF_PACKAGE")
  if [[ ! -f $ra_serf_stamp ]]; then
    need_ra_serf=true
    # The serf layer is built from a fresh Subversion source, also after a
    # first build, whose tree was configured without serf.
    rm -rf "$work/subversion"
    packages+=("$subversion_pin")
  fi
  if ((${#packages[@]})); then
    step "fetching Debian sources: ${packages[*]}"
    fetch_sources "${packages[@]}"
  fi
  if [[ ! -f $utf8proc_stamp ]]; then
    step "building utf8proc"
    build_utf8proc
    mark_built "$utf8proc_stamp" "$UTF8PROC_PACKAGE"
  fi
  if [[ ! -f $openssl_stamp ]]; then
    step "building OpenSSL"
    build_openssl
    mark_built "$openssl_stamp" "$OPENSSL_PACKAGE"
  fi
  if [[ ! -f $serf_stamp ]]; then
    step "building serf"
    build_serf
    mark_built "$serf_stamp" "$SERF_PACKAGE"
  fi
  if $need_ra_serf; then
    prepare_subversion
    step "building Subversion's serf layer"
    build_ra_serf
    mark_built "$ra_serf_stamp" "$subversion_pin" "$SERF_PACKAGE"
  fi
  # Only headers and static libraries stay, as after the first build.
  rm -rf "${prefix:?}/bin" "${prefix:?}/share" "${prefix:?}/lib/pkgconfig"
}

# --- Main --------------------------------------------------------------------

if $only_later_parts; then
  build_later_parts
  step "done"
  printf '%s\n' "$prefix" >&3
  exit 0
fi

step "building into $cache"
step "fetching Debian sources"
fetch_sources "${PACKAGES[@]}"

# SQLite's generation and single large compile run beside the other
# libraries; Subversion's configure needs it.
# Job control gives the job its own process group, so that a failure
# elsewhere can stop it with its compiler.
step "building SQLite (in the background)"
set -m
build_sqlite >"$work/sqlite.log" 2>&1 &
sqlite_pid=$!
set +m

step "building zlib"
build_zlib
step "building expat"
build_expat
step "building APR"
build_apr
step "building APR-util"
build_apr_util

step "waiting for SQLite"
sqlite_status=0
wait "$sqlite_pid" || sqlite_status=$?
sqlite_pid=
echo "==> SQLite build output"
cat "$work/sqlite.log"
((sqlite_status == 0)) || die "SQLite build failed"

step "building Subversion"
build_subversion

# Keep only headers and static libraries: the rest (config scripts, libtool
# files, pkg-config files, build rules) names folders of this build.
rm -rf "${prefix:?}/bin" "${prefix:?}/build-1" "${prefix:?}/share"
rm -rf "${prefix:?}/lib/pkgconfig" "${prefix:?}"/lib/*.la "${prefix:?}"/lib/*.exp

{
  echo "Built $(date -u +%Y-%m-%dT%H:%M:%SZ) by scripts/build-windows-deps.sh revision $SCRIPT_REVISION"
  printf '%s\n' "${PACKAGES[@]}"
} >"$stamp"
build_later_parts
step "done"
printf '%s\n' "$prefix" >&3
