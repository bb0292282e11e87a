# Hardening: fuzzing, memory checking, static analysis and coverage.
# Included by the top-level Makefile.
#
#   make test-hardening  what CI runs (part of make test): every fuzz corpus
#                        replayed and a short run of each fuzz target, the
#                        native tests under valgrind, and the linters
#   make fuzz            each fuzz target in turn for FUZZ_SECONDS (60) and
#                        its executions per second; new inputs are kept in
#                        build/fuzz/corpus/, crashes in build/fuzz/artifacts/
#   make fuzz-check      the corpus replays and FUZZ_CHECK_SECONDS (5) per target
#   make memcheck        the native test suite (GoogleTest binaries and the
#                        runner's contract test) under valgrind memcheck
#   make lint            the native tree built with clang (warnings as errors)
#                        and tested, clang-tidy, cppcheck and clang-format
#   make coverage        line coverage of masking/ and of the module's portable
#                        caption logic by the native test suite
#
# A failing fuzz input is replayed with build/fuzz/velumo_fuzz_<target> FILE
# (the check that failed is printed). Once fixed, the input is copied into
# tests/fuzz/corpus/<target>/ as a regression input, which every replay then
# runs; tests/fuzz/make_seeds.py writes the hand-made seeds there.

FUZZ_PACKAGES := clang-14 libclang-rt-14-dev libfuzzer-14-dev
MEMCHECK_PACKAGES := valgrind
LINT_PACKAGES := clang-14 clang-tidy clang-format cppcheck
COVERAGE_PACKAGES := clang-14 llvm-14

.PHONY: test-hardening deps-fuzz deps-memcheck deps-lint deps-coverage \
  fuzz-build fuzz-replay fuzz-check fuzz memcheck lint coverage

test-hardening: fuzz-check memcheck lint
	@echo "test-hardening: fuzzing, memcheck and lint passed"

deps-fuzz:
	$(call apt_need,$(FUZZ_PACKAGES))

deps-memcheck:
	$(call apt_need,$(MEMCHECK_PACKAGES))

deps-lint:
	$(call apt_need,$(LINT_PACKAGES))

deps-coverage:
	$(call apt_need,$(COVERAGE_PACKAGES))

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

fuzz-build: deps-native deps-fuzz
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

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

MEMCHECK_BUILD := build/memcheck
MEMCHECK_LOGS := $(MEMCHECK_BUILD)/valgrind
VALGRIND := valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect

memcheck: deps-native deps-memcheck
	cmake -S . -B $(MEMCHECK_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUMO_WERROR=ON >/dev/null
	cmake --build $(MEMCHECK_BUILD) -j $(JOBS)
	@rm -rf $(MEMCHECK_LOGS) && mkdir -p $(MEMCHECK_LOGS)
	@for t in $$(find $(MEMCHECK_BUILD)/tests -maxdepth 1 -type f -name 'velumo_*_test' -perm -u+x | sort); do \
	  name=$$(basename $$t); \
	  if $(VALGRIND) --log-file=$(MEMCHECK_LOGS)/$$name.%p.log $$t --gtest_brief=1 >$(MEMCHECK_LOGS)/$$name.out 2>&1; then \
	    echo "memcheck $$name: $$(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' $(MEMCHECK_LOGS)/$$name.out)"; \
	  else cat $(MEMCHECK_LOGS)/$$name.out; cat $(MEMCHECK_LOGS)/$$name.*.log; \
	    echo "memcheck $$name: FAILED (logs in $(MEMCHECK_LOGS))"; exit 1; fi; \
	done
	@{ echo '#!/bin/sh'; \
	   echo 'exec $(VALGRIND) --log-file=$(CURDIR)/$(MEMCHECK_LOGS)/velumo.%p.log $(CURDIR)/$(MEMCHECK_BUILD)/runner/velumo "$$@"'; \
	 } >$(MEMCHECK_BUILD)/velumo-under-valgrind && chmod +x $(MEMCHECK_BUILD)/velumo-under-valgrind
	@if tests/runner_test.sh $(MEMCHECK_BUILD)/velumo-under-valgrind examples >$(MEMCHECK_LOGS)/runner.out 2>&1; then \
	  echo "memcheck velumo (runner contract): $$(tail -n 1 $(MEMCHECK_LOGS)/runner.out)"; \
	else cat $(MEMCHECK_LOGS)/runner.out; echo "memcheck velumo: FAILED (logs in $(MEMCHECK_LOGS))"; exit 1; fi
	@bad=$$(grep -L 'ERROR SUMMARY: 0 errors' $(MEMCHECK_LOGS)/*.log); \
	if [ -n "$$bad" ]; then cat $$bad; echo "memcheck: errors in $$bad"; exit 1; fi; \
	echo "memcheck: $$(ls $(MEMCHECK_LOGS)/*.log | wc -l) processes, $$(cat $(MEMCHECK_LOGS)/*.log | \
	  awk '/total heap usage/ {gsub(",", "", $$5); n += $$5} END {print n}') allocations," \
	  "0 errors, no memory definitely or indirectly lost"

# --- static analysis ---------------------------------------------------------

LINT_BUILD := build/lint
LINT_TIDY_SOURCES := $(sort $(wildcard masking/*.cpp hostsim/*.cpp runner/*.cpp))
LINT_FORMAT_FILES := $(sort $(wildcard hostapi/*.h masking/*.h masking/*.cpp hostsim/*.h hostsim/*.cpp \
  runner/*.h runner/*.cpp plugin/*.h plugin/*.cpp tests/*.cpp tests/support/*.h \
  tests/support/*.cpp tests/fuzz/*.h tests/fuzz/*.cpp bench/*.cpp))
# plugin/ is linted with the compile commands of the 64-bit Windows test
# build, when one exists: clang-tidy then reads it as MinGW code, with MinGW's
# libstdc++ and Windows headers (and clang's own compiler headers).
LINT_WIN_BUILD := build/win-x86_64
LINT_MINGW_INCLUDES = $(shell echo | x86_64-w64-mingw32-g++ -xc++ -E -v - 2>&1 | \
  sed -n '/^\#include <\.\.\.>/,/^End of search/p' | grep '^ /' | grep -vE '/gcc/[^/]+/[^/]+/include(-fixed)?$$')
CPPCHECK_FLAGS := -q --std=c++17 --language=c++ --enable=warning,style,performance,portability \
  --inline-suppr --error-exitcode=1 -I . --suppress=missingIncludeSystem --suppress=useStlAlgorithm

lint: deps-native deps-lint
	cmake -S . -B $(LINT_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
	  -DVELUMO_WERROR=ON >/dev/null
	cmake --build $(LINT_BUILD) -j $(JOBS)
	ctest --test-dir $(LINT_BUILD) -j $(JOBS) --output-on-failure >$(LINT_BUILD)/ctest.log || \
	  { grep -A20 -E 'Failure|\*\*\*' $(LINT_BUILD)/ctest.log | head -n 80; exit 1; }
	@echo "lint: clang++-14 builds the native tree with warnings as errors, and its tests pass"
	@set -o pipefail; printf '%s\n' $(LINT_TIDY_SOURCES) | \
	  xargs -P $(JOBS) -n 1 clang-tidy -p $(LINT_BUILD) --quiet 2>&1 | { grep -v 'warnings generated' || true; }
	@echo "lint: clang-tidy clean on masking/, hostsim/, runner/"
	@if [ -f $(LINT_WIN_BUILD)/compile_commands.json ] && command -v x86_64-w64-mingw32-g++ >/dev/null; then \
	  set -o pipefail; printf '%s\n' plugin/*.cpp | xargs -P $(JOBS) -n 1 clang-tidy -p $(LINT_WIN_BUILD) --quiet \
	    --extra-arg-before=--target=x86_64-w64-mingw32 \
	    $(foreach d,$(LINT_MINGW_INCLUDES),--extra-arg=-isystem$(abspath $(d))) 2>&1 | \
	    { grep -v 'warnings generated' || true; } || exit 1; \
	  echo "lint: clang-tidy clean on plugin/ (MinGW compile commands of $(LINT_WIN_BUILD))"; \
	else echo "lint: no $(LINT_WIN_BUILD) build: plugin/ is linted by cppcheck only"; fi
	cppcheck $(CPPCHECK_FLAGS) masking hostsim runner plugin
	@echo "lint: cppcheck clean on masking/, hostsim/, runner/, plugin/"
	clang-format --dry-run --Werror $(LINT_FORMAT_FILES)
	@echo "lint: clang-format clean"

# --- coverage ----------------------------------------------------------------

COVERAGE_BUILD := build/coverage
COVERAGE_FLAGS := -fprofile-instr-generate -fcoverage-mapping

coverage: deps-native deps-coverage
	cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
	  "-DCMAKE_CXX_FLAGS=$(COVERAGE_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(COVERAGE_FLAGS)" >/dev/null
	LLVM_PROFILE_FILE=$(CURDIR)/$(COVERAGE_BUILD)/discovery/%p.profraw cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	@rm -rf $(COVERAGE_BUILD)/profiles
	LLVM_PROFILE_FILE=$(CURDIR)/$(COVERAGE_BUILD)/profiles/%p.profraw \
	  ctest --test-dir $(COVERAGE_BUILD) -j $(JOBS) --output-on-failure >$(COVERAGE_BUILD)/ctest.log
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
