/*
 * One whole grow step on the host that PATH and SIMHOST_STATE name: both
 * probes, the decision, the fill, attach and swapon, until the new device
 * serves.  Prints each run and the best and median, in milliseconds.
 * usage: morvend_bench_grow swap_file mib runs
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "swap/probe.h"
#include "swap/swap_device.h"

int
main(int argc, char *argv[])
{
	if (argc != 4) {
		std::fprintf(stderr,
		    "usage: morvend_bench_grow swap_file mib runs\n");
		return 2;
	}
	std::vector<double> runs;

	for (int run = 0; run < std::atoi(argv[3]); run++) {
		Settings settings;
		settings.swap_file = argv[1];
		settings.delta_size = std::atoi(argv[2]);

		auto start = std::chrono::steady_clock::now();
		auto total = probe_swap_total(settings.journal);
		auto used = probe_swap_used(settings.journal);
		auto resize = total && used ?
		    choose_resize(*total - *used, settings).resize :
		    std::nullopt;
		if (!resize || resize->direction != Direction::grow ||
		    !resize_swap(settings, *resize)) {
			std::fprintf(stderr,
			    "the grow step did not go through\n");
			return 1;
		}
		std::chrono::duration<double, std::milli> took =
		    std::chrono::steady_clock::now() - start;
		runs.push_back(took.count());
		std::printf("run %d: %.1f ms\n", run + 1, took.count());
		release_swap(settings);
	}
	std::sort(runs.begin(), runs.end());
	std::printf("grow step of %s MiB: best %.1f ms, median %.1f ms\n",
	    argv[2], runs.front(), runs[runs.size() / 2]);
	return 0;
}
