# The two commands a fresh Debian 12 machine needs: `make test` and `make demo`.
JOBS ?= $(shell nproc)

.PHONY: all deps native windows windows32 fuzz test test-native test-windows test-fuzz demo dist \
	format clean

all: native windows windows32

deps:
	@bash scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j$(JOBS)

windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j$(JOBS)

# The 32-bit plcflash.exe and plcflash-cli.exe, for the kit; the 64-bit test programs drive the
# 32-bit plcflash.exe too.
windows32: deps
	cmake --preset windows32 >/dev/null
	cmake --build --preset windows32 -j$(JOBS)

test-native: native
	ctest --preset native -j$(JOBS)

test-windows: native windows windows32
	bash scripts/wine-tests.sh

# The fuzz targets, each for a few seconds; FUZZ_SECONDS=600 make test-fuzz for a real run.
FUZZ_SECONDS ?= 10
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j$(JOBS)

test-fuzz: fuzz
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# Everything built first, then the native and the Windows tests side by side and the fuzz
# targets after them (scripts/test-all.sh prints what each stage took).
test: native windows windows32 fuzz
	JOBS=$(JOBS) bash scripts/test-all.sh $(FUZZ_SECONDS)

demo: native windows
	bash scripts/demo.sh

# The release kit: build/dist/plcflash-<version>-win64.zip and -win32.zip.
dist: windows windows32
	bash scripts/dist.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# The Wine tests' immutable installation (chattr +i) stops even root's rm.
clean:
	-chattr -R -i build/run/locked-install 2>/dev/null
	rm -rf build
