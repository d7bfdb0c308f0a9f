# What `cmake --install` puts where: the library with its soname links, the
# public header, a pkg-config file and a CMake package (Korvane::korvane),
# the korvane tool with its bash completion and manual page, and the daemon
# program in the library's folder, where the library looks for it.
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
  # The tool. It carries the library's code within itself (see tools/korvane),
  # so that code looks for the daemon beside the tool's own file, symbolic links
  # followed. Its file therefore lives in the library's folder, beside the
  # daemon, and BINDIR/korvane is a relative symbolic link to it: the installed
  # tree can be moved whole, and a DESTDIR staging keeps the link right.
  install(TARGETS korvane_cli RUNTIME DESTINATION ${KORVANE_INSTALL_LIBRARY_FOLDER})
  if(NOT WIN32)
    foreach(folder BINDIR LIBRARY_FOLDER)
      if(folder STREQUAL "BINDIR")
        set(korvane_tool_folder "${CMAKE_INSTALL_BINDIR}")
      else()
        set(korvane_tool_folder "${KORVANE_INSTALL_LIBRARY_FOLDER}")
      endif()
      if(IS_ABSOLUTE "${korvane_tool_folder}")
        set(korvane_tool_${folder} "${korvane_tool_folder}")
      else()
        set(korvane_tool_${folder} "\${CMAKE_INSTALL_PREFIX}/${korvane_tool_folder}")
      endif()
    endforeach()
    string(CONFIGURE [[
      set(korvane_link_folder "@korvane_tool_BINDIR@")
      set(korvane_tool_file "@korvane_tool_LIBRARY_FOLDER@/$<TARGET_FILE_NAME:korvane_cli>")
      file(RELATIVE_PATH korvane_link_target "${korvane_link_folder}" "${korvane_tool_file}")
      set(korvane_link "$ENV{DESTDIR}${korvane_link_folder}/$<TARGET_FILE_NAME:korvane_cli>")
      message(STATUS "Installing: ${korvane_link} -> ${korvane_link_target}")
      file(MAKE_DIRECTORY "$ENV{DESTDIR}${korvane_link_folder}")
      file(REMOVE "${korvane_link}")
      file(CREATE_LINK "${korvane_link_target}" "${korvane_link}" SYMBOLIC)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${korvane_link}")
    ]] korvane_tool_link_code @ONLY)
    install(CODE "${korvane_tool_link_code}")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/tools/korvane/completion/korvane.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvane)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/korvane/man/korvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The daemon program, when the tree builds one. The test daemon, which
# shares its file name, is never installed.
if(TARGET korvane_reference_daemon)
  install(TARGETS korvane_reference_daemon RUNTIME DESTINATION ${KORVANE_INSTALL_LIBRARY_FOLDER})
endif()
