# Two commands on a fresh Debian 12 machine as root: `make demo` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
DEBIAN13_BUILD ?= build-debian13
JOBS ?= $(shell nproc)

.PHONY: all setup configure asan fuzz-build fuzz test test-fb4 debian13-root debian13-shell demo bench package format format-check clean

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

# Then the Debian 13 and Firebird 4 stages (scripts/debian13.sh): the build,
# tests and package in a cached Debian 13 root, and this build against a
# Firebird 4 server; skipped with a message when the Debian registry cannot
# be reached to make the root.
test: setup
	@$(MAKE) --no-print-directory all asan fuzz-build
	@scripts/test.sh $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
	@KZ_DEBIAN13_BUILD=$(DEBIAN13_BUILD) scripts/debian13.sh test $(BUILD)

# The Debian 13 and Firebird 4 stages alone.
test-fb4: setup
	@$(MAKE) --no-print-directory all
	@KZ_DEBIAN13_BUILD=$(DEBIAN13_BUILD) scripts/debian13.sh test $(BUILD)

# The cached Debian 13 root: made (or checked), or a shell in it with the
# checkout and /tmp mounted as for the tests.
debian13-root:
	@scripts/debian13.sh root

debian13-shell:
	@KZ_DEBIAN13_BUILD=$(DEBIAN13_BUILD) scripts/debian13.sh shell

demo: setup
	@$(MAKE) --no-print-directory all
	@scripts/demo.sh $(BUILD)

# The Debian package: $(BUILD)/cancela-empenhos_<version>_<arch>.deb
package: setup
	@$(MAKE) --no-print-directory all
	cmake --build $(BUILD) --target package

# Every mode embedded (1,000 and 5,000 commitments), then 1,000 through a
# private server on loopback and through a relay adding 1 ms each way.
bench: setup
	@$(MAKE) --no-print-directory all
	@scripts/bench.sh $(BUILD)
	@scripts/bench.sh $(BUILD) --server --sizes 1000
	@scripts/bench.sh $(BUILD) --atraso-us 1000 --sizes 1000

format:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(DEBIAN13_BUILD)
