# SPDX-License-Identifier: MIT
# The two commands of the README, and the steps they are made of.

BUILD ?= build
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test deps build check-format unit-tests fuzz bench clean

run: build
	$(BUILD)/src/tandrel

test: build check-format unit-tests fuzz

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD)
	@# Newly installed plugins make GStreamer rebuild its registry on first use; do it here
	@# rather than inside the first timed open of a test.
	gst-inspect-1.0 >/dev/null 2>&1 || true

check-format: deps
	scripts/check-format

unit-tests: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j2

# The shortcut reader under libFuzzer, with address and undefined-behaviour checks.
fuzz: deps
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD)
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure --no-tests=error

bench: build
	$(MAKE) -C bench BUILD=$(abspath $(BUILD))

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
