# Thin driver over CMake: `make demo` runs the example host, `make test` every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: demo test bench build clean

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/tools/tallycalc/tallycalc --demo

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Release build; medians of 5 repetitions, then the ratio table.
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALLYMAT_BUILD_BENCH=ON -DTALLYMAT_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	build-bench/bench/tallymat_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
