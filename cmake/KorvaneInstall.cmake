# What `cmake --install` puts where: the library with its soname links (on
# Linux beside it the stand-in for the system DLLs, libkorvane-win32.so.1),
# the public header, a pkg-config file and a CMake package
# (Korvane::korvane), the korvane tool with its bash completion and manual
# page, and the daemon program in the library's folder, where the library
# looks for it.
# Included last, once every target of the tree is known.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korvane)
# The library's folder: beside it the library finds its daemon.
if(WIN32)
  set(KORVANE_INSTALL_LIBRARY_FOLDER ${CMAKE_INSTALL_BINDIR})
else()
  set(KORVANE_INSTALL_LIBRARY_FOLDER ${CMAKE_INSTALL_LIBDIR})
endif()

if(NOT WIN32)
  # What the library and the tool call for the system's part; never linked
  # by users, so it has no development link of its own.
  install(TARGETS korvane_platform EXPORT KorvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
endif()
install(TARGETS korvane EXPORT KorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/korvane/korvane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvane)

# find_package(Korvane): the imported target Korvane::korvane and the version.
install(EXPORT KorvaneTargets NAMESPACE Korvane:: DESTINATION ${KORVANE_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KorvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KorvaneConfig.cmake INSTALL_DESTINATION ${KORVANE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KorvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KorvaneConfig.cmake ${PROJECT_BINARY_DIR}/KorvaneConfigVersion.cmake
  DESTINATION ${KORVANE_INSTALL_CMAKEDIR})

# korvane.pc names the prefix given to `cmake --install --prefix`, so it is
# written when installing, not when configuring.
foreach(folder LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${folder}}")
    set(korvane_pc_${folder} "${CMAKE_INSTALL_${folder}}")
    set(korvane_pc_${folder}_target "${CMAKE_INSTALL_${folder}}")
  else()
    set(korvane_pc_${folder} "\${prefix}/${CMAKE_INSTALL_${folder}}")
    set(korvane_pc_${folder}_target "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_${folder}}")
  endif()
endforeach()
string(CONFIGURE [[
  set(KORVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KORVANE_PC_LIBDIR [=[@korvane_pc_LIBDIR@]=])
  set(KORVANE_PC_INCLUDEDIR [=[@korvane_pc_INCLUDEDIR@]=])
  set(KORVANE_PC_VERSION "@PROJECT_VERSION@")
  configure_file("@PROJECT_SOURCE_DIR@/cmake/korvane.pc.in" "@PROJECT_BINARY_DIR@/korvane.pc" @ONLY)
  file(INSTALL "@PROJECT_BINARY_DIR@/korvane.pc" DESTINATION "@korvane_pc_LIBDIR_target@/pkgconfig")
]] korvane_pc_install_code @ONLY)
install(CODE "${korvane_pc_install_code}")

if(TARGET korvane_cli)
  # The tool is a program on the shipped library, which finds its daemon
  # beside its own file; the tool finds the library through its run path.
  install(TARGETS korvane_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/korvane/completion/korvane.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvane)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/korvane/man/korvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The daemon program, when the tree builds one. The scripted daemon, which
# shares its file name, is never installed.
if(TARGET korvane_reference_daemon)
  install(TARGETS korvane_reference_daemon RUNTIME DESTINATION ${KORVANE_INSTALL_LIBRARY_FOLDER})
endif()
