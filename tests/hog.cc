/*
 * A memory hog whose memory grows at a steady rate: it allocates and
 * touches one MiB at a time, paced by the clock, up to a total, then checks
 * that every page still holds what it wrote.  Exits 0 when it does, 4 when
 * memory came back wrong, 3 when an allocation failed; prints the seconds
 * its growth took (a page touched once; the check, which brings every
 * page back in, is not counted).
 * usage: morvend_hog TOTAL_MIB RATE_MIB_PER_S
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int
main(int argc, char *argv[])
{
	if (argc != 3 || std::atoi(argv[1]) <= 0 || std::atof(argv[2]) <= 0) {
		std::fprintf(stderr,
		    "usage: morvend_hog TOTAL_MIB "
		    "RATE_MIB_PER_S\n");
		return 2;
	}
	constexpr std::size_t mib = 1 << 20, page = 4096;
	const int total = std::atoi(argv[1]);
	const std::chrono::duration<double> per_mib(1.0 / std::atof(argv[2]));
	const auto start = std::chrono::steady_clock::now();
	std::vector<unsigned char *> chunks;

	for (int held = 0; held < total; held++) {
		std::this_thread::sleep_until(start +
		    std::chrono::duration_cast<std::chrono::nanoseconds>(
		        per_mib * held));
		auto *chunk = static_cast<unsigned char *>(std::malloc(mib));
		if (chunk == nullptr)
			return 3;
		std::memset(chunk, held % 251 + 1, mib);
		chunks.push_back(chunk);
	}
	const std::chrono::duration<double> took =
	    std::chrono::steady_clock::now() - start;
	bool intact = true;
	for (std::size_t i = 0; i < chunks.size(); i++)
		for (std::size_t b = 0; b < mib; b += page)
			intact = intact && chunks[i][b] == i % 251 + 1;
	for (auto *chunk : chunks)
		std::free(chunk);
	if (!intact)
		return 4;
	std::printf("%.2f\n", took.count());
	return 0;
}
