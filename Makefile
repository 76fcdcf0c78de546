# SPDX-License-Identifier: MIT
# The two commands of the README, and the steps they are made of.

BUILD ?= build
# `make run`'s build: the program alone, no tests and no benchmarks.
RUN_BUILD ?= build-run
FUZZ_BUILD ?= build-fuzz
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: run test deps deps-run build build-run check-format unit-tests fuzz bench clean
.PHONY: check-data install package soak formats

run: build-run
	$(RUN_BUILD)/src/tandrel

# The format check first: a slip fails in seconds, not after the builds.
test: check-format
	$(MAKE) build check-data unit-tests fuzz asan

# What building and running the program need, and nothing more.
deps-run:
	scripts/install-deps run

# That, the test tools and a sound server for the tests (the one the machine has).
deps:
	scripts/install-deps test

build-run: deps-run
	cmake -S . -B $(RUN_BUILD) -G Ninja $(CMAKE_FLAGS) -DTANDREL_BUILD_TESTS=OFF \
		-DTANDREL_BUILD_BENCH=OFF
	cmake --build $(RUN_BUILD) --target tandrel

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
.PHONY: fuzz-build fuzz-long
fuzz-build: deps
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD)

fuzz: fuzz-build
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure --no-tests=error

# A long run of the same fuzzer, FUZZ_RUNS inputs (not part of `test`), from the real
# shortcuts and the seeds; prints how many it ran and the coverage it reached. Inputs that
# crash are kept in $(FUZZ_BUILD)/long/.
FUZZ_RUNS ?= 10000000
fuzz-long: fuzz-build
	rm -rf $(FUZZ_BUILD)/long
	mkdir -p $(FUZZ_BUILD)/long/corpus
	cp tests/data/lnk/*.lnk tests/data/lnk/*.LNK tests/fuzz/seeds/*.lnk $(FUZZ_BUILD)/long/corpus/
	cd $(FUZZ_BUILD)/long && status=0 && ../shelllink_fuzzer -runs=$(FUZZ_RUNS) \
		-max_len=16384 -timeout=10 -dict=$(CURDIR)/tests/fuzz/shelllink.dict \
		-print_final_stats=1 corpus >fuzz.log 2>&1 || status=$$? ; \
		grep -E '^#[0-9]+.*(INITED|DONE)|^stat::|ERROR|SUMMARY' fuzz.log; exit $$status

# The program and its unit, widget, shell and media tests again, built with AddressSanitizer
# and UndefinedBehaviorSanitizer (gcc, as the program's own build). Any report fails the
# test; what the system libraries keep until exit is listed in tests/sanitizers/lsan.supp.
# The default 256 MB quarantine of freed memory triples the time of the image-heavy widget
# tests on two cores; 64 MB still keeps a freed block poisoned for over a hundred of the
# window's largest images (400 KB) freed after it.
ASAN_OPTS = detect_leaks=1:abort_on_error=0:quarantine_size_mb=64
SAN_ENV = UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0
.PHONY: asan
asan: deps
	@# Debug, not RelWithDebInfo: its build takes about 40 % less CPU on two cores, and the
	@# tests, which spend their time in Qt and GStreamer, run about as fast.
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DTANDREL_SANITIZE=address,undefined -DTANDREL_BUILD_BENCH=OFF
	@# The skin generator runs during the build, so it is checked too.
	$(SAN_ENV) ASAN_OPTIONS=$(ASAN_OPTS) cmake --build $(ASAN_BUILD)
	$(SAN_ENV) ASAN_OPTIONS=$(ASAN_OPTS) ctest --test-dir $(ASAN_BUILD) \
		-L '^(unit|widget)$$' --output-on-failure --no-tests=error -j2
	@# GStreamer and GLib carry no frame pointers: only whole stacks, unwound the slow way,
	@# reach the library frames that the suppressions name. One at a time: the media tests
	@# allow a tenth of a second for real-time playback and for streaming threads to wind
	@# down, which two sanitized tests sharing two cores sometimes miss (costs ~20 s).
	$(SAN_ENV) ASAN_OPTIONS=$(ASAN_OPTS):fast_unwind_on_malloc=0 ctest --test-dir $(ASAN_BUILD) \
		-L '^media$$' --output-on-failure --no-tests=error

# The media and listening tests again, built with ThreadSanitizer (gcc, Debug as for asan).
# Not part of `test`: from nothing it took 18 min 21 s on two cores (the build 8 min 15 s, the
# media tests 2 min 23 s, the listening tests 7 min 37 s; measured).
# The first report stops its process with ThreadSanitizer's exit code, 66, which fails the
# test (the program that tst_comparison starts included). The libraries are not instrumented:
# ThreadSanitizer ignores what it sees of their memory and keeps their locks;
# tests/sanitizers/tsan.supp says why, and holds what is left of theirs. How to read a report:
# tests/README.md.
TSAN_OPTS = halt_on_error=1:second_deadlock_stack=1:ignore_interceptors_accesses=1
TSAN_ENV = G_SLICE=always-malloc \
	TSAN_OPTIONS=$(TSAN_OPTS):suppressions=$(CURDIR)/tests/sanitizers/tsan.supp
LISTENING_TESTS = ^tst_(fades|alignment|comparison|server_restart|output_faults)(_pipewire)?$$
.PHONY: tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTANDREL_SANITIZE=thread \
		-DTANDREL_BUILD_BENCH=OFF
	$(TSAN_ENV) cmake --build $(TSAN_BUILD)
	$(TSAN_ENV) ctest --test-dir $(TSAN_BUILD) -L '^media$$' --output-on-failure --no-tests=error
	$(TSAN_ENV) ctest --test-dir $(TSAN_BUILD) -R '$(LISTENING_TESTS)' --output-on-failure \
		--no-tests=error

# Half an hour of play, bar clicks and pauses on a private desktop; fails if the program's
# memory grows by more than 5 MB. Not part of `test`.
SOAK_MINUTES ?= 30
soak: build
	$(BUILD)/tests/e2e/tandrel_soak --minutes $(SOAK_MINUTES)

# The README's format table, measured through the program's own player (a minute or two),
# under a line naming the release that measured it.
FORMATS_SECONDS ?= 20
formats: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) --target tandrel_formats
	$(BUILD)/tests/media/formats/tandrel_formats --seconds $(FORMATS_SECONDS) --write README.md

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
	rm -rf $(BUILD) $(RUN_BUILD) $(FUZZ_BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
