# Installs missing Debian packages, saying what it installs. Needs root.
# $(call apt_need,package ...) installs those of the packages that are absent.
define apt_need
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi
endef

NATIVE_PACKAGES := g++ cmake make libgtest-dev nlohmann-json3-dev
BENCH_PACKAGES := libbenchmark-dev

.PHONY: deps-native deps-bench
deps-native:
	$(call apt_need,$(NATIVE_PACKAGES))

deps-bench:
	$(call apt_need,$(BENCH_PACKAGES))
