# Subversion and APR for the Windows build: static libraries cross-built with
# mingw-w64 from Debian's source packages by scripts/build-windows-deps.sh,
# which prints the prefix to give here:
#
#   cmake -DKORVANE_WINDOWS_DEPS="$(scripts/build-windows-deps.sh)" ...
#
# Defines korvane_svn_libraries, the same interface target cmake/Dependencies.cmake
# defines on Linux, and korvane_daemon_svn_libraries: what the daemon links
# beyond it (the client, repository access with its file://, svn:// and
# http(s):// layers, the last over serf and OpenSSL, the repository and
# filesystem libraries), with Subversion's DPAPI password store compiled in.
include_guard(GLOBAL)

set(KORVANE_WINDOWS_DEPS "" CACHE PATH
    "Prefix of the cross-built Subversion and APR libraries (printed by scripts/build-windows-deps.sh)")

if(NOT KORVANE_WINDOWS_DEPS)
  message(FATAL_ERROR
    "KORVANE_WINDOWS_DEPS is not set. Run scripts/build-windows-deps.sh and "
    "configure with -DKORVANE_WINDOWS_DEPS=<the prefix it prints>.")
endif()

# The paths of the static libraries NAMES (in link order: each one before the
# libraries it uses), in OUT; stops when one is missing.
function(korvane_windows_static_libraries out)
  set(paths)
  foreach(lib IN LISTS ARGN)
    set(path "${KORVANE_WINDOWS_DEPS}/lib/lib${lib}.a")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR
        "${path} is missing: KORVANE_WINDOWS_DEPS (${KORVANE_WINDOWS_DEPS}) is not "
        "a prefix made by the current scripts/build-windows-deps.sh. Run the script "
        "and pass the prefix it prints.")
    endif()
    list(APPEND paths "${path}")
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

korvane_windows_static_libraries(_korvane_windows_lib_paths
  svn_wc-1 svn_diff-1 svn_delta-1 svn_subr-1
  aprutil-1 apr-1
  expat sqlite3 z)

add_library(korvane_svn_libraries INTERFACE)
target_include_directories(korvane_svn_libraries SYSTEM INTERFACE
  "${KORVANE_WINDOWS_DEPS}/include/subversion-1"
  "${KORVANE_WINDOWS_DEPS}/include/apr-1")
# APR's and Subversion's headers test WIN32, which gcc does not define in
# strict C++20 mode (only _WIN32); the libraries were built with it, and the
# structures and error mappings in the headers must match them. The
# *_DECLARE_STATIC macros drop the dllimport from the declarations.
target_compile_definitions(korvane_svn_libraries INTERFACE
  WIN32 APR_DECLARE_STATIC APU_DECLARE_STATIC)
# The Windows libraries after the static ones. kernel32, user32 and msvcrt
# come by default; advapi32 and shell32 too, but APR needs them (registry,
# security, shell folders), so they are named. Beyond those: ws2_32 and
# mswsock (APR sockets), rpcrt4 (UuidCreate), ole32 and uuid (Subversion's
# character-set conversion through MLang), version (Subversion's system info),
# crypt32 (the DPAPI and certificate-chain calls of Subversion's Windows
# credential providers, which libsvn_subr's credential code reaches).
set(_korvane_windows_system_libraries ws2_32 mswsock rpcrt4 ole32 uuid version crypt32 advapi32 shell32)
target_link_libraries(korvane_svn_libraries INTERFACE
  ${_korvane_windows_lib_paths} ${_korvane_windows_system_libraries})

# The daemon's libraries. Each loader (libsvn_ra, libsvn_fs) comes before the
# back ends it links: ra_local, then the repository and filesystem under it;
# ra_serf, then serf and OpenSSL. The libraries they use (libsvn_subr, APR,
# zlib and the system's) are named again after them: a program that links
# korvane_svn_libraries earlier gets that target's list once only, before
# these. OpenSSL reaches Windows' sockets (ws2_32), the system certificate
# store and CryptoAPI (crypt32, advapi32) and the window-station check of
# its error output (user32).
korvane_windows_static_libraries(_korvane_windows_daemon_lib_paths
  svn_client-1 svn_ra-1 svn_ra_local-1 svn_ra_svn-1 svn_ra_serf-1
  svn_repos-1 svn_fs-1 svn_fs_fs-1 svn_fs_x-1 svn_fs_util-1
  serf-1 ssl crypto)
add_library(korvane_daemon_svn_libraries INTERFACE)
target_link_libraries(korvane_daemon_svn_libraries INTERFACE
  ${_korvane_windows_daemon_lib_paths} korvane_svn_libraries
  ${_korvane_windows_lib_paths} ${_korvane_windows_system_libraries} user32)

unset(_korvane_windows_lib_paths)
unset(_korvane_windows_daemon_lib_paths)
unset(_korvane_windows_system_libraries)

# utf8proc for the rules of names, built into the same prefix from Debian's
# source (a static library with undecorated exports).
korvane_windows_static_libraries(_korvane_windows_utf8proc utf8proc)
add_library(korvane_utf8proc INTERFACE)
target_include_directories(korvane_utf8proc SYSTEM INTERFACE "${KORVANE_WINDOWS_DEPS}/include")
target_compile_definitions(korvane_utf8proc INTERFACE UTF8PROC_STATIC)
target_link_libraries(korvane_utf8proc INTERFACE ${_korvane_windows_utf8proc})
unset(_korvane_windows_utf8proc)

# nlohmann/json is headers only: Debian's, seen through a folder that holds
# nothing but a link to them, so that no other Linux header is found.
find_path(KORVANE_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_korvane_json_view ${PROJECT_BINARY_DIR}/windows_headers/nlohmann_json)
file(MAKE_DIRECTORY ${_korvane_json_view})
if(NOT EXISTS ${_korvane_json_view}/nlohmann)
  file(CREATE_LINK ${KORVANE_NLOHMANN_JSON_DIR}/nlohmann ${_korvane_json_view}/nlohmann SYMBOLIC)
endif()
add_library(korvane_nlohmann_json INTERFACE)
target_include_directories(korvane_nlohmann_json SYSTEM INTERFACE ${_korvane_json_view})
unset(_korvane_json_view)
