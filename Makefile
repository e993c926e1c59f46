# The two commands a fresh Debian 12 machine needs: `make test` and `make demo`.
JOBS ?= $(shell nproc)

.PHONY: all deps native windows test test-native test-windows demo format clean

all: native windows

deps:
	@bash scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS)

windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j$(JOBS)

test-native: native
	ctest --preset native -j$(JOBS)

test-windows: native windows
	bash scripts/wine-tests.sh

test: test-native test-windows

demo: native windows
	bash scripts/demo.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
