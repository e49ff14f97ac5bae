# Front door: `make` builds, `make check` tests, `make demo` runs the main job on sample data.
JOBS ?= 2
BUILD := build
ASAN_BUILD := build-asan

.PHONY: all deps build check test asan-test format-check demo bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer. Allocations that
# cannot be served must return null there as they do in the release build.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DBUILD_RLIB=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

format-check: deps
	@scripts/format.sh --check

check: format-check test asan-test

demo: build
	@scripts/demo.sh $(BUILD)

bench: build
	@for b in bench/*.sh; do echo "== $$b"; $$b $(BUILD) || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
