# Front door: `make demo` builds rowsift and compares the bundled example
# listings; `make test` builds and runs every test; `make bench N=1000000`
# times rowsift against sort and comm on generated listings.
BUILD ?= build
JOBS ?= 2
N ?= 1000000
ROUNDS ?= 3

.PHONY: all build demo test bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/rowsift examples/before.txt examples/after.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD) $(N) $(ROUNDS)

clean:
	rm -rf $(BUILD)
