/*
 * Times fill_swap_file: writes a swap file of the given size and prints the
 * rate in MiB/s.  bench/fill_vs_dd.sh sets it beside dd.
 */
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "swap/backing_file.h"

int
main(int argc, char *argv[])
{
	if (argc != 3) {
		std::fprintf(stderr, "usage: morvend_bench_fill file mib\n");
		return 2;
	}
	const int mib = std::atoi(argv[2]);

	auto start = std::chrono::steady_clock::now();
	bool filled = fill_swap_file(argv[1], mib);
	std::chrono::duration<double> took = std::chrono::steady_clock::now() -
	    start;
	unlink(argv[1]);
	if (!filled) {
		std::fprintf(stderr, "fill failed\n");
		return 1;
	}
	std::printf("%.1f\n", mib / took.count());
	return 0;
}
