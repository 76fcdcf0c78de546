# SPDX-License-Identifier: MIT
# The two commands of the README, and the steps they are made of.

BUILD ?= build
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: run test deps build check-format unit-tests fuzz bench clean
.PHONY: check-data install package soak

run: build
	$(BUILD)/src/tandrel

test: build check-format check-data unit-tests fuzz

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

# Half an hour of play, bar clicks and pauses on a private desktop; fails if the program's
# memory grows by more than 5 MB. Not part of `test`.
SOAK_MINUTES ?= 30
soak: build
	$(BUILD)/tests/e2e/tandrel_soak --minutes $(SOAK_MINUTES)

bench: build
	$(MAKE) -C bench BUILD=$(abspath $(BUILD))

# The menu entry and the AppStream description, checked as desktops and software centres
# read them.
check-data: build
	desktop-file-validate data/tandrel.desktop
	appstreamcli validate --no-net $(BUILD)/data/example.tandrel.Tandrel.metainfo.xml

# Installs the program, its menu entry, icons and description under $(DESTDIR)$(PREFIX).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package in this folder, for `sudo apt install ./tandrel_*.deb`.
package: build
	rm -f $(BUILD)/package/*.deb
	cpack --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	cp $(BUILD)/package/*.deb .

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
