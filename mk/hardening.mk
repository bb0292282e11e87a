# Hardening: fuzzing, memory checking, static analysis and coverage.
# Included by the top-level Makefile; the work is done by the scripts named.
#
#   make test-hardening  fuzz-check, memcheck and lint (all three are part of
#                        make test)
#   make fuzz            build/fuzz: each fuzz target in turn for FUZZ_SECONDS
#                        (60) and its executions per second; new inputs are
#                        kept in build/fuzz/corpus/, crashes in
#                        build/fuzz/artifacts/ (mk/fuzz.sh)
#   make fuzz-check      the corpus replays and FUZZ_CHECK_SECONDS (5) per target
#   make memcheck        the native test suite of build/native (GoogleTest
#                        binaries and the tests that drive the runner) under
#                        valgrind memcheck (mk/memcheck.sh)
#   make lint            build/lint: the native tree built with clang (warnings
#                        as errors) and tested; clang-tidy, with build/win64's
#                        compile commands for plugin/; cppcheck; clang-format
#                        (mk/lint.sh)
#   make coverage        build/coverage: line coverage of masking/ and of the
#                        module's portable caption logic by the native suite
#                        (mk/coverage.sh)
#
# A failing fuzz input is replayed with build/fuzz/velumo_fuzz_<target> FILE
# (the check that failed is printed). Once fixed, the input is copied into
# tests/fuzz/corpus/<target>/ as a regression input, which every replay then
# runs; tests/fuzz/make_seeds.py writes the hand-made seeds there.

.PHONY: test-hardening fuzz-build fuzz-replay fuzz-check fuzz memcheck lint coverage

test-hardening: fuzz-check memcheck lint
	@echo "test-hardening: fuzzing, memcheck and lint passed"

# --- fuzzing -----------------------------------------------------------------

FUZZ_BUILD := build/fuzz
# The targets, in the order they run; each has its libFuzzer flags below.
FUZZ_TARGETS := region document reader pdf
FUZZ_FLAGS_region := -max_len=256
FUZZ_FLAGS_document := -max_len=2048
FUZZ_FLAGS_reader := -max_len=16384 -dict=tests/fuzz/reader.dict
FUZZ_FLAGS_pdf := -max_len=16384 -dict=tests/fuzz/pdf.dict
FUZZ_SECONDS ?= 60
FUZZ_CHECK_SECONDS ?= 5

fuzz-build: need-native need-fuzz build/fuzz/CMakeCache.txt
	cmake --build --preset fuzz -j $(JOBS)

# Every input of the repository's corpus once: seeds and the inputs of
# crashes fixed before.
fuzz-replay: fuzz-build
	@$(foreach t,$(FUZZ_TARGETS),mk/fuzz.sh replay $(FUZZ_BUILD) $(t) &&) true

fuzz-check: fuzz-replay
	@rm -rf $(FUZZ_BUILD)/check-corpus
	@$(foreach t,$(FUZZ_TARGETS),mk/fuzz.sh run $(FUZZ_BUILD) $(t) $(FUZZ_CHECK_SECONDS) \
	  $(FUZZ_BUILD)/check-corpus $(FUZZ_FLAGS_$(t)) &&) true

# One target at a time, so that each has the machine to itself.
fuzz: fuzz-replay
	@$(foreach t,$(FUZZ_TARGETS),mk/fuzz.sh run $(FUZZ_BUILD) $(t) $(FUZZ_SECONDS) \
	  $(FUZZ_BUILD)/corpus $(FUZZ_FLAGS_$(t)) &&) true

# --- valgrind memcheck, static analysis, coverage --------------------------------

memcheck: need-memcheck native
	mk/memcheck.sh build/native

lint: need-native need-lint need-windows build/lint/CMakeCache.txt build/win64/CMakeCache.txt
	JOBS=$(JOBS) mk/lint.sh

coverage: need-native need-coverage build/coverage/CMakeCache.txt
	JOBS=$(JOBS) mk/coverage.sh
