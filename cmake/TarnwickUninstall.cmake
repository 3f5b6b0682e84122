# Removes an installation of Tarnwick, all but its settings folder data/.
#   cmake -DPREFIX=<prefix> -P cmake/TarnwickUninstall.cmake
# Reads the list of installed files that the installation keeps beside the
# program, so no build folder is needed.
cmake_minimum_required(VERSION 3.24)
include("${CMAKE_CURRENT_LIST_DIR}/TarnwickAutostart.cmake")
if(NOT DEFINED PREFIX OR PREFIX STREQUAL "")
  message(FATAL_ERROR "Give the prefix of the installation: -DPREFIX=<folder>")
endif()
get_filename_component(prefix "${PREFIX}" ABSOLUTE)
set(list_name "installed-files.txt")

file(GLOB lists LIST_DIRECTORIES false
  "${prefix}/lib/tarnwick/${list_name}" "${prefix}/lib*/tarnwick/${list_name}"
  "${prefix}/lib/*/tarnwick/${list_name}")
list(REMOVE_DUPLICATES lists)
list(LENGTH lists count)
if(count EQUAL 0)
  # Nothing to remove is no failure, as with a second `make uninstall`.
  message(STATUS "No Tarnwick installation in ${prefix} (no lib/tarnwick/${list_name}); nothing to remove.")
  return()
endif()

foreach(list IN LISTS lists)
  get_filename_component(appdir "${list}" DIRECTORY)
  file(RELATIVE_PATH appdir_rel "${prefix}" "${appdir}")
  file(STRINGS "${list}" entries)
  set(removed 0)
  set(folders)
  foreach(rel IN LISTS entries)
    # Only plain paths inside the prefix, and never anything in data/.
    if(rel STREQUAL "" OR IS_ABSOLUTE "${rel}" OR rel MATCHES "(^|/)\\.\\.(/|$)"
       OR rel MATCHES "^${appdir_rel}/data(/|$)")
      continue()
    endif()
    set(f "${prefix}/${rel}")
    if((EXISTS "${f}" OR IS_SYMLINK "${f}") AND NOT IS_DIRECTORY "${f}")
      file(REMOVE "${f}")
      math(EXPR removed "${removed} + 1")
      get_filename_component(d "${f}" DIRECTORY)
      list(APPEND folders "${d}")
    endif()
  endforeach()

  # Folders of the program's own that are now empty (help/ and below); the
  # shared ones (bin, share/applications, the icon theme) stay.
  list(REMOVE_DUPLICATES folders)
  foreach(d IN LISTS folders)
    while(TRUE)
      string(FIND "${d}" "${appdir}/" at)
      if(NOT at EQUAL 0)
        break()
      endif()
      file(GLOB left "${d}/*" "${d}/.*")
      if(left)
        break()
      endif()
      file(REMOVE_RECURSE "${d}")
      get_filename_component(d "${d}" DIRECTORY)
    endwhile()
  endforeach()

  # An autostart entry that starts this very program would start a missing
  # file at every login from now on.
  tarnwick_autostart_forget("${appdir}/tarnwick")

  message(STATUS "Removed ${removed} file(s) of Tarnwick from ${prefix}")
  if(EXISTS "${appdir}/data")
    message(STATUS "Your settings stay in ${appdir}/data (config.cfg, domains.cfg); "
      "a later installation uses them again. Delete that folder yourself if you no longer need them.")
  else()
    file(GLOB left "${appdir}/*" "${appdir}/.*")
    if(NOT left)
      file(REMOVE_RECURSE "${appdir}")
    endif()
  endif()
endforeach()
