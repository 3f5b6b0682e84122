# Last step of the installation (run by `cmake --install`, after every file
# rule). Expects the TARNWICK_* variables set just before it by
# TarnwickInstall.cmake.
cmake_policy(VERSION 3.24)
#
# - writes the desktop entry, whose Exec names the installed program;
# - creates data/ beside the program unless it exists (an existing data/ and
#   the settings in it are never touched);
# - removes what an earlier installation put here and this one no longer has;
# - records the installed files in <appdir>/installed-files.txt, which
#   TarnwickUninstall.cmake reads (so uninstalling needs no build folder);
# - gives the installed echo helper its right to send echo requests;
# - points this user's start-with-the-system entry at the installed program.

set(destdir "$ENV{DESTDIR}")
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(appdir "${prefix}/${TARNWICK_INSTALL_APPDIR}")
set(program "${appdir}/tarnwick")
set(list_name "installed-files.txt")

include("${TARNWICK_SOURCE_DIR}/cmake/TarnwickAutostart.cmake")
tarnwick_exec_value("${program}" TARNWICK_DESKTOP_EXEC)
set(entry "${TARNWICK_STAGING_DIR}/applications/${TARNWICK_APP_ID}.desktop")
configure_file("${TARNWICK_SOURCE_DIR}/resources/desktop/tarnwick.desktop.in" "${entry}" @ONLY)
file(INSTALL DESTINATION "${prefix}/${TARNWICK_INSTALL_DATAROOTDIR}/applications"
  TYPE FILE FILES "${entry}")

if(NOT EXISTS "${destdir}${appdir}/data")
  file(MAKE_DIRECTORY "${destdir}${appdir}/data")
  message(STATUS "Created the settings folder: ${appdir}/data")
else()
  message(STATUS "Kept the settings folder as it is: ${appdir}/data")
endif()

# The files of this installation, relative to the prefix.
set(root "${destdir}${prefix}/")
set(installed "${TARNWICK_INSTALL_APPDIR}/${list_name}")
foreach(f IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  string(FIND "${f}" "${root}" at)
  if(at EQUAL 0)
    string(LENGTH "${root}" n)
    string(SUBSTRING "${f}" ${n} -1 rel)
    list(APPEND installed "${rel}")
  endif()
endforeach()
list(REMOVE_DUPLICATES installed)

# Files of an earlier installation that this one no longer has. Nothing in
# data/ is ever removed, whatever the old list says.
set(old_list "${destdir}${appdir}/${list_name}")
if(EXISTS "${old_list}")
  file(STRINGS "${old_list}" previous)
  set(stale 0)
  foreach(rel IN LISTS previous)
    if(rel STREQUAL "" OR IS_ABSOLUTE "${rel}" OR rel MATCHES "(^|/)\\.\\.(/|$)"
       OR rel MATCHES "^${TARNWICK_INSTALL_APPDIR}/data(/|$)")
      continue()
    endif()
    list(FIND installed "${rel}" i)
    if(i EQUAL -1 AND (EXISTS "${root}${rel}" OR IS_SYMLINK "${root}${rel}")
       AND NOT IS_DIRECTORY "${root}${rel}")
      file(REMOVE "${root}${rel}")
      math(EXPR stale "${stale} + 1")
    endif()
  endforeach()
  if(stale GREATER 0)
    message(STATUS "Removed ${stale} file(s) of the earlier installation that this one no longer has")
  endif()
endif()
list(JOIN installed "\n" text)
file(WRITE "${destdir}${appdir}/${list_name}" "${text}\n")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destdir}${appdir}/${list_name}")

# The right to send echo requests goes to the installed helper itself (a copy
# never keeps a file capability). A staged installation (DESTDIR) is not the
# final place, so nothing is granted there.
if(TARNWICK_INSTALL_GRANT_ECHO AND destdir STREQUAL "")
  execute_process(COMMAND sh "${TARNWICK_SOURCE_DIR}/scripts/grant-echo.sh"
    "${appdir}/tarnwick-icmp-helper" RESULT_VARIABLE granted)
  if(NOT granted EQUAL 0)
    message(STATUS "Tarnwick is installed all the same; it will tell you when it cannot ping.")
  endif()
endif()

if(destdir STREQUAL "")
  # An entry written by a build's program would go on starting that one.
  tarnwick_autostart_repoint("${program}")
  message(STATUS "Tarnwick ${TARNWICK_VERSION} installed in ${appdir}")
  message(STATUS "Start it from the desktop's menu (Network) or with ${prefix}/${TARNWICK_INSTALL_BINDIR}/tarnwick")
  set(bin "${prefix}/${TARNWICK_INSTALL_BINDIR}")
  string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
  list(FIND path_dirs "${bin}" on_path)
  if(on_path EQUAL -1)
    if(bin STREQUAL "$ENV{HOME}/.local/bin")
      message(STATUS "${bin} is not on your PATH yet; Debian adds it at your next login, now that it exists")
    else()
      message(STATUS "${bin} is not on your PATH; add it there to start Tarnwick by name")
    endif()
  endif()
endif()
