# The two commands a newcomer needs: `make run` and `make test`.
#
# Build folders:
#   build/release  `make run`: the program, its resource bundle and assets only (no tests, no
#                  benchmarks), optimised, with debug information.
#   build/test     `make test`: every test, fuzz target and benchmark, with the address and
#                  undefined-behaviour sanitizers; desktop screenshots in build/screenshots.
#   build/tsan     `make test`: the tests of threaded code (label "tsan": the check threads, the
#                  merge, the sink, the single instance) under the thread sanitizer. Only those
#                  test programs and what they link are built.
.PHONY: run test build build-test build-tsan test-asan test-tsan bootstrap format check-format \
	fuzz-long clean install package

CMAKE_FLAGS = -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
# A compiler cache, when the machine has one, makes rebuilds of other checkouts cheap.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
endif
JOBS ?= $(shell nproc)
ARGS ?=
CTEST = ctest -j $(JOBS) --output-on-failure --timeout 600

bootstrap:
	@sh scripts/bootstrap.sh

build: bootstrap
	@cmake -S . -B build/release $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPOSTWATCH_BUILD_TESTS=OFF -DPOSTWATCH_BUILD_BENCH=OFF >/dev/null
	@cmake --build build/release -j $(JOBS)

run: build
	./build/release/bin/postwatch $(ARGS)

# Installs the program (see README): make install PREFIX=$$HOME/.local, or PREFIX=/usr/local as
# root. A prefix inside your home folder is a per-user install. DESTDIR stages the files.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

# The Debian package build/release/pigeonpost_<version>_<arch>.deb.
package: build
	cd build/release && cpack -G DEB

build-test: bootstrap
	@cmake -S . -B build/test $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DPOSTWATCH_SANITIZE=ON \
		-DPOSTWATCH_SCREENSHOT_DIR=$(CURDIR)/build/screenshots >/dev/null
	@cmake --build build/test -j $(JOBS)

build-tsan: bootstrap
	@cmake -S . -B build/tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DPOSTWATCH_TSAN=ON \
		-DPOSTWATCH_BUILD_BENCH=OFF >/dev/null
	@cmake --build build/tsan -j $(JOBS) --target pw_tsan_tests

test-asan: build-test
	cd build/test && $(CTEST)

test-tsan: build-tsan
	cd build/tsan && TSAN_OPTIONS="$(TSAN_OPTIONS) halt_on_error=1 second_deadlock_stack=1 \
		suppressions=$(CURDIR)/tests/support/tsan.supp" $(CTEST) -L tsan

# Both runs happen even when the first fails, so one `make test` reports everything.
test: build-test build-tsan
	@status=0; \
	$(MAKE) --no-print-directory test-asan || status=1; \
	$(MAKE) --no-print-directory test-tsan || status=1; \
	exit $$status

# Long fuzzing runs (see README): make fuzz-long FUZZ_SECONDS=600
FUZZ_SECONDS ?= 600
fuzz-long: build-test
	sh scripts/fuzz-long.sh build/test $(FUZZ_SECONDS)

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

check-format: bootstrap
	@sh scripts/check-format.sh

clean:
	rm -rf build
