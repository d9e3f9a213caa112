# Sonotape: `make run` builds and starts the program, `make test` builds and runs every test.
#
# Two Windows targets from one source: x64 (the default) and x86. Each has its
# own build folder, build/x64 and build/x86.
#   make test             the x64 suite, and the x86 suite where this machine can run 32-bit programs
#   make test ARCH=x86    one target's suite only (also: run, bench)
#   make dist             the zips and the installers of both targets
#   make check            the house checks alone: format, cppcheck, warnings (tools/check.sh);
#                         `make test` runs them first
BUILD_ROOT ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
ARCH  ?=
RUN_ARCH := $(or $(ARCH),x64)
TEST_ARCHES := $(or $(ARCH),x64 x86)
BUILD := $(BUILD_ROOT)/$(RUN_ARCH)
export JOBS BUILD_ROOT

.PHONY: all setup configure build check test run bench dist clean

all: build

setup:
	@bash tools/setup.sh

configure: setup
	@bash tools/configure.sh $(BUILD_ROOT) $(RUN_ARCH)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

check: setup
	@bash tools/check.sh $(BUILD_ROOT)

test: setup
	@bash tools/test-all.sh $(BUILD_ROOT) $(TEST_ARCHES)

run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target sonotape lame_enc_dll sntdrive
	@bash tools/run.sh $(BUILD)

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target benches
	@bash tools/bench.sh $(BUILD)

dist: setup
	@for a in x64 x86; do \
	  bash tools/configure.sh $(BUILD_ROOT) $$a && \
	  cmake --build $(BUILD_ROOT)/$$a -j $(JOBS) --target dist || exit 1; \
	done

clean:
	rm -rf $(BUILD_ROOT)
