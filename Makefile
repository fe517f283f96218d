# Two commands on a fresh Debian 12 machine as root: `make demo` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all setup configure test demo bench format format-check clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

setup:
	@scripts/setup.sh

test: setup
	@$(MAKE) --no-print-directory all
	@scripts/test.sh $(BUILD)

demo: setup
	@$(MAKE) --no-print-directory all
	@scripts/demo.sh $(BUILD)

bench: setup
	@$(MAKE) --no-print-directory all
	@scripts/bench.sh $(BUILD)

format:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) build-asan
