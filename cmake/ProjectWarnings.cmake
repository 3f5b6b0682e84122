add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast
  $<$<BOOL:${TARNWICK_WERROR}>:-Werror>)
# IDEs list moc's and uic's output apart from our sources.
set_property(GLOBAL PROPERTY AUTOGEN_SOURCE_GROUP "Generated")
