# Two commands on a fresh Debian 12 machine as root: `make demo` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)

.PHONY: all setup configure asan fuzz-build fuzz test demo bench package format format-check clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

setup:
	@scripts/setup.sh

# The tests and the executables they start, with AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan:
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target unit_tests db_tests cancela-empenhos kz-cifra

# The libFuzzer targets (clang++).
fuzz-build:
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || CXX=clang++ cmake -S tests/fuzz -B $(FUZZ_BUILD) >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Longer fuzzing by hand: make fuzz KZ_FUZZ_SECONDS=600
fuzz: setup
	@$(MAKE) --no-print-directory fuzz-build
	@scripts/fuzz.sh $(FUZZ_BUILD)

test: setup
	@$(MAKE) --no-print-directory all asan fuzz-build
	@scripts/test.sh $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

demo: setup
	@$(MAKE) --no-print-directory all
	@scripts/demo.sh $(BUILD)

# The Debian package: $(BUILD)/cancela-empenhos_<version>_<arch>.deb
package: setup
	@$(MAKE) --no-print-directory all
	cmake --build $(BUILD) --target package

bench: setup
	@$(MAKE) --no-print-directory all
	@scripts/bench.sh $(BUILD)

format:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
