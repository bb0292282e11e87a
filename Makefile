# Velumo: entry points for developers and CI. Every build tree is
# build/<CMake preset> (CMakePresets.json). `make test`, what CI runs, is in turn:
#
#   deps           install the Debian packages of every target (VELUMO_NO_INSTALL=1: check)
#   test-native    build/native: GoogleTest suites and the runner's contract test
#   test-sanitize  build/sanitize: the same under AddressSanitizer and UBSan
#   bench-build    build/bench: the benchmark programs compile (make bench runs them)
#   test-windows   build/win32: Velumo.dll, the product, and its structure check;
#                  build/win32-clang: the module from clang, same check; both run
#                  in 32-bit Wine in Xvfb (mk/run-win32): the Windows suite, and
#                  velumo_host through the runner's contract scripts and against
#                  the native runner; build/win64: the 64-bit build, in 64-bit Wine
#   fuzz-check     build/fuzz: every corpus input, then each fuzz target for 5 s
#   memcheck       build/native again: the suites and the runner under valgrind
#   lint           build/lint: clang build (warnings as errors) and its tests; clang-tidy
#                  (build/lint's and build/win64's compile commands), cppcheck, clang-format
#   test-release   build/win32 against the SHA-256 in README.md; two fresh copies in
#                  build/reproduce/ give the same DLL and zip; build/sign-test: a signed
#                  zip verifies and a tampered copy does not
#
# Other targets. Each runs on its own, in a fresh clone too. Besides deps and test, only
# demo installs packages; the others stop and name the Debian packages that are missing.
#   make demo            installs the native packages, then masks examples/sample.json
#                        with the console runner into demo-out/, with before/after pictures,
#                        and a PDF made from examples/quotation.txt (examples/pdf_demo.sh)
#   make check           the quick loop: test-native and test-sanitize without the tests
#                        labelled slow (make test runs those too)
#   make stress          the signal-and-race stress of the runner's file handling
#                        (tests/stress/), STRESS_RUNS runs (3000); on ramfs too as root
#   make native          build build/native only; `make sanitize` likewise
#   make bench           build/bench: every velumo_*bench* program it builds, then the
#                        region's work in instructions (bench/work_exponents.sh); with
#                        BENCH_BEFORE=REV the region of git revision REV runs beside
#                        this tree's in the region benchmark
#   make dist            build/win-dist/velumo-<version>-win32.zip; signed with
#                        SIGN_CERT=cert.pem SIGN_KEY=key.pem (see mk/release.mk)
#   make windows-product | windows-clang | windows-testbuild   one Windows tree each
#   make fuzz            each fuzz target for FUZZ_SECONDS (60); fuzz-replay: the corpus
#                        alone; fuzz-build: build/fuzz alone
#   make test-hardening  fuzz-check, memcheck and lint (mk/hardening.mk)
#   make coverage        line coverage of masking/ (build/coverage)
#   make coverage-windows  line coverage of plugin/ by the Wine tests (build/win64-coverage)
#   make about-box-png   docs/about-box.png from the last 32-bit Wine test run
#   make reproduce | check-release-hash | test-signing   the parts of test-release
#   make update-release-hash  writes the SHA-256 of build/win32's Velumo.dll into README.md
#   make deps | deps-GROUP    install packages (mk/deps.mk); need-GROUP only checks them
#   make all             the same as make test; make clean removes build/ and demo-out/
#
# Targets run one at a time (.NOTPARALLEL); each build uses JOBS cores.

SHELL := /bin/bash
JOBS ?= $(shell nproc)

.NOTPARALLEL:
.DEFAULT_GOAL := test
.PHONY: all demo test check native test-native sanitize test-sanitize stress bench-build bench clean

all: test

include mk/deps.mk

# build/<preset>/CMakeCache.txt: the tree of that preset, configured afresh
# when a preset file changes (cmake --build re-runs CMake itself when a
# CMakeLists.txt does).
PRESET_FILES := CMakePresets.json cmake/common-presets.json cmake/windows-presets.json
.PRECIOUS: build/%/CMakeCache.txt
build/%/CMakeCache.txt: $(PRESET_FILES)
	cmake --preset $* >/dev/null || { rm -f $@; exit 1; }
	@touch $@

include mk/windows.mk
include mk/hardening.mk
include mk/release.mk

test: deps test-native test-sanitize bench-build test-windows fuzz-check memcheck lint test-release
	@if route=$$(mk/run-win32 --route); then \
	  echo "make test: all suites passed; the 32-bit product ran in 32-bit Wine ($${route#*route: })"; \
	else \
	  echo "make test: all suites passed, but the 32-bit product was NOT executed: $${route#*route: }"; \
	fi

# The quick loop leaves out the tests labelled slow (a few seconds each, and
# more under the sanitizers); they run in every other target.
check: CTEST_LABELS := -LE slow
check: test-native test-sanitize
	@echo "make check: native and sanitizer suites passed (slow tests left out)"

# --- native engine, stand-in host, runner and their tests -----------------

native: need-native build/native/CMakeCache.txt
	cmake --build --preset native -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS) $(CTEST_LABELS)

sanitize: need-native build/sanitize/CMakeCache.txt
	cmake --build --preset sanitize -j $(JOBS)

test-sanitize: sanitize
	ctest --preset sanitize -j $(JOBS) $(CTEST_LABELS)

# The runner's file handling against signals, other writers, allocation
# failures and file-size limits, counted (tests/stress/file_safety_stress.py).
STRESS_RUNS ?= 3000
stress: native
	/usr/bin/python3 tests/stress/file_safety_stress.py build/native/runner/velumo \
	  --runs $(STRESS_RUNS) --failing-malloc build/native/tests/libvelumo_failing_malloc.so
	@if [ "$$(id -u)" = 0 ]; then \
	  /usr/bin/python3 tests/stress/file_safety_stress.py build/native/runner/velumo \
	    --runs $(STRESS_RUNS) --ramfs --only signal,editor,in-place; fi

# --- demo: mask the shipped sample with the console runner ----------------

DEMO_OUT := demo-out

demo: deps-native native
	@mkdir -p $(DEMO_OUT)
	cp examples/sample.json $(DEMO_OUT)/sample.json
	build/native/runner/velumo render $(DEMO_OUT)/sample.json -o $(DEMO_OUT)/before.svg
	@echo "--- velumo mask $(DEMO_OUT)/sample.json"
	build/native/runner/velumo mask $(DEMO_OUT)/sample.json
	build/native/runner/velumo render $(DEMO_OUT)/sample.json -o $(DEMO_OUT)/after.svg
	@echo "Pictures: $(DEMO_OUT)/before.svg (keep-frames dashed) and $(DEMO_OUT)/after.svg (masks filled)"
	examples/pdf_demo.sh build/native/runner/velumo $(DEMO_OUT)

# --- benchmarks ------------------------------------------------------------

# BENCH_BEFORE=REV (a git revision) adds the region of that revision to the
# region benchmark's table, built into the same program.
BENCH_BEFORE ?=
BENCH_EARLIER := $(CURDIR)/build/bench-earlier

bench-build: need-native need-bench build/bench/CMakeCache.txt
	@if [ -n "$(BENCH_BEFORE)" ]; then bench/earlier_tree.sh "$(BENCH_BEFORE)" $(BENCH_EARLIER); \
	  cmake --preset bench -DVELUMO_BENCH_BEFORE=$(BENCH_EARLIER) >/dev/null; \
	else cmake --preset bench -DVELUMO_BENCH_BEFORE= >/dev/null; fi
	cmake --build --preset bench -j $(JOBS)

# Every benchmark program of the tree, named velumo_*bench*, in turn; then
# the region's work, counted in instructions, on the layouts whose times the
# region benchmark fits.
bench: bench-build
	@programs=$$(find build/bench -path '*/CMakeFiles' -prune -o \
	  -type f -perm -u+x -name 'velumo_*bench*' -print | sort); \
	if [ -z "$$programs" ]; then echo "bench: no velumo_*bench* program in build/bench"; exit 1; fi; \
	for p in $$programs; do echo "--- $$p"; $$p || exit 1; done
	@echo "--- bench/work_exponents.sh"
	bench/work_exponents.sh build/bench/bench/velumo_region_bench

clean:
	rm -rf build $(DEMO_OUT)
