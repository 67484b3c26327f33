# Builds the Support Services Utility with MinGW-w64 and tests it under Wine.
#   make build   the programs into dist/: ForgeSupport.exe (32-bit), ForgeSupport64.exe, ForgeSupport.com,
#                their packages ForgeSupport-<version>-x64.msi and -x86.msi, and SHA256SUMS;
#                with SIGN_PFX=<file.pfx> SIGN_PASSWORD=<password> (or the same in the
#                environment, and SIGN_TIMESTAMP_URL=<url> if wanted) all five signed
#   make test    installs what is missing, builds, runs every test
#   make demo    installs what is missing, builds, opens the utility on a demo installation
#   make bench   installs what is missing, builds, runs every benchmark
SHELL := /bin/bash
.DEFAULT_GOAL := build

ROOT := $(CURDIR)
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

BUILD_PACKAGES := cmake make mingw-w64 mingw-w64-tools googletest wixl osslsigncode openssl
TEST_PACKAGES := $(BUILD_PACKAGES) wine64 xvfb
DEMO_PACKAGES := $(TEST_PACKAGES) imagemagick x11-utils

# Installs only the packages that are not installed yet.
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: build test bench demo demo-clean deps-build deps-test deps-demo deps-wine32 x64 x86 both packages clean

deps-build:
	$(call install_missing,$(BUILD_PACKAGES))
deps-test: deps-wine32
	$(call install_missing,$(TEST_PACKAGES))
deps-demo: deps-wine32
	$(call install_missing,$(DEMO_PACKAGES))

# The 32-bit Wine runs the x86 build's tests. A machine that cannot have it
# still tests the x64 build: the test run says that the x86 tests were skipped.
deps-wine32:
	@if ! dpkg-query -W -f='$${Status}\n' wine32:i386 2>/dev/null | grep -q '^install ok installed'; then \
		echo "Installing: wine32:i386"; \
		{ $(SUDO) dpkg --add-architecture i386 && $(SUDO) apt-get update -qq && \
		  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq wine32:i386; } || \
		echo "The 32-bit Wine could not be installed; the x86 tests will be skipped."; \
	fi

build/x64/CMakeCache.txt:
	cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DFORGE_TESTS=ON
build/x86/CMakeCache.txt:
	cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DFORGE_TESTS=ON

x64: build/x64/CMakeCache.txt
	cmake --build build/x64 -j $(JOBS)
x86: build/x86/CMakeCache.txt
	@grep -q '^FORGE_TESTS:BOOL=ON' build/x86/CMakeCache.txt || cmake -S . -B build/x86 -DFORGE_TESTS=ON
	cmake --build build/x86 -j $(JOBS)

# Both programs side by side in dist/, and each build's program folder given
# its sibling, so that the tests and benchmarks run them as they ship: either
# program registers a server of the other bitness through the other.
both: x64 x86
	@mkdir -p dist
	cp build/x86/bin/ForgeSupport.exe build/x86/bin/ForgeSupport.com build/x64/bin/ForgeSupport64.exe dist/
	cp build/x86/bin/ForgeSupport.exe build/x86/bin/ForgeSupport.com build/x64/bin/
	cp build/x64/bin/ForgeSupport64.exe build/x86/bin/

# The signing variables reach tools/package.sh through its environment, never
# through a command line that make echoes into the build log.
export SIGN_PFX SIGN_PASSWORD SIGN_TIMESTAMP_URL

packages: both
	tools/package.sh

build: deps-build
	$(MAKE) packages

test: deps-test
	$(MAKE) packages
	tools/run-tests.sh

bench: deps-test
	$(MAKE) both
	tools/run-bench.sh

demo: deps-demo
	$(MAKE) both
	tools/run-demo.sh

demo-clean:
	rm -rf build/demo

clean:
	rm -rf build dist
