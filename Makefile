# Front door: `make` builds the suite's programs, `make demo` runs the main job on sample data,
# `make install` installs the programs (PREFIX, DESTDIR as packagers expect), `make check` tests.
# Each target first installs the Debian packages it needs (scripts/install-deps.sh TIER): the
# programs need a small set; the tests add their peers; the one-node cluster adds Slurm.
MAKEFLAGS += --no-print-directory
JOBS ?= 2
# build/: the programs (and the R package where R is installed), as users build them.
# build-check/: the same with the tests, warnings as errors; build-asan/: the tests again with
# the sanitizers.
BUILD := build
CHECK_BUILD := build-check
ASAN_BUILD := build-asan
PREFIX ?= /usr/local
DESTDIR ?=
# Warnings are reported in a user's build and are errors in the test builds (and so in CI).
WERROR ?= OFF
# ccache where it is installed (a cold cache costs nothing).
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
export CCACHE_SLOPPINESS := pch_defines,time_macros,include_file_mtime,include_file_ctime
CONFIGURE = cmake -S . -G Ninja -Wno-dev --log-level=WARNING $(LAUNCHER)

.PHONY: all build deps deps-test deps-bench deps-cluster check test asan-test demo bench \
  install uninstall clean check-cluster docs-map

all: build

# One target at a time: the builds and ctest spread their own work over the cores.
.NOTPARALLEL:

deps:
	@scripts/install-deps.sh build
deps-bench:
	@scripts/install-deps.sh bench
deps-test:
	@scripts/install-deps.sh test
deps-cluster:
	@scripts/install-deps.sh cluster

# configure-if-needed FOLDER CMAKE-OPTIONS: configures once; later builds re-run CMake only
# where its inputs changed (the build tool does that by itself).
define configure
	@scripts/configure.sh $(1) $(CONFIGURE) -B $(1) $(2)
endef

build: deps
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=$(WERROR) \
	  -DBUILD_TESTS=OFF -DBUILD_RLIB=AUTO)
	@cmake --build $(BUILD) -j $(JOBS)

# The tests: one build for the format check, the unit and end-to-end tests, the R package and
# the peers; then the sanitizer build of the programs and their tests.
check: test asan-test

test: deps-test
	$(call configure,$(CHECK_BUILD),-DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON \
	  -DBUILD_TESTS=ON -DBUILD_RLIB=ON)
	@cmake --build $(CHECK_BUILD) -j $(JOBS)
	@scripts/run-tests.sh $(CHECK_BUILD) $(JOBS)

# AddressSanitizer and UndefinedBehaviorSanitizer. Allocations that cannot be served must return
# null there as they do in the release build. No R package (R cannot load sanitized libraries),
# no peers that only test the file formats again, no workflow.
asan-test: deps-test
	$(call configure,$(ASAN_BUILD),-DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DBUILD_RLIB=OFF \
	  -DWARNINGS_AS_ERRORS=ON -DBUILD_TESTS=ON)
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  scripts/run-tests.sh $(ASAN_BUILD) $(JOBS)

demo: build
	@cmake --build $(BUILD) -j $(JOBS) --target demo_programs
	@scripts/demo.sh $(BUILD)

# The example ensemble workflow on a one-node Slurm cluster that the script starts and stops (as
# root; several minutes). Not part of check.
check-cluster: build deps-cluster
	@workflow/cluster/check-cluster.sh $(BUILD)

# The map shown in README.md (docs/map-angle.png), from the demo's output.
docs-map: build
	@cmake --build $(BUILD) -j $(JOBS) --target demo_programs
	@scripts/make-docs-map.sh $(BUILD)

bench: build deps-bench
	@cmake --build $(BUILD) -j $(JOBS) --target bench_programs
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
	rm -rf $(BUILD) $(CHECK_BUILD) $(ASAN_BUILD)
