# make run: set up, build and start the program.  make test: set up, build and run every test.
BUILD_DIR ?= build/release
JOBS ?= 2
export BUILD_DIR JOBS

.PHONY: all deps configure build run test test-sanitized clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: configure
	scripts/run.sh

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)
	$(MAKE) test-sanitized

# The memory tracker's tests once more with AddressSanitizer and UBSan, where the pool keeps
# its guards and free slots poisoned.
SANITIZED_DIR ?= build/sanitized
test-sanitized: deps
	cmake -S . -B $(SANITIZED_DIR) -DFERROWALK_ASAN=ON -DFERROWALK_BENCH=OFF
	cmake --build $(SANITIZED_DIR) -j$(JOBS) --target core_tests
	$(SANITIZED_DIR)/tests/core/core_tests

clean:
	rm -rf $(BUILD_DIR)
