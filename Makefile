# GPS QuorVelle: `make run` and `make test` set everything up on a fresh Debian machine.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
RUN_DIR ?= quorvelle-run
JOBS ?= 2
WINDOWS_BUILD_DIR ?= build-windows

.PHONY: all deps test-deps windows-deps configure build run test check package bench sanitize \
	format format-check clean windows windows-check windows-package windows-installer screenshots

all: build

# What building and running need; the tests and the Windows build add their own.
deps:
	scripts/install-deps run

test-deps:
	scripts/install-deps run test

windows-deps:
	scripts/install-deps run windows

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# The window with the built-in simulator when a display is present; otherwise ten simulated
# minutes through the batch tool, with the files it writes listed at the end.
run: build
	scripts/run-main $(BUILD_DIR) $(RUN_DIR)

# Every tier of both builds: Linux (unit, e2e) and Windows (its unit tests, and its programs
# driven from Linux) under Wine. Both test runs go to their end; either failing fails.
test: test-deps build windows
	scripts/with-wine sh -c 'status=0; \
	    (cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)) || status=1; \
	    (cd $(WINDOWS_BUILD_DIR) && ctest --output-on-failure -j$(JOBS)) || status=1; \
	    exit $$status'

# The unit tier alone, for a quick check while developing: quick in-process tests, no Xvfb, no
# PulseAudio, no runs of the built programs (the scenario tier's long runs are left to `make test`).
check: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) -L '^unit$$'

# The Debian package, $(BUILD_DIR)/quorvelle_VERSION_ARCH.deb, from a build installed to /usr.
package: test-deps build
	cmake --build $(BUILD_DIR) --target package

# The benchmarks, after a summary of where the chain stands: its cycles per output sample at the
# clock measured here against the floor of its x87 arithmetic, and its speed over recordings at
# 8, 48 and 192 kHz (`quorvelle_bench --summary_only` prints the summary alone).
bench: build
	@test -x $(BUILD_DIR)/quorvelle_bench || { echo "No $(BUILD_DIR)/quorvelle_bench:" \
	    "Google Benchmark was not found when $(BUILD_DIR) was configured (make deps installs it)" >&2; \
	    exit 1; }
	$(BUILD_DIR)/quorvelle_bench

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer (leak checks off: the font and
# audio libraries keep allocations to the end of the process).
sanitize: test-deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
	    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
	cmake --build build-sanitize -j$(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    ctest --output-on-failure -j$(JOBS)

# The user's guide's picture: the window measuring the simulator on a private X server for about
# a minute, photographed into docs/window.png.
screenshots: test-deps build
	scripts/screenshots $(BUILD_DIR) docs/window.png

# The code's formatting by the root .clang-format: applied, or checked (fails on a difference).
format format-check: configure
	cmake --build $(BUILD_DIR) --target $@

# Windows, cross-built with MinGW-w64 into build-windows/; `windows-check` runs its unit tests
# and the Linux build's tests of the Windows programs, under wine64.

$(WINDOWS_BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

windows: windows-deps $(WINDOWS_BUILD_DIR)/CMakeCache.txt
	cmake --build $(WINDOWS_BUILD_DIR) -j$(JOBS)
	cmake --build $(WINDOWS_BUILD_DIR) --target windows_package
	cmake --build $(WINDOWS_BUILD_DIR) --target windows_installer

# The zip for Windows users, build-windows/quorvelle-VERSION-windows-x86_64.zip, and the
# installer, build-windows/GPS-QuorVelle-VERSION-setup.exe (both made with every Windows build,
# so that the Windows tier checks them too).
windows-package windows-installer: windows

windows-check: test-deps build windows
	scripts/with-wine sh -c 'status=0; \
	    (cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) -L "^windows$$") || status=1; \
	    (cd $(WINDOWS_BUILD_DIR) && ctest --output-on-failure -j$(JOBS)) || status=1; \
	    exit $$status'

clean:
	rm -rf $(BUILD_DIR) $(WINDOWS_BUILD_DIR)
