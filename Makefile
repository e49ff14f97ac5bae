# Front door: `make` builds, `make check` tests, `make demo` runs the main job on sample data,
# `make install` installs the suite's programs (PREFIX, DESTDIR as packagers expect).
JOBS ?= 2
BUILD := build
ASAN_BUILD := build-asan
PREFIX ?= /usr/local
DESTDIR ?=
# Warnings are reported in a user's build and are errors in the test targets (and so in CI).
WERROR ?= OFF
check test asan-test: WERROR = ON

.PHONY: all deps build check test asan-test format-check demo bench install uninstall clean \
  check-cluster

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer. Allocations that
# cannot be served must return null there as they do in the release build.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DBUILD_RLIB=OFF \
	  -DWARNINGS_AS_ERRORS=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

format-check: deps
	@scripts/format.sh --check

check: format-check test asan-test

demo: build
	@scripts/demo.sh $(BUILD)

# The example ensemble workflow on a one-node Slurm cluster that the script starts and stops (as
# root; several minutes). Not part of check.
check-cluster: build
	@workflow/cluster/check-cluster.sh $(BUILD)

# The map shown in README.md (docs/map-angle.png), from the demo's output.
.PHONY: docs-map
docs-map: build
	@scripts/make-docs-map.sh $(BUILD)

bench: build
	@for b in bench/*.sh; do echo "== $$b"; $$b $(BUILD) || exit 1; done

# The tools into $(PREFIX)/libexec/rastertools, the front command into $(PREFIX)/bin, the Python
# package into $(PREFIX)/lib/python3/dist-packages; nothing else (the R package installs with
# R CMD INSTALL rlib/brindle).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

uninstall:
	@[ -f $(BUILD)/uninstall.cmake ] || { echo "uninstall: no $(BUILD)/uninstall.cmake; run make first" >&2; exit 1; }
	cmake -DPREFIX="$(PREFIX)" -DDESTDIR="$(DESTDIR)" -P $(BUILD)/uninstall.cmake

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
