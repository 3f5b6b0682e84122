# tarnwick_library(<name> [PLAIN] SOURCES ... [PUBLIC libs...] [PRIVATE libs...])
# One static library of a layer. src/ is the only include root, so every
# include names its layer ("engine/slot_stats.h"). PLAIN marks code without
# Qt, which needs none of Qt's code generators.
function(tarnwick_library name)
  cmake_parse_arguments(L "PLAIN" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_PUBLIC} PRIVATE project_warnings ${L_PRIVATE})
  if(L_PLAIN)
    tarnwick_plain_cxx(${name})
  endif()
endfunction()

# A target of plain C++: no moc, uic or rcc runs for it.
function(tarnwick_plain_cxx target)
  set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endfunction()
