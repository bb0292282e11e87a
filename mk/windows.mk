# Windows module builds and tests (added with the plug-in module).
.PHONY: test-windows
test-windows:
	@true
