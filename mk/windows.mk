# Windows module: Velumo.dll (32-bit, the product) and its 64-bit test build
# run under Wine. Included by the top-level Makefile; the release (the dist
# zip and its checks) is in mk/release.mk.
#
#   make windows-product   build/win32: the product, and the pefile check of
#                          its exports, imports and resources
#   make windows-clang     build/win32-clang: the module from clang, same check
#   make windows-testbuild build/win64: the same sources for 64-bit Windows
#   make test-windows      all three, then the module under 64-bit Wine (in Xvfb)
#   make about-box-png     refresh docs/about-box.png from the last test run
#   make coverage-windows  line coverage of plugin/ by the Wine tests
#
# The kernel here cannot run 32-bit programs (and wine32 must never be
# installed: it would take over /usr/bin/wine), so the 32-bit product is
# checked structurally and its behaviour is tested on the 64-bit build of the
# very same sources.

WIN32_BUILD := build/win32
WIN64_BUILD := build/win64
XVFB_RUN := xvfb-run -a -s "-screen 0 1024x768x24"

.PHONY: windows-product windows-clang windows-testbuild test-windows about-box-png coverage-windows

windows-product: need-windows build/win32/CMakeCache.txt
	cmake --build --preset win32 -j $(JOBS)
	ctest --preset win32

# The same module from a second compiler (clang with the MinGW libraries): it
# must build without a warning and pass the same structure check. Only the
# module is built; the Wine tests run on the g++ build.
windows-clang: need-windows build/win32-clang/CMakeCache.txt
	cmake --build --preset win32-clang -j $(JOBS)
	ctest --preset win32-clang

windows-testbuild: need-windows build/win64/CMakeCache.txt
	cmake --build --preset win64 -j $(JOBS)

# ctest makes a fresh Wine prefix (and Japanese locale) in build/win64 first;
# the Wine tests then take turns on one X display.
test-windows: windows-product windows-clang windows-testbuild
	$(XVFB_RUN) ctest --preset win64 -j $(JOBS)

# The about-box test saves a screenshot of the open box as a BMP.
about-box-png: need-windows
	@test -f $(WIN64_BUILD)/tests/windows/about-box.bmp || { echo "run make test-windows first"; exit 1; }
	mkdir -p docs
	convert $(WIN64_BUILD)/tests/windows/about-box.bmp -strip docs/about-box.png

# Line coverage of plugin/ by the Wine tests: the 64-bit test build with gcov
# instrumentation (the counters land beside the objects through Wine's Z:
# drive), summed over the module's own sources.
WINCOV_BUILD := build/win64-coverage

coverage-windows: need-windows build/win64-coverage/CMakeCache.txt
	cmake --build --preset win64-coverage -j $(JOBS)
	find $(WINCOV_BUILD) -name '*.gcda' -delete
	$(XVFB_RUN) ctest --preset win64-coverage -j $(JOBS) >$(WINCOV_BUILD)/ctest.log || \
	  { cat $(WINCOV_BUILD)/ctest.log; exit 1; }
	@cd $(WINCOV_BUILD)/plugin/CMakeFiles/velumo_plugin.dir && \
	x86_64-w64-mingw32-gcov -n *.gcda 2>/dev/null | awk ' \
	  /^File / { file = $$2; gsub(/\x27/, "", file); next } \
	  /^Lines executed:/ && file ~ /\/plugin\// { \
	    split($$2, part, "%"); sub(/.*:/, "", part[1]); n = $$4; \
	    hit += part[1] * n / 100; total += n; printf "  %-40s %s\n", file, $$0; file = "" } \
	  END { printf "coverage-windows: line coverage of plugin/ by the Wine tests: %.1f%% (%d of %d lines)\n", \
	    100 * hit / total, hit + 0.5, total }'
