# The two set-up commands: `make run` (build and run the sample saver) and
# `make test` (every test). Both install what they need first.
BUILD      ?= build
NATIVE     := $(BUILD)/native
WIN        := $(BUILD)/win
JOBS       ?= 2

.PHONY: all deps native win test test-native test-win test-e2e run bench bench-wine fuzz tsan mutants clean

all: native win

deps:
	@scripts/install-deps

$(NATIVE)/build.ninja: | deps
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(WIN)/build.ninja: | deps
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake

native: deps $(NATIVE)/build.ninja
	ninja -C $(NATIVE) -j $(JOBS)

win: deps native $(WIN)/build.ninja
	ninja -C $(WIN) -j $(JOBS)

test: native win
	scripts/run-tests

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) -LE e2e

test-win: win
	scripts/with-display ctest --test-dir $(WIN) --output-on-failure

# The whole saver under Wine with the fake player and real input.
test-e2e: native win
	scripts/with-display ctest --test-dir $(NATIVE) --output-on-failure -L e2e

run: native win
	scripts/run-sample

# Figures, not pass/fail: build/bench.txt, build/bench-wine.txt and build/bench-browser.txt.
bench: native
	scripts/run-bench

bench-wine: native win
	scripts/run-bench-wine
	scripts/bench-browser-player

fuzz: deps
	scripts/run-fuzz

# The thread timer's tests, 200 runs under ThreadSanitizer (build/tsan).
tsan: deps
	scripts/tsan-timer

# Every mutant of tests/mutants/ applied in turn, rebuilt and run against the
# tests it names (MUTANTS=reader picks one file); not part of `make test`.
mutants: deps $(NATIVE)/build.ninja $(WIN)/build.ninja
	BUILD=$(BUILD) JOBS=$(JOBS) MUTANTS="$(MUTANTS)" scripts/run-mutants

clean:
	rm -rf $(BUILD)
