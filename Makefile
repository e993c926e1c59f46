# The two commands a fresh Debian 12 machine needs: `make test` and `make demo`.
JOBS ?= $(shell nproc)

.PHONY: all deps native windows windows32 test test-native test-windows demo format clean

all: native windows windows32

deps:
	@bash scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS)

windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j$(JOBS)

# The 32-bit plcflash.exe is built as a check; the tests run on the 64-bit one (this Wine has
# no 32-bit half).
windows32: deps
	cmake --preset windows32 >/dev/null
	cmake --build --preset windows32 -j$(JOBS)

test-native: native
	ctest --preset native -j$(JOBS)

test-windows: native windows
	bash scripts/wine-tests.sh

test: test-native test-windows windows32

demo: native windows
	bash scripts/demo.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
