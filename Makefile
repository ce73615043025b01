# QuorSet developer entry points. `make test` and `make demo` work on a fresh
# Debian clone: both install what is missing first.

BUILD       ?= build
BUILD_ASAN  ?= build-asan
BUILD_TSAN  ?= build-tsan
BUILD_BENCH ?= build-release
BUILD_FUZZ  ?= build-fuzz
BUILD_MINIMAL ?= build-minimal
FUZZ_SECONDS ?= 60
JOBS        ?= $(shell nproc)
MODEL       ?= SRD7

# The tests spend most of their time waiting on the emulated wheel's and boot
# loader's timing (scans, reboots, erase polls), not on the CPU, so ctest runs
# twice as many at once as there are cores.
TEST_JOBS   ?= $(shell echo $$(( $$(nproc) * 2 )))

CMAKE_GEN := -G Ninja
CTEST     := ctest --output-on-failure --timeout 300 -j $(TEST_JOBS)

.PHONY: all deps build run demo test test-default test-minimal test-asan test-tsan test-fuzz fuzz bench screenshots format clean

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Starts QuorSet for a real wheel.
run: build
	$(BUILD)/bin/quorset

# Starts QuorSet against the emulated wheel: no hardware needed.
demo: build
	tools/demo $(MODEL)

test: test-default test-minimal test-asan test-tsan test-fuzz

test-default: build
	cd $(BUILD) && $(CTEST)

# What a packager builds: the program and quorctl alone, configured without
# the tests, the emulator, the benchmarks and the fuzzers, whose umockdev and
# Qt Test that configure must never look for. Nothing of the test suite is
# built a second time here.
$(BUILD_MINIMAL)/build.ninja: | deps
	cmake -S . -B $(BUILD_MINIMAL) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

test-minimal: deps $(BUILD_MINIMAL)/build.ninja
	cmake --build $(BUILD_MINIMAL) -j $(JOBS) --target quorset quorctl
	tools/check-minimal-build $(BUILD_MINIMAL)

$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUORSET_SANITIZE=address

test-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $(CTEST) -LE no-sanitizer

$(BUILD_TSAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUORSET_SANITIZE=thread

# The whole suite again under ThreadSanitizer. Qt, GLib and umockdev are the
# distribution's uninstrumented builds, whose locks (Qt's futex-based QMutex
# above all) the sanitizer cannot see: every queued signal and every
# QThread::wait() would be reported as a race. With
# ignore_noninstrumented_modules the sanitizer treats those libraries as black
# boxes and still checks our code, the tests and the emulator; where our code
# hands data over through Qt it also passes a lock of its own (see
# QuorUpgrade::waitForFinished). die_after_fork=0: the tests that start other
# programs (quorctl, dfu-util, the HTTPS server, the package tools) fork from a
# process whose threads already run, and the sanitizer would otherwise end the
# child before its exec.
TSAN_OPTIONS_ALL := halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0

test-tsan: deps $(BUILD_TSAN)/build.ninja
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS=$(TSAN_OPTIONS_ALL) $(CTEST) -LE no-sanitizer

# libFuzzer targets for every reader of outside data, in a clang build of
# their own (coverage, AddressSanitizer, UndefinedBehaviorSanitizer). Each
# target first replays its committed corpus (tests/fuzz/corpus, ctest label
# "fuzz"), then fuzzes for FUZZ_SECONDS; what it learns stays in
# $(BUILD_FUZZ)/fuzz-corpus, crashes go to $(BUILD_FUZZ)/fuzz-artifacts.
$(BUILD_FUZZ)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORSET_FUZZ=ON

fuzz: deps $(BUILD_FUZZ)/build.ninja
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_targets
	cd $(BUILD_FUZZ) && $(CTEST) -L fuzz
	tests/fuzz/run-fuzzers $(BUILD_FUZZ) $(FUZZ_SECONDS)

# What make test runs: every target for 10 s.
test-fuzz:
	$(MAKE) fuzz FUZZ_SECONDS=10

$(BUILD_BENCH)/build.ninja: | deps
	cmake -S . -B $(BUILD_BENCH) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

# Every benchmark prints its figures as "BENCH <name> <value> <unit>" lines.
bench: deps $(BUILD_BENCH)/build.ninja
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	bench/run-all $(BUILD_BENCH)

# Saves what the user sees into $(BUILD)/screenshots/.
screenshots: build
	cd $(BUILD) && $(CTEST) -L screenshots

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_BENCH) $(BUILD_FUZZ) $(BUILD_MINIMAL)

# Redraws the pictures in resources/img. They are committed, so a build never
# needs this; run it after changing the model table or the drawings.
.PHONY: pictures
pictures: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target draw-pictures
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/draw-pictures resources/img
	cmake --build $(BUILD) -j $(JOBS) --target draw-app-icon
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/draw-app-icon packaging/linux/icons/hicolor example.quorcontrols.QuorSet

# Builds the Debian package $(BUILD)/quorset_<version>_<arch>.deb: the program,
# its udev rules, launcher, metadata and icons.
.PHONY: package
package: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quorset
	cd $(BUILD) && cpack -G DEB

# The fault soak against the emulated wheel for 10 minutes (ctest runs it for
# 30 s). SOAK_SEED replays a run whose seed a failure printed.
SOAK_SECONDS ?= 600
.PHONY: soak
soak: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen QUORSET_SOAK_SECONDS=$(SOAK_SECONDS) \
	  $(if $(SOAK_SEED),QUORSET_SOAK_SEED=$(SOAK_SEED)) bin/tst_fault_soak
