# Debian packages: the one place that installs them. Included by the Makefile.
#
#   make deps           installs every package that any target needs and the
#                       machine lacks, saying which (as root, with apt-get),
#                       after adding the foreign architecture of any (i386
#                       for wine32:i386) to dpkg; where the kernel runs no
#                       i386 code, also qemu-user from bookworm-backports
#                       (deps-emulation). Run again, it changes nothing.
#   make deps-GROUP     the same for one group below (`make demo` installs
#                       the native group only)
#
# Every other target only checks the groups it needs (need-GROUP) and, when
# a package is missing, stops and names it. With VELUMO_NO_INSTALL=1, `make
# deps` (and so `make demo` and `make test`) checks too instead of installing.

# libacl1-dev: a save keeps the document's ACL; acl (setfacl, getfacl): its tests;
# python3: the runner's tests and stress script.
# The runner's PDF store (qpdf reads and writes, poppler renders) and what its
# tests make and judge PDF files with: LibreOffice, Ghostscript, cairo and
# pikepdf for /usr/bin/python3, qpdf and poppler's tools, and the fonts the
# documents use.
PACKAGES_pdf := pkgconf libqpdf-dev libpoppler-cpp-dev qpdf poppler-utils ghostscript \
  libreoffice-writer-nogui python3-pikepdf python3-cairo python3-pil fonts-dejavu-core \
  fonts-ipafont-gothic
PACKAGES_native := g++ cmake make libgtest-dev nlohmann-json3-dev libacl1-dev acl python3 \
  $(PACKAGES_pdf)
# pixman: the region benchmark's yardstick; valgrind counts the region's work.
PACKAGES_bench := libbenchmark-dev libpixman-1-dev pkgconf valgrind
PACKAGES_fuzz := clang-14 libclang-rt-14-dev libfuzzer-14-dev pkgconf libqpdf-dev
PACKAGES_memcheck := valgrind python3
PACKAGES_lint := clang-14 clang-tidy clang-format cppcheck
PACKAGES_coverage := clang-14 llvm-14
# The Windows builds (g++ and clang for MinGW-w64), GoogleTest's sources for
# the cross-built tests, pefile for the structure check, 32-bit and 64-bit
# Wine in Xvfb with a Japanese locale and font, imagemagick for the about-box
# picture. wine32 is a package of the i386 architecture, which is added to
# dpkg first (see packages_install).
PACKAGES_windows := cmake make clang-14 g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest \
  python3-pefile wine wine64 wine32:i386 fonts-wine xvfb xauth locales fonts-ipafont-gothic \
  imagemagick
# Packing, reproducing and signing the release.
PACKAGES_release := git zip unzip openssl osslsigncode

DEPS_GROUPS := native bench fuzz memcheck lint coverage windows release
PACKAGES_all := $(sort $(foreach g,$(DEPS_GROUPS),$(PACKAGES_$(g))))

# $(call packages_missing,PACKAGES): a shell command that prints those of the
# packages that are not installed.
packages_missing = for p in $(1); do \
  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q ' ok installed$$' || echo $$p; done | xargs

# $(call packages_check,GROUP,PACKAGES): stops with their names if any is missing.
define packages_check
	@missing=$$($(call packages_missing,$(2))); \
	if [ -n "$$missing" ]; then \
	  echo "Missing Debian packages ($(1)): $$missing"; \
	  echo "Install them with 'make deps' as root, or: apt-get install $$missing"; \
	  exit 1; \
	fi
endef

# $(call packages_install,GROUP,PACKAGES): installs the missing ones, saying
# which; with VELUMO_NO_INSTALL=1, checks only.
ifeq ($(VELUMO_NO_INSTALL),)
define packages_install
	@missing=$$($(call packages_missing,$(2))); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" != 0 ]; then \
	    echo "Missing Debian packages ($(1)): $$missing"; \
	    echo "Installing them needs root: run 'make deps' as root, or: apt-get install $$missing"; \
	    exit 1; \
	  fi; \
	  for arch in $$(printf '%s\n' $$missing | sed -n 's/^[^:]*:\(.*\)$$/\1/p' | sort -u); do \
	    if [ "$$arch" != "$$(dpkg --print-architecture)" ] && \
	       ! dpkg --print-foreign-architectures | grep -qx "$$arch"; then \
	      echo "Adding the $$arch architecture to dpkg (dpkg --add-architecture $$arch)"; \
	      dpkg --add-architecture "$$arch" || exit 1; \
	    fi; \
	  done; \
	  echo "Installing missing Debian packages ($(1)): $$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi
endef
else
packages_install = $(packages_check)
endif

.PHONY: deps deps-emulation
deps:
	$(call packages_install,all,$(PACKAGES_all))
	@$(MAKE) --no-print-directory deps-emulation

# Where the kernel refuses i386 programs, 32-bit Wine runs in user-mode
# emulation (mk/run-win32): qemu-i386 10 or later, from qemu-user in
# bookworm-backports (bookworm's own 7.2 crashes in Wine's background
# processes). Installed only where it is needed, and only from an apt source
# of bookworm-backports that the machine already has: if there is none, this
# says so and stops.
deps-emulation: deps-windows
	@if mk/run-win32 --route >/dev/null; then exit 0; fi; \
	if [ "$(VELUMO_NO_INSTALL)" != "" ] || [ "$$(id -u)" != 0 ]; then \
	  mk/run-win32 --route; echo "Install qemu-user from bookworm-backports (as root: make deps)"; exit 1; fi; \
	if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d; then \
	  echo "This kernel refuses i386 programs, and qemu-user 10 comes from bookworm-backports:"; \
	  echo "add bookworm-backports to the apt sources (the suite beside bookworm), then make deps again"; \
	  exit 1; \
	fi; \
	echo "This kernel refuses i386 programs: installing qemu-user from bookworm-backports"; \
	export DEBIAN_FRONTEND=noninteractive; \
	apt-get update -qq && apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null && \
	mk/run-win32 --route

define deps_group_rules
.PHONY: deps-$(1) need-$(1)
deps-$(1):
	$$(call packages_install,$(1),$$(PACKAGES_$(1)))
need-$(1):
	$$(call packages_check,$(1),$$(PACKAGES_$(1)))
endef
$(foreach g,$(DEPS_GROUPS),$(eval $(call deps_group_rules,$(g))))
