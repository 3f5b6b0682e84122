# TARNWICK_SANITIZE builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer (make test-sanitize). Any finding ends the
# process that makes it, so the test that ran it fails. Built with clang, the
# fuzz targets in tests/fuzz get libFuzzer as well (TARNWICK_FUZZ).
option(TARNWICK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(TARNWICK_FUZZ OFF)
if(TARNWICK_SANITIZE)
  set(sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_compile_options(${sanitize_flags})
  add_link_options(${sanitize_flags})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(TARNWICK_FUZZ ON)
  endif()
  # What every test runs with; the leaks listed are the libraries' own.
  set(asan detect_stack_use_after_return=1:check_initialization_order=1)
  set(TARNWICK_SANITIZE_ENV
    "ASAN_OPTIONS=detect_leaks=1:${asan}"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  # These run the program under strace, where no leak check can work.
  set(TARNWICK_SANITIZE_TRACED_TESTS e2e_main_window install_test)
  set(TARNWICK_SANITIZE_TRACED_ENV "ASAN_OPTIONS=detect_leaks=0:${asan}")
endif()
