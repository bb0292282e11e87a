# Windows module: Velumo.dll (32-bit, the product), its clang build and the
# 64-bit build of the same sources, each run in Wine. Included by the
# top-level Makefile; the release (the dist zip and its checks) is in
# mk/release.mk.
#
#   make windows-product   build/win32: the product, the programs that play
#                          the host, and the pefile check of the module's
#                          exports, imports and resources
#   make windows-clang     build/win32-clang: the module from clang, same check
#   make windows-testbuild build/win64: the same sources for 64-bit Windows
#   make test-windows      all three, then in Xvfb: the Windows suite against
#                          the gcc and the clang Velumo.dll in 32-bit Wine
#                          (started by mk/run-win32, which says its route),
#                          velumo_host through the runner's contract scripts
#                          and against the native runner (differential test);
#                          then the suite on the 64-bit build in 64-bit Wine
#   make about-box-png     refresh docs/about-box.png from the last 32-bit run
#   make coverage-windows  line coverage of plugin/ by the 64-bit Wine tests
#
# Where this machine runs no 32-bit code at all (mk/run-win32 --route says
# why), the 32-bit tests are left out, the log and make test's summary say
# so plainly, and the 64-bit run goes on.

WIN32_BUILD := build/win32
WIN64_BUILD := build/win64
XVFB_RUN := xvfb-run -a -s "-screen 0 1024x768x24"

.PHONY: windows-product windows-clang windows-testbuild test-windows about-box-png coverage-windows

# The module and the stand-in (all the release needs); the programs that play
# the host and the Wine tests (label "wine") wait for test-windows.
windows-product: need-windows build/win32/CMakeCache.txt
	cmake --build --preset win32 -j $(JOBS)
	ctest --preset win32 -LE wine

# The same module from a second compiler (clang with the MinGW libraries): it
# must build without a warning and pass the same structure check; build/win32
# then runs the Windows suite against it too.
windows-clang: need-windows build/win32-clang/CMakeCache.txt
	cmake --build --preset win32-clang -j $(JOBS)
	ctest --preset win32-clang

windows-testbuild: need-windows build/win64/CMakeCache.txt
	cmake --build --preset win64 -j $(JOBS)
	cmake --build --preset win64 -j $(JOBS) --target velumo_windows_tests

# Each ctest run makes a fresh Wine prefix (and Japanese locale) in its tree
# first; the tests that show windows then take turns on one X display. The
# differential test compares with build/native's runner.
test-windows: windows-product windows-clang windows-testbuild native
	cmake --build --preset win32 -j $(JOBS) --target velumo_windows_tests
	@if mk/run-win32 --route; then \
	  $(XVFB_RUN) ctest --preset win32 -j $(JOBS) || exit 1; \
	else \
	  echo "test-windows: THE 32-BIT PRODUCT WAS NOT EXECUTED (no route above); only its structure was checked"; \
	fi
	$(XVFB_RUN) ctest --preset win64 -j $(JOBS)

# The about-box test of the 32-bit product saves a screenshot of the open box
# as a BMP.
about-box-png: need-windows
	@test -f $(WIN32_BUILD)/tests/windows/about-box.bmp || { echo "run make test-windows first"; exit 1; }
	mkdir -p docs
	convert $(WIN32_BUILD)/tests/windows/about-box.bmp -strip docs/about-box.png

# Line coverage of plugin/ by the Wine tests: the 64-bit test build with gcov
# instrumentation (the counters land beside the objects through Wine's Z:
# drive), summed over the module's own sources.
WINCOV_BUILD := build/win64-coverage

coverage-windows: need-windows build/win64-coverage/CMakeCache.txt
	cmake --build --preset win64-coverage -j $(JOBS) --target all velumo_windows_tests
	find $(WINCOV_BUILD) -name '*.gcda' -delete
	$(XVFB_RUN) ctest --preset win64-coverage -j $(JOBS) >$(WINCOV_BUILD)/ctest.log || \
	  { cat $(WINCOV_BUILD)/ctest.log; exit 1; }
	@cd $(WINCOV_BUILD)/plugin/CMakeFiles/velumo_plugin.dir && \
	x86_64-w64-mingw32-gcov -n *.gcda 2>/dev/null | awk ' \
	  /^File / { file = $$2; gsub(/\x27/, "", file); next } \
	  /^Lines executed:/ && file ~ /\/plugin\// { \
	    split($$2, part, "%"); sub(/.*:/, "", part[1]); n = $$4; \
	    hit += part[1] * n / 100; total += n; printf "  %-40s %s\n", file, $$0; file = "" } \
	  END { printf "coverage-windows: line coverage of plugin/ by the 64-bit Wine tests: %.1f%% (%d of %d lines)\n", \
	    100 * hit / total, hit + 0.5, total }'
