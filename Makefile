# The two commands of the README, and the trees behind them.
#   make test   - install what is missing, build both trees, run every test
#   make demo   - install what is missing, build, run the bundled example
#   make bench  - benchmarks (not part of the tests)
#   make fuzz   - bounded fuzzing runs (clang, address sanitizer)

JOBS ?= $(shell nproc)
NATIVE := build/native
WIN32  := build/win32
WIN64  := build/win64
SANITIZE := build/sanitize
FUZZ := build/fuzz

.PHONY: all bootstrap native win32 win64 sanitize test test-native test-windows test-sanitize demo bench fuzz clean

all: native win32

bootstrap:
	@scripts/bootstrap

$(NATIVE)/CMakeCache.txt:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(WIN32)/CMakeCache.txt:
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

$(WIN64)/CMakeCache.txt:
	cmake -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake

$(SANITIZE)/CMakeCache.txt:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DZUL_SANITIZE=ON

native: bootstrap $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j$(JOBS)

win32: bootstrap native $(WIN32)/CMakeCache.txt
	cmake --build $(WIN32) -j$(JOBS)

win64: bootstrap native $(WIN64)/CMakeCache.txt
	cmake --build $(WIN64) -j$(JOBS)

sanitize: bootstrap $(SANITIZE)/CMakeCache.txt
	cmake --build $(SANITIZE) -j$(JOBS)

test-native: native
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)

test-sanitize: sanitize
	cd $(SANITIZE) && ctest --output-on-failure -j$(JOBS)

# The Windows tests run in the 32-bit tree, the one that ships, where this
# machine can execute 32-bit code; otherwise in the 64-bit tree built from
# the same sources (see scripts/wine-loader).
test-windows: win32
	@if [ "$$(scripts/wine-loader)" = wine ]; then \
	  cd $(WIN32) && ctest --output-on-failure -j$(JOBS); \
	else \
	  echo "This kernel cannot run 32-bit programs; running the Windows tests as 64-bit programs."; \
	  $(MAKE) win64 && cd $(WIN64) && ctest --output-on-failure -j$(JOBS); \
	fi

# The Windows tests run last so that the output ends with their CTest summary.
test: bootstrap
	$(MAKE) test-native
	$(MAKE) test-sanitize
	$(MAKE) test-windows

# The Windows tree whose programs this machine can run (see scripts/wine-loader).
demo: bootstrap
	$(MAKE) native win32
	@if [ "$$(scripts/wine-loader)" != wine ]; then $(MAKE) win64; fi
	scripts/demo

# The silent-install benchmark runs the stub of the Windows tree this
# machine can execute.
bench: bootstrap
	$(MAKE) native win32
	@if [ "$$(scripts/wine-loader)" != wine ]; then $(MAKE) win64; fi
	scripts/bench

fuzz: bootstrap
	scripts/fuzz

clean:
	rm -rf build
