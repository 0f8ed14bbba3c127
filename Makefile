# `make run` and `make test` do all the set-up on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

PREFIX ?= /usr/local

# Installing and packing, each in a folder of its own: another install prefix never reaches
# the build that `make run` and `make test` use.
DEB_BUILD ?= build-deb
INSTALL_BUILD ?= build-install

# The checking builds, with clang, each in a folder of its own.
FUZZ_BUILD ?= build-fuzz
SANITIZE_BUILD ?= build-sanitize
FUZZ_SECONDS ?= 60
CLANG = -DCMAKE_CXX_COMPILER=clang++

.PHONY: all build run test bench deb install clean fuzz test-sanitize

all: build

# Everything: the program, its tests and benchmarks.
build:
	@scripts/deps.sh
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Only what running needs, from set-up to build.
run:
	@scripts/deps.sh run
	@$(CONFIGURE) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target velrisa_program
	@scripts/run.sh $(BUILD)/velrisa

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets (fuzz/), each run for FUZZ_SECONDS from its committed starting inputs.
fuzz:
	@scripts/deps.sh
	@cmake -S . -B $(FUZZ_BUILD) $(CLANG) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELRISA_FUZZ=ON \
		-DVELRISA_BUILD_TESTS=OFF -DVELRISA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer: any report fails
# its test.
test-sanitize:
	@scripts/deps.sh
	@cmake -S . -B $(SANITIZE_BUILD) $(CLANG) -DCMAKE_BUILD_TYPE=Debug -DVELRISA_SANITIZE=ON \
		-DVELRISA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

# The Debian package, for the prefix /usr, into $(DEB_BUILD)/: only the programs and documents
# are built, and only the packaging tools are installed.
deb:
	@scripts/deps.sh deb
	@cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
		-DVELRISA_BUILD_TESTS=OFF -DVELRISA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(DEB_BUILD) -j $(JOBS) --target velrisa_program velrisa_docs
	@cd $(DEB_BUILD) && cpack -G DEB

# System-wide into $(PREFIX), /usr/local unless given; DESTDIR is honoured.
install:
	@scripts/deps.sh run
	@cmake -S . -B $(INSTALL_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
		-DVELRISA_BUILD_TESTS=OFF -DVELRISA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(INSTALL_BUILD) -j $(JOBS) --target velrisa_program velrisa_docs
	@cmake --install $(INSTALL_BUILD)

# The build folders go whole, the data files a program run from one keeps there included.
clean:
	rm -rf $(BUILD) $(DEB_BUILD) $(INSTALL_BUILD) $(FUZZ_BUILD) $(SANITIZE_BUILD)
