# Sonotape: `make run` builds and starts the program, `make test` builds and runs every test.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
TOOLCHAIN := $(CURDIR)/cmake/toolchain-i686-w64-mingw32.cmake

.PHONY: all setup configure build test run bench dist clean

all: build

setup:
	@bash tools/setup.sh

configure: setup
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@bash tools/run-tests.sh $(BUILD)

run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target sonotape lame_enc_dll sntdrive
	@bash tools/run.sh $(BUILD)

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target benches
	@bash tools/bench.sh $(BUILD)

dist: configure
	@cmake --build $(BUILD) -j $(JOBS) --target sonotape lame_enc_dll
	@bash tools/dist.sh $(BUILD)

clean:
	rm -rf $(BUILD)
