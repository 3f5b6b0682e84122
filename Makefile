# The two commands a newcomer needs: `make run` and `make test`; then
# `make install` for daily use.
#
# Each kind of build has a folder of its own, so that switching between them
# never rebuilds everything:
#   $(BUILD_DIR)       the program and its echo helper, optimised (make run,
#                      make install); its settings live in $(BUILD_DIR)/data
#   $(TEST_BUILD_DIR)  the program, the tests and the benchmarks (make test,
#                      make bench)
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-tests
# Every build folder, for make clean; a new kind of build adds its own.
BUILD_DIRS = $(BUILD_DIR) $(TEST_BUILD_DIR) $(SANITIZE_DIR)
CMAKE_FLAGS ?=
# A folder of the user's own: the settings live in data/ beside the program.
PREFIX ?= $(HOME)/.local
ifeq ($(CI),true)
CMAKE_FLAGS += -DTARNWICK_WERROR=ON
endif

# What the program needs to run from its build folder: itself, the echo
# helper it starts, the data folder and the offline help page.
RUN_TARGETS = tarnwick tarnwick-icmp-helper tarnwick_data_dir tarnwick_help
RUN_OPTIONS = -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTARNWICK_BENCH=OFF
TEST_OPTIONS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DTARNWICK_BENCH=ON

# $(call cmake_build,<folder>,<cmake options>,<targets, or empty for all>)
# Configures the folder (quickly, when nothing changed) and builds in it.
define cmake_build
	cmake -S . -B $(1) -G Ninja $(2) $(CMAKE_FLAGS)
	cmake --build $(1) $(if $(3),--target $(3))
endef

.PHONY: run test bench build build-tests deps deps-test deps-bench install uninstall clean \
	format format-check

# Starts the program even when echo requests cannot be allowed: the script
# has said what to do, and the program tells the user again. A rebuilt
# helper has lost its right, so it is granted again at every run.
run: build
	./scripts/grant-echo.sh $(BUILD_DIR)/tarnwick-icmp-helper || true
	$(BUILD_DIR)/tarnwick

test: deps-test build-tests
	ctest --test-dir $(TEST_BUILD_DIR) --output-on-failure $(CTEST_FLAGS)

# Prints what echoes cost next to ping and fping, inside a private network
# (root): BENCH_SECONDS per subject of the idle benchmark (default 120),
# BENCH_BEFORE another build folder to compare with.
BENCH_SECONDS ?= 120
BENCH_BEFORE ?=
bench: deps-bench build-tests
	./bench/echo/run.sh $(TEST_BUILD_DIR)
	./bench/idle/run.sh $(BENCH_SECONDS) $(TEST_BUILD_DIR) $(BENCH_BEFORE)

build: deps
	$(call cmake_build,$(BUILD_DIR),$(RUN_OPTIONS),$(RUN_TARGETS))

build-tests: deps-test
	$(call cmake_build,$(TEST_BUILD_DIR),$(TEST_OPTIONS),)

deps:
	./scripts/install-deps.sh build

deps-test:
	./scripts/install-deps.sh build test

deps-bench:
	./scripts/install-deps.sh build test bench

# Installs stripped binaries into $(PREFIX)/lib/tarnwick with a link in
# $(PREFIX)/bin, a menu entry, the icon and AppStream metadata; an existing
# data/ is kept, and a start-with-the-system entry of this user is pointed at
# the installed program.
install: deps
	$(call cmake_build,$(BUILD_DIR),$(RUN_OPTIONS),)
	cmake --install $(BUILD_DIR) --strip --prefix "$(PREFIX)"

# Removes what `make install` put into $(PREFIX), all but data/.
uninstall:
	cmake -DPREFIX="$(PREFIX)" -P cmake/TarnwickUninstall.cmake

# Build outputs go; the settings in each build's data/ stay. A
# start-with-the-system entry that starts a program removed here goes too.
clean:
	@for dir in $(BUILD_DIRS); do \
	  if [ -e "$$dir/CMakeLists.txt" ]; then \
	    echo "$$dir holds sources, not a build; nothing removed" >&2; exit 1; \
	  fi; \
	done
	@for dir in $(BUILD_DIRS); do \
	  [ -d "$$dir" ] || continue; \
	  cmake -DACTION=forget -DPROGRAM="$$dir/tarnwick" -P cmake/TarnwickAutostart.cmake || exit 1; \
	  find "$$dir" -mindepth 1 -maxdepth 1 ! -name data -exec rm -rf {} +; \
	  if [ -d "$$dir/data" ]; then echo "Kept your settings in $$dir/data"; fi; \
	done

# The sources as clang-format writes them; CI refuses any difference.
format-check:
	./scripts/install-deps.sh lint
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

format:
	./scripts/install-deps.sh lint
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# clang-tidy with the rules of .clang-tidy over our sources, on the test
# build's compile commands (it needs the generated moc files too).
.PHONY: lint
lint: build-tests
	./scripts/install-deps.sh lint
	run-clang-tidy -p $(TEST_BUILD_DIR) -j$$(nproc) -quiet '$(CURDIR)/(src|tests|bench)/.*\.cpp$$'

# The suite again with AddressSanitizer and UndefinedBehaviorSanitizer, in a
# build of its own, with clang (then the fuzz targets in tests/fuzz run
# FUZZ_SECONDS each, after the tests). Any finding fails its test; the leaks
# of the libraries underneath are listed in cmake/lsan.supp.
SANITIZE_DIR ?= build-sanitize
FUZZ_SECONDS ?= 20
.PHONY: test-sanitize
test-sanitize:
	./scripts/install-deps.sh build test sanitize
	CC=$$(command -v clang || echo cc) CXX=$$(command -v clang++ || echo c++) \
	  cmake -S . -B $(SANITIZE_DIR) -G Ninja -DTARNWICK_SANITIZE=ON \
	  -DTARNWICK_BENCH=OFF -DTARNWICK_FUZZ_SECONDS=$(FUZZ_SECONDS) $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -LE fuzz $(CTEST_FLAGS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -L fuzz -j2
