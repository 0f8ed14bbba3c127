# `make run` and `make test` do all the set-up on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

PREFIX ?= /usr/local

.PHONY: all build run test bench deb install clean

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
	@cmake --build $(BUILD) -j $(JOBS) --target velrisa_programa
	@scripts/run.sh $(BUILD)/velrisa

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

# The Debian package, for the prefix /usr, into $(BUILD)/.
deb:
	@scripts/deps.sh
	@$(CONFIGURE) -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target velrisa_programa velrisa_docs
	@cd $(BUILD) && cpack -G DEB

# System-wide into $(PREFIX), /usr/local unless given; DESTDIR is honoured.
install:
	@scripts/deps.sh run
	@$(CONFIGURE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target velrisa_programa velrisa_docs
	@cmake --install $(BUILD)

# The build folder goes whole, the data files a program run from it keeps there included.
clean:
	rm -rf $(BUILD)
