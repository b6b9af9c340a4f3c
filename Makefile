# make run: set up, build and start the program.  make test: set up, build and run every test.
BUILD_DIR ?= build/release
JOBS ?= 2
export BUILD_DIR JOBS

.PHONY: all deps configure build run test clean

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

clean:
	rm -rf $(BUILD_DIR)
