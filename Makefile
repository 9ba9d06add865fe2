# hostprobe: cross-built with MinGW-w64, run and tested under Wine.
#   make run [ARGS=--format=xml]   build if needed, run hostprobe.exe, print the report
#   make test                      configure, build, run every test
#   make bench                     build, run the benchmarks, print one table (bench/README.md)
#   make fuzz [FUZZ_SECONDS=60]    native clang build of the fuzz targets, run each that long
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
ARGS ?=
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench fuzz dist clean format

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

# The parsers that read outside input, built natively with libFuzzer and the address and
# undefined-behaviour sanitizers (tests/fuzz/); fails when a target crashes.
fuzz: deps
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD)
	@scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The release package: dist/hostprobe-<version>-win64.zip and dist/hostprobe.debug.
dist: configure
	cmake --build $(BUILD) --target hostprobe logctl logdemo
	@scripts/make-dist.sh $(BUILD) dist

# spdlog's and fmt's headers serve only the comparison benchmarks: installed here, then found by
# configuring again.
bench: configure
	@scripts/install-bench-deps.sh
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD)
	@scripts/run-benchmarks.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
