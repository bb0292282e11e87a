# Fuzzing, memory checking and static analysis (filled in with the hardening work).
.PHONY: test-hardening
test-hardening:
	@true
