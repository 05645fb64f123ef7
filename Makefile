# Thin driver for people who have make: the same as ./run, plus install.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
PREFIX ?= /usr/local
export BUILD CMAKE_FLAGS JOBS

.PHONY: demo test dll deb dist install bench bench-instructions clean

demo test dll deb dist:
	./run $@

install:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# Release build; medians of 5 repetitions, then the ratio table.
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALLYMAT_BUILD_BENCH=ON -DTALLYMAT_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	build-bench/bench/tallymat_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true $(BENCH_ARGS)

# Instructions per evaluation under callgrind: the figure a noisy machine does not move.
bench-instructions:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALLYMAT_BUILD_BENCH=ON -DTALLYMAT_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target tallymat_instructions
	bench/count_instructions.sh build-bench/bench/tallymat_instructions

clean:
	rm -rf $(BUILD)
