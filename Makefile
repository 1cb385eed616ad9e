# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 4)
BUILD := build
CMAKE_FLAGS ?=

.PHONY: all deps deps-run build build-run run test test-noqt test-asan check-macos bench fuzz clean

all: build

# `make run` installs what building and running need; everything else
# (`make build`, `make test`, ...) the test tools as well.
deps:
	@./scripts/install-deps.sh test

deps-run:
	@./scripts/install-deps.sh run

# With the tests: configured again when an earlier `make run` left them out.
build: deps
	@grep -q '^VM_TESTS:STRING=ON$$' $(BUILD)/CMakeCache.txt 2>/dev/null && [ -f $(BUILD)/build.ninja ] || \
	  cmake -S . -B $(BUILD) -G Ninja -DVM_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The program and the stand-in host; the tests too where GoogleTest is
# installed (VM_TESTS=AUTO).
build-run: deps-run
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build-run
	@./scripts/run.sh $(BUILD)

# Every test: the full build (Qt backend, window tests under Xvfb), the
# macOS compile check, the headless-only build (proves nothing but the
# backend needs Qt) and the sanitizer build.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300
	$(MAKE) check-macos
	$(MAKE) test-noqt
	$(MAKE) test-asan
	$(MAKE) fuzz FUZZ_SECONDS=30

test-noqt: deps
	cmake -S . -B build-noqt -G Ninja -DVM_WITH_QT=OFF -DVM_TESTS=ON -DVM_BENCH=OFF
	cmake --build build-noqt -j $(JOBS)
	cd build-noqt && ctest --output-on-failure -j $(JOBS) --timeout 300

test-asan: deps
	cmake -S . -B build-asan -G Ninja -DVM_SANITIZE=ON -DVM_TESTS=ON -DVM_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# Everything outside the Qt backend compiles for x86_64 and arm64 macOS
# (installs the pinned Zig toolchain from npm on first use).
check-macos:
	@./scripts/check-macos.sh

# The fuzz targets, each for FUZZ_SECONDS (default 30), in build-fuzz.
fuzz: deps
	@./scripts/fuzz.sh $(FUZZ_SECONDS)

bench: build
	@./scripts/bench.sh $(BUILD)

clean:
	rm -rf build build-noqt build-asan build-fuzz
