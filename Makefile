# Front door: `make demo` builds rowsift and compares the bundled example
# listings; `make test` builds and runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all build demo test clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/rowsift examples/before.txt examples/after.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
