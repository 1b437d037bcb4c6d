# The two commands a newcomer needs: `make run` and `make test`.
.PHONY: run test build build-test bootstrap format fuzz-long clean

CMAKE_FLAGS = -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
# A compiler cache, when the machine has one, makes rebuilds of other checkouts cheap.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
endif
JOBS ?= $(shell nproc)
ARGS ?=

bootstrap:
	@sh scripts/bootstrap.sh

build: bootstrap
	@cmake -S . -B build/release $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build/release -j $(JOBS)

run: build
	./build/release/bin/postwatch $(ARGS)

build-test: bootstrap
	@cmake -S . -B build/test $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DPOSTWATCH_SANITIZE=ON \
		-DPOSTWATCH_SCREENSHOT_DIR=$(CURDIR)/build/screenshots >/dev/null
	@cmake --build build/test -j $(JOBS)

test: build-test
	cd build/test && ctest -j $(JOBS) --output-on-failure --timeout 600

# Long fuzzing runs (see README): make fuzz-long FUZZ_SECONDS=600
FUZZ_SECONDS ?= 600
fuzz-long: build-test
	sh scripts/fuzz-long.sh build/test $(FUZZ_SECONDS)

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
