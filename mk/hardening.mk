# Hardening: fuzzing, memory checking, static analysis and coverage.
# Included by the top-level Makefile.
#
#   make test-hardening  fuzz-check, memcheck and lint (all three are part of
#                        make test)
#   make fuzz            build/fuzz: each fuzz target in turn for FUZZ_SECONDS
#                        (60) and its executions per second; new inputs are
#                        kept in build/fuzz/corpus/, crashes in build/fuzz/artifacts/
#   make fuzz-check      the corpus replays and FUZZ_CHECK_SECONDS (5) per target
#   make memcheck        the native test suite of build/native (GoogleTest
#                        binaries and the runner's three test scripts) under
#                        valgrind memcheck
#   make lint            build/lint: the native tree built with clang (warnings
#                        as errors) and tested; clang-tidy, with build/win64's
#                        compile commands for plugin/; cppcheck; clang-format
#   make coverage        build/coverage: line coverage of masking/ and of the
#                        module's portable caption logic by the native suite
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
FUZZ_TARGETS := region document reader
FUZZ_SECONDS ?= 60
FUZZ_CHECK_SECONDS ?= 5
# No input may take more than 10 s or 2 GiB; the reader's inputs may be larger.
FUZZ_LIMITS := -rss_limit_mb=2048 -timeout=10
FUZZ_FLAGS_region := -max_len=256
FUZZ_FLAGS_document := -max_len=2048
FUZZ_FLAGS_reader := -max_len=16384 -dict=tests/fuzz/reader.dict

fuzz-build: need-native need-fuzz build/fuzz/CMakeCache.txt
	cmake --build --preset fuzz -j $(JOBS)

# Runs every input of the repository's corpus once: seeds and the inputs of
# crashes fixed before.
fuzz-replay: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  log=$(FUZZ_BUILD)/replay-$$t.log; \
	  if $(FUZZ_BUILD)/velumo_fuzz_$$t $(FUZZ_LIMITS) tests/fuzz/corpus/$$t/* >$$log 2>&1; then \
	    echo "fuzz $$t: replayed $$(grep -c '^Executed ' $$log) inputs of tests/fuzz/corpus/$$t"; \
	  else tail -n 40 $$log; echo "fuzz $$t: a corpus input fails (log: $$log)"; exit 1; fi; \
	done

# $(call fuzz_run,TARGET,SECONDS,WORK): runs TARGET for SECONDS from the
# repository's corpus, writing new inputs to WORK/TARGET (the repository's
# corpus stays as it is), and prints its executions.
define fuzz_run
	@mkdir -p $(3)/$(1) $(FUZZ_BUILD)/artifacts
	@log=$(FUZZ_BUILD)/fuzz-$(1).log; \
	if $(FUZZ_BUILD)/velumo_fuzz_$(1) $(FUZZ_LIMITS) $(FUZZ_FLAGS_$(1)) -max_total_time=$(2) \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/$(1)- \
	    $(3)/$(1) tests/fuzz/corpus/$(1) >$$log 2>&1; then \
	  runs=$$(sed -n 's/^stat::number_of_executed_units: *//p' $$log); \
	  rate=$$(sed -n 's/^stat::average_exec_per_sec: *//p' $$log); \
	  cov=$$(grep -o 'cov: [0-9]*' $$log | tail -n 1 | cut -d' ' -f2); \
	  echo "fuzz $(1): $$runs executions in $(2) s, $$rate per second, $$cov edges covered, no failure"; \
	else \
	  tail -n 60 $$log; echo "fuzz $(1): FAILED; input saved in $(FUZZ_BUILD)/artifacts/ (log: $$log)"; \
	  exit 1; \
	fi

endef

fuzz-check: fuzz-replay
	@rm -rf $(FUZZ_BUILD)/check-corpus
	$(foreach t,$(FUZZ_TARGETS),$(call fuzz_run,$(t),$(FUZZ_CHECK_SECONDS),$(FUZZ_BUILD)/check-corpus))

# One target at a time, so that each has the machine to itself.
fuzz: fuzz-replay
	$(foreach t,$(FUZZ_TARGETS),$(call fuzz_run,$(t),$(FUZZ_SECONDS),$(FUZZ_BUILD)/corpus))

# --- valgrind memcheck over the native test suite ------------------------------

# The programs of the native tree (build/native), run again under valgrind.
MEMCHECK_BUILD := build/native
MEMCHECK_LOGS := $(MEMCHECK_BUILD)/memcheck
VALGRIND := valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect

memcheck: need-memcheck native
	@rm -rf $(MEMCHECK_LOGS) && mkdir -p $(MEMCHECK_LOGS)
	@tests=$$(find $(MEMCHECK_BUILD)/tests -maxdepth 1 -type f -name 'velumo_*_test' -perm -u+x | sort); \
	if [ -z "$$tests" ]; then echo "memcheck: no velumo_*_test program in $(MEMCHECK_BUILD)/tests"; exit 1; fi; \
	for t in $$tests; do \
	  name=$$(basename $$t); \
	  if $(VALGRIND) --log-file=$(MEMCHECK_LOGS)/$$name.%p.log $$t --gtest_brief=1 >$(MEMCHECK_LOGS)/$$name.out 2>&1; then \
	    echo "memcheck $$name: $$(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' $(MEMCHECK_LOGS)/$$name.out)"; \
	  else cat $(MEMCHECK_LOGS)/$$name.out; cat $(MEMCHECK_LOGS)/$$name.*.log; \
	    echo "memcheck $$name: FAILED (logs in $(MEMCHECK_LOGS))"; exit 1; fi; \
	done
	@{ echo '#!/bin/sh'; \
	   echo 'exec $(VALGRIND) --log-file=$(CURDIR)/$(MEMCHECK_LOGS)/velumo.%p.log $(CURDIR)/$(MEMCHECK_BUILD)/runner/velumo "$$@"'; \
	 } >$(MEMCHECK_LOGS)/velumo-under-valgrind && chmod +x $(MEMCHECK_LOGS)/velumo-under-valgrind
	@# One script runs the runner as another user (nobody): its logs must be
	@# writable for that user too.
	@chmod 1777 $(MEMCHECK_LOGS)
	@version=$$(sed -n 's/^\#define VELUMO_VERSION_TEXT "\(.*\)"/\1/p' $(MEMCHECK_BUILD)/generated/velumo_version.h); \
	for script in runner_test runner_safety_test runner_interface_test; do \
	  case $$script in runner_test) extra=examples;; runner_interface_test) extra=$$version;; *) extra=;; esac; \
	  if tests/$$script.sh $(CURDIR)/$(MEMCHECK_LOGS)/velumo-under-valgrind $$extra >$(MEMCHECK_LOGS)/$$script.out 2>&1; then \
	    echo "memcheck velumo ($$script.sh): $$(tail -n 1 $(MEMCHECK_LOGS)/$$script.out)"; \
	  else cat $(MEMCHECK_LOGS)/$$script.out; echo "memcheck velumo ($$script.sh): FAILED (logs in $(MEMCHECK_LOGS))"; exit 1; fi; \
	done
	@bad=$$(grep -L 'ERROR SUMMARY: 0 errors' $(MEMCHECK_LOGS)/*.log); \
	if [ -n "$$bad" ]; then cat $$bad; echo "memcheck: errors in $$bad"; exit 1; fi; \
	echo "memcheck: $$(ls $(MEMCHECK_LOGS)/*.log | wc -l) processes, $$(cat $(MEMCHECK_LOGS)/*.log | \
	  awk '/total heap usage/ {gsub(",", "", $$5); n += $$5} END {print n}') allocations," \
	  "0 errors, no memory definitely or indirectly lost"

# --- static analysis ---------------------------------------------------------

LINT_BUILD := build/lint
LINT_TIDY_SOURCES := $(sort $(filter-out %_windows.cpp,$(wildcard masking/*.cpp hostsim/*.cpp runner/*.cpp)))
# The Windows-only sources are read as MinGW code, with the 64-bit Windows build's commands.
LINT_TIDY_PLUGIN_SOURCES := $(sort $(wildcard plugin/*.cpp hostsim/*_windows.cpp))
LINT_FORMAT_FILES := $(sort $(wildcard hostapi/*.h masking/*.h masking/*.cpp hostsim/*.h hostsim/*.cpp \
  runner/*.h runner/*.cpp plugin/*.h plugin/*.cpp tests/*.cpp tests/support/*.h \
  tests/support/*.cpp tests/fuzz/*.h tests/fuzz/*.cpp bench/*.cpp))
# plugin/ is linted with the compile commands of the 64-bit Windows test
# build (configuring build/win64 is enough): clang-tidy then reads it as MinGW
# code, with MinGW's libstdc++ and Windows headers (and clang's own compiler
# headers).
LINT_WIN_BUILD := build/win64
LINT_MINGW_INCLUDES = $(shell echo | x86_64-w64-mingw32-g++ -xc++ -E -v - 2>&1 | \
  sed -n '/^\#include <\.\.\.>/,/^End of search/p' | grep '^ /' | grep -vE '/gcc/[^/]+/[^/]+/include(-fixed)?$$')
CPPCHECK_FLAGS := -q --std=c++17 --language=c++ --enable=warning,style,performance,portability \
  --inline-suppr --error-exitcode=1 -I . --suppress=missingIncludeSystem --suppress=useStlAlgorithm

# $(call lint_in_database,BUILD,SOURCES): stops unless every source has its
# own compile command in BUILD (clang-tidy would otherwise guess one).
define lint_in_database
	@for f in $(2); do grep -q "\"file\": \"$(CURDIR)/$$f\"" $(1)/compile_commands.json || \
	  { echo "lint: $$f has no compile command in $(1)/compile_commands.json"; exit 1; }; done
endef

lint: need-native need-lint need-windows build/lint/CMakeCache.txt $(LINT_WIN_BUILD)/CMakeCache.txt
	cmake --build --preset lint -j $(JOBS)
	ctest --preset lint -j $(JOBS) >$(LINT_BUILD)/ctest.log || \
	  { grep -A20 -E 'Failure|\*\*\*' $(LINT_BUILD)/ctest.log | head -n 80; exit 1; }
	@echo "lint: clang++-14 builds the native tree with warnings as errors, and its tests pass"
	$(call lint_in_database,$(LINT_BUILD),$(LINT_TIDY_SOURCES))
	@set -o pipefail; printf '%s\n' $(LINT_TIDY_SOURCES) | \
	  xargs -P $(JOBS) -n 1 clang-tidy -p $(LINT_BUILD) --quiet 2>&1 | { grep -v 'warnings generated' || true; }
	@echo "lint: clang-tidy clean on masking/, hostsim/, runner/"
	$(call lint_in_database,$(LINT_WIN_BUILD),$(LINT_TIDY_PLUGIN_SOURCES))
	@set -o pipefail; printf '%s\n' $(LINT_TIDY_PLUGIN_SOURCES) | \
	  xargs -P $(JOBS) -n 1 clang-tidy -p $(LINT_WIN_BUILD) --quiet \
	    --extra-arg-before=--target=x86_64-w64-mingw32 \
	    $(foreach d,$(LINT_MINGW_INCLUDES),--extra-arg=-isystem$(abspath $(d))) 2>&1 | \
	  { grep -v 'warnings generated' || true; }
	@echo "lint: clang-tidy clean on plugin/ and hostsim/*_windows.cpp (MinGW compile commands of $(LINT_WIN_BUILD))"
	cppcheck $(CPPCHECK_FLAGS) masking hostsim runner plugin
	@echo "lint: cppcheck clean on masking/, hostsim/, runner/, plugin/"
	clang-format --dry-run --Werror $(LINT_FORMAT_FILES)
	@echo "lint: clang-format clean"

# --- coverage ----------------------------------------------------------------

COVERAGE_BUILD := build/coverage

coverage: need-native need-coverage build/coverage/CMakeCache.txt
	LLVM_PROFILE_FILE=$(CURDIR)/$(COVERAGE_BUILD)/discovery/%p.profraw cmake --build --preset coverage -j $(JOBS)
	@rm -rf $(COVERAGE_BUILD)/profiles
	LLVM_PROFILE_FILE=$(CURDIR)/$(COVERAGE_BUILD)/profiles/%p.profraw \
	  ctest --preset coverage -j $(JOBS) >$(COVERAGE_BUILD)/ctest.log || \
	  { grep -A20 -E 'Failure|\*\*\*' $(COVERAGE_BUILD)/ctest.log | head -n 80; exit 1; }
	llvm-profdata-14 merge -sparse -o $(COVERAGE_BUILD)/suite.profdata $(COVERAGE_BUILD)/profiles/*.profraw
	@objects=$$(find $(COVERAGE_BUILD)/tests $(COVERAGE_BUILD)/runner -maxdepth 1 -type f -perm -u+x \
	  -name 'velumo*' | sort | sed '2,$$s/^/-object=/'); \
	llvm-cov-14 report $$objects -instr-profile=$(COVERAGE_BUILD)/suite.profdata \
	  $(CURDIR)/masking/*.cpp | tee $(COVERAGE_BUILD)/masking-coverage.txt; \
	echo "coverage: line coverage of masking/ by the native test suite:" \
	  "$$(awk '/^TOTAL/ {print $$(NF-3)}' $(COVERAGE_BUILD)/masking-coverage.txt)"; \
	llvm-cov-14 report $$objects -instr-profile=$(COVERAGE_BUILD)/suite.profdata \
	  $(CURDIR)/plugin/app_title.cpp >$(COVERAGE_BUILD)/app-title-coverage.txt; \
	echo "coverage: line coverage of plugin/app_title.cpp by the native test suite:" \
	  "$$(awk '/^TOTAL/ {print $$(NF-3)}' $(COVERAGE_BUILD)/app-title-coverage.txt)"
