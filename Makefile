# Thin driver for people who have make: the same as ./run, plus install.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
PREFIX ?= /usr/local
# install builds apart, without the tests (and so without GoogleTest).
INSTALL_BUILD ?= build-install
export BUILD CMAKE_FLAGS JOBS

.PHONY: demo test dll deb dist install bench bench-instructions bench-elementary clean

demo test dll deb dist:
	./run $@

install:
	cmake -S . -B $(INSTALL_BUILD) -DTALLYMAT_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(INSTALL_BUILD) -j $(JOBS)
	cmake --install $(INSTALL_BUILD) --prefix $(PREFIX)

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

# The ten elementary functions against the C runtime's: latency and throughput, then instructions.
bench-elementary:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALLYMAT_BUILD_BENCH=ON -DTALLYMAT_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target tallymat_elementary
	build-bench/bench/tallymat_elementary
	bench/count_elementary.sh build-bench/bench/tallymat_elementary

clean:
	rm -rf $(BUILD)
