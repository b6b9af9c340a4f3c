# make run: set up, build and start the program.  make test: set up, build and run every test.
# make windows: cross-build the program for Windows (ferrowalk.exe) with MinGW-w64.
BUILD_DIR ?= build/release
WINDOWS_BUILD_DIR ?= build/windows
JOBS ?= 2
export BUILD_DIR JOBS

.PHONY: all deps configure build run test test-sanitized windows clean

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

windows: deps
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
	cmake --build $(WINDOWS_BUILD_DIR) -j$(JOBS)
	@echo "windows: $(WINDOWS_BUILD_DIR)/app/ferrowalk.exe"

clean:
	rm -rf $(BUILD_DIR) $(WINDOWS_BUILD_DIR) $(SANITIZED_DIR)
