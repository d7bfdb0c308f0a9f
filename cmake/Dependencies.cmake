# Subversion and APR: from the system on Linux (Debian's libsvn-dev and
# libapr1-dev); on Windows the static libraries that
# scripts/build-windows-deps.sh cross-builds.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(APR REQUIRED IMPORTED_TARGET apr-1)
  find_path(SVN_INCLUDE_DIR svn_wc.h PATH_SUFFIXES subversion-1 REQUIRED)
  find_library(SVN_WC_LIBRARY svn_wc-1 REQUIRED)
  find_library(SVN_SUBR_LIBRARY svn_subr-1 REQUIRED)

  add_library(korvane_svn_libraries INTERFACE)
  target_include_directories(korvane_svn_libraries SYSTEM INTERFACE ${SVN_INCLUDE_DIR})
  target_link_libraries(korvane_svn_libraries INTERFACE ${SVN_WC_LIBRARY} ${SVN_SUBR_LIBRARY} PkgConfig::APR)
endif()

find_package(Threads REQUIRED)
