# Front door: `make demo` builds rowsift and compares the bundled example
# listings; `make check` builds and runs the unit, end-to-end and model
# tests; `make test` runs those, then checks the Debian package, then
# runs the whole suite again under the sanitizers, then each fuzz target
# for a bounded time; `make bench N=1000000` times rowsift against sort
# and comm on generated listings.
BUILD ?= build
JOBS ?= 2
N ?= 1000000
ROUNDS ?= 3
BASE ?= 3a9cde2
FUZZ_TARGETS ?= extract field options
FUZZ_SECONDS ?= 60

.PHONY: all build demo check test sanitize fuzz bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target rowsift
	./$(BUILD)/rowsift examples/before.txt examples/after.txt

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test: check
	$(MAKE) deb-check sanitize fuzz

sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROWSIFT_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# Each target runs for FUZZ_SECONDS from its committed seeds; what it
# learns is kept in build-fuzz/corpus.  Without a controlling terminal
# (setsid) nothing can wait for a key.
fuzz:
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DROWSIFT_FUZZ=ON -DROWSIFT_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)
	for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(CURDIR)/build-fuzz/corpus/$$t && \
	    setsid -w build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	        -close_fd_mask=3 -print_final_stats=1 \
	        -artifact_prefix=$(CURDIR)/build-fuzz/ \
	        $(CURDIR)/build-fuzz/corpus/$$t $(CURDIR)/fuzz/corpus/$$t || exit 1; \
	done

bench:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DROWSIFT_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	BASE=$(BASE) bench/run.sh $(BUILD) $(N) $(ROUNDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz

# ---- rowsift-list ----------------------------------------------------------
# `make bench-list` times rowsift-list against md5sum, xxhsum and a read
# floor (and hashdeep, rhash and b3sum when installed) on /usr and
# /usr/share; `make deb` packages both
# programs as build/rowsift_*.deb (needs dpkg-dev and file); `make
# deb-check` builds it and fails on any error or warning of lintian.
LIST_ROUNDS ?= 3

.PHONY: bench-list deb deb-check

bench-list:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DROWSIFT_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	bench/list.sh $(BUILD) $(LIST_ROUNDS)

# The package describes both programs, so it is not made without
# rowsift-list.
deb: build
	@test -x $(BUILD)/rowsift-list || { \
	    echo "make deb: rowsift-list was not built (apt-get install libssl-dev libxxhash-dev)" >&2; \
	    exit 1; }
	cd $(BUILD) && cpack -G DEB

deb-check: deb
	lintian --fail-on error,warning $(BUILD)/rowsift_*.deb
