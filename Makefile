# The suite's two commands: `make run` and `make test` (both install what they need first).
BUILD   ?= build
BUILD32 ?= build-i686
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps build build32 test run clean bench

all: build

deps:
	@tools/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# Every program must also build for 32-bit Windows.
build32: deps
	cmake -S . -B $(BUILD32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTOVRA_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD32) -j $(JOBS)

test: build build32
	tools/test.sh $(BUILD)

run: build
	tools/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD32)

# Benchmarks (speed goals), reported as ratios against a baseline of the same run.
bench: build
	tools/bench.sh $(BUILD)
