# The two commands a newcomer needs: `make run` and `make test`; then
# `make install` for daily use.
BUILD_DIR ?= build
CMAKE_FLAGS ?=
# A folder of the user's own: the settings live in data/ beside the program.
PREFIX ?= $(HOME)/.local
ifeq ($(CI),true)
CMAKE_FLAGS += -DTARNWICK_WERROR=ON
endif

.PHONY: run test bench build deps deps-test deps-bench install uninstall clean format format-check

# Starts the program even when echo requests cannot be allowed: the script
# has said what to do, and the program tells the user again.
run: build
	./scripts/grant-echo.sh $(BUILD_DIR)/tarnwick-icmp-helper || true
	$(BUILD_DIR)/tarnwick

test: deps-test build
	ctest --test-dir $(BUILD_DIR) --output-on-failure $(CTEST_FLAGS)

# Prints what echoes cost next to ping and fping, inside a private network
# (root): BENCH_SECONDS per subject of the idle benchmark (default 120),
# BENCH_BEFORE another build folder to compare with.
BENCH_SECONDS ?= 120
BENCH_BEFORE ?=
bench: deps-bench build
	./bench/echo/run.sh $(BUILD_DIR)
	./bench/idle/run.sh $(BENCH_SECONDS) $(BUILD_DIR) $(BENCH_BEFORE)

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)

deps:
	./scripts/install-deps.sh build

deps-test:
	./scripts/install-deps.sh build test

deps-bench:
	./scripts/install-deps.sh build test bench

# Installs into $(PREFIX)/lib/tarnwick with a link in $(PREFIX)/bin, a menu
# entry, the icon and AppStream metadata; an existing data/ is kept.
install: build
	cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# Removes what `make install` put into $(PREFIX), all but data/.
uninstall:
	cmake -DPREFIX="$(PREFIX)" -P cmake/TarnwickUninstall.cmake

# Build outputs go; the settings in $(BUILD_DIR)/data stay.
clean:
	@if [ -e "$(BUILD_DIR)/CMakeLists.txt" ]; then \
	  echo "$(BUILD_DIR) holds sources, not a build; nothing removed" >&2; exit 1; \
	fi
	@if [ -d "$(BUILD_DIR)" ]; then \
	  find "$(BUILD_DIR)" -mindepth 1 -maxdepth 1 ! -name data -exec rm -rf {} +; \
	  if [ -d "$(BUILD_DIR)/data" ]; then echo "Kept your settings in $(BUILD_DIR)/data"; fi; \
	fi

# The sources as clang-format writes them; CI refuses any difference.
format-check:
	./scripts/install-deps.sh lint
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

format:
	./scripts/install-deps.sh lint
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

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
