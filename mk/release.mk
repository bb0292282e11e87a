# The release: the zip for users, its reproducibility and its signature.
# Included by the top-level Makefile; the work is done by the scripts named.
#
#   make dist                the zip for users in build/win-dist/: 32-bit
#                            Velumo.dll, read-me files (Japanese, English) and
#                            SHA-256 checksums, byte for byte the same from
#                            every clean build of the same sources (mk/dist.sh)
#   make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem
#                            the same with Velumo.dll signed (Authenticode,
#                            osslsigncode, no timestamp) and the signature
#                            verified before packing. SIGN_CA (default:
#                            SIGN_CERT) holds the root the verification
#                            trusts, SIGN_PASS_FILE the key's passphrase if
#                            it has one, SIGN_VERIFY_FLAGS more verify options
#   make test-release        the three checks below (part of make test)
#   make check-release-hash  build/win32's Velumo.dll has the SHA-256 that
#                            README.md states (mk/release_hash.sh)
#   make update-release-hash writes that SHA-256 into README.md
#   make reproduce           two fresh copies of the sources, in folders of
#                            different depth, built from scratch with
#                            different umask, time zone, locale and
#                            SOURCE_DATE_EPOCH, give the same DLL (also the
#                            same as build/win32's) and the same zip
#                            (tests/release/reproduce.sh)
#   make test-signing        a throwaway self-signed certificate signs a zip,
#                            whose DLL verifies; an unsigned, a tampered and a
#                            foreign-signed copy are rejected
#                            (tests/release/test_signing.sh)

DIST_BUILD ?= build/win-dist
REPRODUCE_BUILD := build/reproduce
SIGN_TEST := build/sign-test

.PHONY: dist test-release check-release-hash update-release-hash reproduce test-signing

dist: need-release windows-product
	SIGN_CERT='$(SIGN_CERT)' SIGN_KEY='$(SIGN_KEY)' SIGN_CA='$(SIGN_CA)' SIGN_PASS_FILE='$(SIGN_PASS_FILE)' \
	  SIGN_VERIFY_FLAGS='$(SIGN_VERIFY_FLAGS)' mk/dist.sh $(WIN32_BUILD) $(DIST_BUILD)

test-release: check-release-hash reproduce test-signing
	@echo "test-release: README's SHA-256, reproducible build and signing checked"

check-release-hash: windows-product
	@mk/release_hash.sh check $(WIN32_BUILD)/plugin/Velumo.dll

update-release-hash: windows-product
	@mk/release_hash.sh update $(WIN32_BUILD)/plugin/Velumo.dll

reproduce: need-release windows-product
	MAKE="$(MAKE)" JOBS=$(JOBS) tests/release/reproduce.sh $(REPRODUCE_BUILD) $(WIN32_BUILD)/plugin/Velumo.dll

test-signing: need-release windows-product
	tests/release/test_signing.sh $(SIGN_TEST) $(WIN32_BUILD)
