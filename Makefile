# Thin driver over CMake: `make demo` runs the example host, `make test` every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: demo test build clean

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/examples/tallymat_demo

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
