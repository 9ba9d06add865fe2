# hostprobe: cross-built with MinGW-w64, run and tested under Wine.
#   make run [ARGS=--format=xml]   build if needed, run hostprobe.exe, print the report
#   make test                      configure, build, run every test
BUILD ?= build
ARGS ?=
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench dist clean format

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

# The report needs only the program; the tests are built by `make test`.
run: configure
	cmake --build $(BUILD) --target hostprobe
	@HOSTPROBE_WINEPREFIX=$(BUILD)/wineprefix scripts/wine-run.sh $(BUILD)/hostprobe.exe $(ARGS)

test: build
	@scripts/wine-prefix.sh $(BUILD)/wineprefix
	cd $(BUILD) && ctest --output-on-failure -j2

# The release package: dist/hostprobe-<version>-win64.zip and dist/hostprobe.debug.
dist: configure
	cmake --build $(BUILD) --target hostprobe logctl logdemo
	@scripts/make-dist.sh $(BUILD) dist

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
