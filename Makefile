# Set-up and everyday commands. `make demo` and `make test` work on a fresh
# Debian 12 machine: both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# One compile more than the cores: a link or a test discovery waiting on one file leaves a core idle otherwise.
# Not for the link-time optimised build, whose links already run a job per core each.
BUILD_JOBS ?= $(shell echo $$(( $$(nproc) + 1 )))
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON
DEBUG_BUILD_DIR ?= build-debug
# Line tables only: what the sanitizers' stacks show; the preset debug keeps full information for a debugger.
DEBUG_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKESTREL_LTO=ON -DKESTREL_SANITIZE=ON \
  -DKESTREL_WERROR=ON -DKESTREL_BUILD_BENCH=OFF -DKESTREL_WINE_DRIVER=OFF
TSAN_BUILD_DIR ?= build-tsan
# make test's ctest runs end at their first failure, as make ends at the first
# failed step: one broken download fails many tests alike, each after its bounds.
# Every failure, for a look at all of them: make test CTEST_FLAGS='--output-on-failure -j 2'.
CTEST_FLAGS ?= --output-on-failure -j $(JOBS) --stop-on-failure
WIN_BUILD_DIR ?= build-win

.PHONY: all deps configure build check test unit-tests vm-test debug-tests thread-test windows windows-test demo demo-gui bench fuzz package clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(BUILD_JOBS)

# The fast loop: one build, its unit and command-line tests (ctest labels unit and cli).
check: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L 'unit|cli'

# Every test; then every test and the fuzz corpora again in a Debug build under
# AddressSanitizer and UndefinedBehaviorSanitizer, linked with link-time
# optimisation, which refuses two types of one name; then the threaded parts
# under ThreadSanitizer; then the Windows programs, cross-built and tested under
# Wine; then the USB link in a virtual machine, once.
test: unit-tests debug-tests thread-test windows-test vm-test

unit-tests: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest $(CTEST_FLAGS) -LE vm

# kestrel-flash inside a QEMU machine with Debian's own kernel, its FTDI
# usb-serial devices wired to kestrel-box here; every row's name and verdict shown.
vm-test: build
	cd $(BUILD_DIR) && ctest --verbose -L vm -j $(JOBS)

# The package test and the virtual-machine rig run the plain build's programs; once is enough.
debug-tests: deps
	cmake -S . -B $(DEBUG_BUILD_DIR) -G Ninja $(DEBUG_CMAKE_FLAGS)
	cmake --build $(DEBUG_BUILD_DIR) -j $(JOBS)
	cd $(DEBUG_BUILD_DIR) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest $(CTEST_FLAGS) -LE 'vm|packaging'

thread-test: deps
	QT_QPA_PLATFORM=offscreen scripts/thread-test $(TSAN_BUILD_DIR) $(BUILD_JOBS) $(CTEST_FLAGS)

# The Windows programs, cross-built with mingw-w64 into $(WIN_BUILD_DIR), and
# $(WIN_BUILD_DIR)/kestrel-loader-<version>-win64.zip with them. Its Wine tests
# run the programs of the Linux build in $(BUILD_DIR).
windows:
	scripts/install-deps windows
	cmake -S . -B $(WIN_BUILD_DIR) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DKESTREL_NATIVE_BUILD=$(abspath $(BUILD_DIR))
	cmake --build $(WIN_BUILD_DIR) -j $(BUILD_JOBS)

# The Windows programs under Wine: the unit tests, kestrel-flash.exe end to end
# against the native box emulator (one test per row, label wine), the dialog
# and the installer; and what the programs and the zip carry.
windows-test: windows build
	cd $(WIN_BUILD_DIR) && ctest $(CTEST_FLAGS)

# libFuzzer runs of every fuzz target (FUZZ_SECONDS each, 600 by default).
fuzz: deps
	scripts/fuzz

demo: build
	scripts/demo $(BUILD_DIR)

# The dialog pointed at an emulated box; needs a display.
demo-gui: build
	scripts/demo-gui $(BUILD_DIR)

bench: build
	scripts/bench $(BUILD_DIR)

# The Debian package kestrel-loader_<version>_<arch>.deb, in $(BUILD_DIR).
# `make test` lints the manual pages and checks an install and this package.
package: build
	cmake --build $(BUILD_DIR) --target package

clean:
	rm -rf $(BUILD_DIR) $(DEBUG_BUILD_DIR) $(ASAN_BUILD_DIR) $(WIN_BUILD_DIR)
