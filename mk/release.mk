# The release: the zip for users, its reproducibility and its signature.
# Included by the top-level Makefile.
#
#   make dist                the zip for users in build/win-dist/: 32-bit
#                            Velumo.dll, read-me files (Japanese, English) and
#                            SHA-256 checksums, byte for byte the same from
#                            every clean build of the same sources
#   make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem
#                            the same with Velumo.dll signed (Authenticode,
#                            osslsigncode, no timestamp) and the signature
#                            verified before packing. SIGN_CA (default:
#                            SIGN_CERT) holds the root the verification
#                            trusts, SIGN_PASS_FILE the key's passphrase if
#                            it has one, SIGN_VERIFY_FLAGS more verify options
#   make test-release        the three checks below (part of make test)
#   make check-release-hash  build/win32's Velumo.dll has the SHA-256 that
#                            README.md states
#   make update-release-hash writes that SHA-256 into README.md
#   make reproduce           two fresh copies of the sources, in folders of
#                            different depth, built from scratch with
#                            different umask, time zone, locale and
#                            SOURCE_DATE_EPOCH, give the same DLL (also the
#                            same as build/win32's) and the same zip
#   make test-signing        a throwaway self-signed certificate signs a zip
#                            (make dist SIGN_CERT=... SIGN_KEY=...), whose
#                            DLL verifies; an unsigned, a tampered and a
#                            foreign-signed copy are rejected

DIST_BUILD ?= build/win-dist
# The version comes from the product build's generated header (expanded once
# that build exists).
DIST_NAME = velumo-$(shell sed -n 's/^\#define VELUMO_VERSION_TEXT "\(.*\)"/\1/p' \
  $(WIN32_BUILD)/generated/velumo_version.h)-win32
DIST_DIR = $(DIST_BUILD)/$(DIST_NAME)
DIST_FILES := Velumo.dll README-ja.txt README-en.txt SHA256SUMS.txt
# Every file in the zip carries this date (UTC): the earliest a zip can
# hold, so that it reads as no date at all rather than a build time.
DIST_FILE_DATE := 1980-01-01 00:00:00

SIGN_CA ?= $(SIGN_CERT)
SIGN_DESCRIPTION := Velumo plugin DLL for DocuWorks

.PHONY: dist test-release check-release-hash update-release-hash reproduce test-signing

# The read-mes go in as Windows text (CRLF): the Japanese one in code page
# 932, the English one (which quotes the Japanese messages) in UTF-8 with a
# byte order mark. Names, order, modes and dates of the entries are fixed,
# and zip keeps no owner or extra time stamps (-X), so that the zip depends
# on the contents alone.
dist: need-release windows-product
ifneq ($(SIGN_CERT)$(SIGN_KEY),)
	@if [ -z "$(SIGN_CERT)" ] || [ -z "$(SIGN_KEY)" ]; then \
	  echo "dist: signing needs both SIGN_CERT (certificate, PEM) and SIGN_KEY (private key, PEM)"; exit 1; fi
endif
	rm -rf $(DIST_DIR) $(DIST_DIR).zip $(DIST_DIR).zip.sha256
	mkdir -p $(DIST_DIR)
ifeq ($(SIGN_CERT),)
	cp $(WIN32_BUILD)/plugin/Velumo.dll $(DIST_DIR)/Velumo.dll
else
	osslsigncode sign -certs $(SIGN_CERT) -key $(SIGN_KEY) $(if $(SIGN_PASS_FILE),-readpass $(SIGN_PASS_FILE)) \
	  -h sha256 -n "$(SIGN_DESCRIPTION)" -in $(WIN32_BUILD)/plugin/Velumo.dll -out $(DIST_DIR)/Velumo.dll >/dev/null
	@osslsigncode verify -in $(DIST_DIR)/Velumo.dll -CAfile $(SIGN_CA) $(SIGN_VERIFY_FLAGS) \
	  >$(DIST_BUILD)/verify.log 2>&1 || { cat $(DIST_BUILD)/verify.log; \
	  echo "dist: the signed Velumo.dll does not verify against $(SIGN_CA)"; exit 1; }
	@echo "dist: Velumo.dll signed by $$(openssl x509 -noout -subject -in $(SIGN_CERT) | sed 's/^subject=//')," \
	  "and its signature verifies against $(SIGN_CA)"
endif
	sed 's/$$/\r/' dist/README-ja.txt | iconv -f UTF-8 -t CP932 > $(DIST_DIR)/README-ja.txt
	{ printf '\357\273\277'; sed 's/$$/\r/' dist/README-en.txt; } > $(DIST_DIR)/README-en.txt
	cd $(DIST_DIR) && sha256sum Velumo.dll README-ja.txt README-en.txt > SHA256SUMS.txt
	chmod 0644 $(addprefix $(DIST_DIR)/,$(DIST_FILES))
	TZ=UTC0 touch -d '$(DIST_FILE_DATE)' $(addprefix $(DIST_DIR)/,$(DIST_FILES))
	cd $(DIST_BUILD) && TZ=UTC0 env -u ZIPOPT -u ZIP zip -X -D -q $(DIST_NAME).zip \
	  $(addprefix $(DIST_NAME)/,$(DIST_FILES))
	cd $(DIST_BUILD) && sha256sum $(DIST_NAME).zip > $(DIST_NAME).zip.sha256
	@echo "Distribution: $(DIST_DIR).zip"
	@cat $(DIST_DIR)/SHA256SUMS.txt $(DIST_DIR).zip.sha256

test-release: check-release-hash reproduce test-signing
	@echo "test-release: README's SHA-256, reproducible build and signing checked"

# --- the SHA-256 that README.md states -------------------------------------

# The line in README.md: four spaces, the SHA-256, two spaces, Velumo.dll.
RELEASE_HASH_LINE := ^    [0-9a-f]{64}  Velumo\.dll$$
# The Debian packages whose versions the module's bytes depend on.
RELEASE_TOOLCHAIN := g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime binutils-mingw-w64-i686 \
  mingw-w64-i686-dev

check-release-hash: windows-product
	@lines=$$(grep -cE '$(RELEASE_HASH_LINE)' README.md); \
	if [ "$$lines" != 1 ]; then \
	  echo "check-release-hash: README.md must hold one line '    <SHA-256>  Velumo.dll'; it holds $$lines"; \
	  exit 1; fi; \
	stated=$$(grep -E '$(RELEASE_HASH_LINE)' README.md | awk '{print $$1}'); \
	built=$$(sha256sum $(WIN32_BUILD)/plugin/Velumo.dll | cut -d' ' -f1); \
	if [ "$$stated" = "$$built" ]; then \
	  echo "check-release-hash: $(WIN32_BUILD)/plugin/Velumo.dll has the SHA-256 that README.md states: $$built"; \
	else \
	  echo "check-release-hash: README.md states $$stated"; \
	  echo "                    but $(WIN32_BUILD)/plugin/Velumo.dll has $$built"; \
	  echo "Built with:"; dpkg-query -W -f='  $${Package} $${Version}\n' $(RELEASE_TOOLCHAIN); \
	  echo "If the module changed on purpose, run 'make update-release-hash' and commit README.md with the"; \
	  echo "change; if not, compare the toolchain above with the one README.md names."; \
	  exit 1; \
	fi

update-release-hash: windows-product
	@lines=$$(grep -cE '$(RELEASE_HASH_LINE)' README.md); \
	if [ "$$lines" != 1 ]; then \
	  echo "update-release-hash: README.md must hold one line '    <SHA-256>  Velumo.dll'; it holds $$lines"; \
	  exit 1; fi; \
	built=$$(sha256sum $(WIN32_BUILD)/plugin/Velumo.dll | cut -d' ' -f1); \
	sed -i -E "s/$(RELEASE_HASH_LINE)/    $$built  Velumo.dll/" README.md; \
	echo "update-release-hash: README.md now states $$built"

# --- reproducibility ---------------------------------------------------------

REPRODUCE_BUILD := build/reproduce

reproduce: need-release windows-product
	MAKE="$(MAKE)" JOBS=$(JOBS) tests/release/reproduce.sh $(REPRODUCE_BUILD) $(WIN32_BUILD)/plugin/Velumo.dll

# --- signing -----------------------------------------------------------------

SIGN_TEST := build/sign-test

test-signing: need-release windows-product
	@rm -rf $(SIGN_TEST) && mkdir -p $(SIGN_TEST)
	openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 2 -subj "/CN=Velumo throwaway test signer" \
	  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
	  -keyout $(SIGN_TEST)/key.pem -out $(SIGN_TEST)/cert.pem 2>/dev/null
	$(MAKE) --no-print-directory dist DIST_BUILD=$(SIGN_TEST)/dist \
	  SIGN_CERT=$(SIGN_TEST)/cert.pem SIGN_KEY=$(SIGN_TEST)/key.pem
	tests/release/check_signature.sh $(SIGN_TEST)/dist/$(DIST_NAME).zip $(SIGN_TEST)/cert.pem \
	  $(WIN32_BUILD)/plugin/Velumo.dll
