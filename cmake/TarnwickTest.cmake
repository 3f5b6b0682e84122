# tarnwick_add_test(<name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [NETNS] [X11]
#                   [ENV VAR=VALUE ...] [EXE <test target to run again>])
# Every test runs isolated from the real user: a fresh temporary HOME and XDG
# folders (tests/support/run-isolated.sh). NETNS tests run inside the private
# network rig; X11 tests get their own Xvfb display.
function(tarnwick_add_test name)
  cmake_parse_arguments(T "NETNS;X11;NO_EXE" "TIMEOUT;EXE" "SOURCES;LIBS;LABELS;ARGS;ENV" ${ARGN})
  if(T_EXE)
    # Another run of a test program built already, told apart by ENV.
    set(cmd $<TARGET_FILE:${T_EXE}>)
  elseif(NOT T_NO_EXE)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} tarnwick_test_support Qt6::Test project_warnings)
    set(cmd $<TARGET_FILE:${name}>)
  else()
    set(cmd)
  endif()
  set(wrap ${PROJECT_SOURCE_DIR}/tests/support/run-isolated.sh)
  set(labels ${T_LABELS})
  if(T_NETNS)
    list(PREPEND cmd ${PROJECT_SOURCE_DIR}/tests/rig/rig.sh)
    list(APPEND labels netns)
  endif()
  if(T_X11)
    list(PREPEND cmd ${PROJECT_SOURCE_DIR}/tests/support/with-xvfb.sh)
    list(APPEND labels x11)
  endif()
  add_test(NAME ${name} COMMAND ${wrap} ${cmd} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(env TARNWICK_BUILD_DIR=${CMAKE_BINARY_DIR} TARNWICK_SOURCE_DIR=${PROJECT_SOURCE_DIR}
    ${TARNWICK_SANITIZE_ENV} ${T_ENV})
  if(name IN_LIST TARNWICK_SANITIZE_TRACED_TESTS)
    list(APPEND env ${TARNWICK_SANITIZE_TRACED_ENV})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  if(labels)
    set_tests_properties(${name} PROPERTIES LABELS "${labels}")
  endif()
  # 77: a test that needs what this machine lacks (root, a namespace) skips;
  # under CI=true the same tests fail instead.
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

# Tells a rig test where the echo helper and the rig's echo client are.
function(tarnwick_rig_paths target)
  target_compile_definitions(${target} PRIVATE
    TARNWICK_ICMP_HELPER_PATH="$<TARGET_FILE:tarnwick-icmp-helper>"
    TARNWICK_RIG_ECHO_CLIENT_PATH="$<TARGET_FILE:tarnwick-rig-echo-client>")
  add_dependencies(${target} tarnwick-icmp-helper tarnwick-rig-echo-client)
endfunction()
