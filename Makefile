# Velumo: entry points for developers and CI. `make demo` and `make test`
# install whatever they miss with apt-get (as root) before they start.

SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: all demo test test-native test-sanitize bench deps-native clean

all: test

include mk/deps.mk
include mk/windows.mk
include mk/hardening.mk

# --- native engine, stand-in host, runner and their tests -----------------

build/native/CMakeCache.txt: | deps-native
	cmake --preset native >/dev/null

native: deps-native build/native/CMakeCache.txt
	cmake --build --preset native -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

build/sanitize/CMakeCache.txt: | deps-native
	cmake --preset sanitize >/dev/null

test-sanitize: deps-native build/sanitize/CMakeCache.txt
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize -j $(JOBS)

# The Windows builds come before the hardening checks so that clang-tidy
# can lint plugin/ with the 64-bit build's compile commands.
test: test-native test-sanitize test-windows test-hardening
	@echo "make test: all suites passed"

# --- demo: mask the shipped sample with the console runner ----------------

DEMO_OUT := demo-out

demo: native
	@mkdir -p $(DEMO_OUT)
	cp examples/sample.json $(DEMO_OUT)/sample.json
	build/native/runner/velumo render $(DEMO_OUT)/sample.json -o $(DEMO_OUT)/before.svg
	@echo "--- velumo mask $(DEMO_OUT)/sample.json"
	build/native/runner/velumo mask $(DEMO_OUT)/sample.json
	build/native/runner/velumo render $(DEMO_OUT)/sample.json -o $(DEMO_OUT)/after.svg
	@echo "Pictures: $(DEMO_OUT)/before.svg (keep-frames dashed) and $(DEMO_OUT)/after.svg (masks filled)"

# --- benchmarks ------------------------------------------------------------

bench: deps-native deps-bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	build/bench/bench/velumo_bench

clean:
	rm -rf build $(DEMO_OUT)
