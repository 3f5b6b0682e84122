# The two commands a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DTARNWICK_WERROR=ON
endif

.PHONY: run test build deps deps-test clean

run: build
	./scripts/grant-echo.sh $(BUILD_DIR)/tarnwick-icmp-helper
	./$(BUILD_DIR)/tarnwick

test: deps-test build
	ctest --test-dir $(BUILD_DIR) --output-on-failure $(CTEST_FLAGS)

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)

deps:
	./scripts/install-deps.sh build

deps-test:
	./scripts/install-deps.sh build test

clean:
	rm -rf $(BUILD_DIR)
