# What the build adds beside the program (the offline help page, the icon in
# the sizes of the icon theme, the desktop entry and AppStream metadata) and
# the rules that install it all.
#
# The installation is one folder of the user's own: the program finds its
# settings in data/ beside the real executable, so the folder must be
# writable by the user who runs it. The default prefix of `make install` is
# therefore ~/.local, giving ~/.local/lib/tarnwick with a link in ~/.local/bin.
include(GNUInstallDirs)

set(TARNWICK_APP_ID "example.orlvane.Tarnwick" CACHE STRING
  "AppStream id; names the desktop entry, the metadata and the icon")
set(TARNWICK_HOMEPAGE "https://www.orlvane.example/tarnwick/" CACHE STRING
  "The utility's web page, named in the AppStream metadata")
set(TARNWICK_RELEASE_DATE "2026-12-08")
set(TARNWICK_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TARNWICK_INSTALL_APPDIR "${CMAKE_INSTALL_LIBDIR}/tarnwick")

# --- The offline help page: build/help, as it is installed. -----------------
set(help_dir ${CMAKE_BINARY_DIR}/help)
set(help_pictures
  ${PROJECT_SOURCE_DIR}/resources/pictures/status_ok.svg
  ${PROJECT_SOURCE_DIR}/resources/pictures/status_some.svg
  ${PROJECT_SOURCE_DIR}/resources/pictures/status_many.svg
  ${PROJECT_SOURCE_DIR}/resources/pictures/status_all.svg
  ${PROJECT_SOURCE_DIR}/resources/pictures/tarnwick.svg
  ${PROJECT_SOURCE_DIR}/docs/screenshots/main-window.png)
set(help_outputs ${help_dir}/index.html)
foreach(p IN LISTS help_pictures)
  get_filename_component(n ${p} NAME)
  list(APPEND help_outputs ${help_dir}/pictures/${n})
endforeach()
add_custom_command(OUTPUT ${help_outputs}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${help_dir}/pictures
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${help_pictures} ${help_dir}/pictures
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/docs/help/index.html
    ${help_dir}/index.html
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/index.html ${help_pictures}
  COMMENT "Help page")
add_custom_target(tarnwick_help ALL DEPENDS ${help_outputs})

# --- The icon as bitmaps of the theme's sizes, drawn from the vector source.
add_executable(tarnwick-render-icon ${PROJECT_SOURCE_DIR}/resources/desktop/render_icon.cpp)
target_link_libraries(tarnwick-render-icon PRIVATE Qt6::Gui Qt6::Svg project_warnings)
set(icon_source ${PROJECT_SOURCE_DIR}/resources/pictures/tarnwick.svg)
set(icon_theme ${CMAKE_BINARY_DIR}/icons/hicolor)
set(icon_outputs)
foreach(s IN LISTS TARNWICK_ICON_SIZES)
  list(APPEND icon_outputs ${icon_theme}/${s}x${s}/apps/${TARNWICK_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${icon_outputs}
  COMMAND tarnwick-render-icon ${icon_source} ${icon_theme} ${TARNWICK_APP_ID}
    ${TARNWICK_ICON_SIZES}
  DEPENDS tarnwick-render-icon ${icon_source}
  COMMENT "Program icon at ${TARNWICK_ICON_SIZES} pixels")
add_custom_target(tarnwick_icons ALL DEPENDS ${icon_outputs})

# --- AppStream metadata (independent of the prefix). -------------------------
set(metainfo ${CMAKE_BINARY_DIR}/desktop/${TARNWICK_APP_ID}.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/tarnwick.metainfo.xml.in ${metainfo} @ONLY)

# The link in bin is relative, so the installed tree can be moved as a whole.
file(RELATIVE_PATH link_target "/prefix/${CMAKE_INSTALL_BINDIR}"
  "/prefix/${TARNWICK_INSTALL_APPDIR}/tarnwick")
set(link_dir ${CMAKE_BINARY_DIR}/desktop/bin)
file(MAKE_DIRECTORY ${link_dir})
file(CREATE_LINK ${link_target} ${link_dir}/tarnwick SYMBOLIC)

# --- Install rules. -----------------------------------------------------------
install(TARGETS tarnwick tarnwick-icmp-helper RUNTIME DESTINATION ${TARNWICK_INSTALL_APPDIR})
install(DIRECTORY ${help_dir}/ DESTINATION ${TARNWICK_INSTALL_APPDIR}/help)
install(FILES ${link_dir}/tarnwick DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${icon_source} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
  RENAME ${TARNWICK_APP_ID}.svg)
install(DIRECTORY ${icon_theme} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons)
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

option(TARNWICK_INSTALL_GRANT_ECHO
  "Let the installed echo helper send echo requests (scripts/grant-echo.sh)" ON)
# The desktop entry (which names the installed program), the data folder,
# the echo right and the list of installed files depend on the prefix given
# at install time; they are made by a script that runs after everything else.
install(CODE "
set(TARNWICK_APP_ID \"${TARNWICK_APP_ID}\")
set(TARNWICK_VERSION \"${PROJECT_VERSION}\")
set(TARNWICK_INSTALL_APPDIR \"${TARNWICK_INSTALL_APPDIR}\")
set(TARNWICK_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(TARNWICK_INSTALL_DATAROOTDIR \"${CMAKE_INSTALL_DATAROOTDIR}\")
set(TARNWICK_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
set(TARNWICK_STAGING_DIR \"${CMAKE_BINARY_DIR}/desktop\")
set(TARNWICK_INSTALL_GRANT_ECHO \"${TARNWICK_INSTALL_GRANT_ECHO}\")
")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/TarnwickInstallSteps.cmake)
