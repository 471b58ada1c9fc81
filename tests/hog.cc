/*
 * A memory hog: allocates and touches memory steadily, a chunk at a time,
 * then reads it all back.  usage: morvend_hog MiB [chunk MiB] [pause ms]
 * Exits 0 when every byte held what it wrote.
 */
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int
main(int argc, char *argv[])
{
	if (argc < 2) {
		std::fprintf(stderr, "usage: morvend_hog MiB [chunk MiB] [pause ms]\n");
		return 2;
	}
	const std::size_t mib = 1 << 20;
	const int total = std::atoi(argv[1]);
	const int chunk = argc > 2 ? std::atoi(argv[2]) : 4;
	const auto pause_ms = static_cast<useconds_t>(argc > 3 ?
	    std::atoi(argv[3]) : 100);
	const std::size_t chunk_bytes = static_cast<std::size_t>(chunk) * mib;
	std::vector<unsigned char *> chunks;

	for (int held = 0; held < total; held += chunk) {
		auto *block = static_cast<unsigned char *>(std::malloc(chunk_bytes));
		if (block == nullptr)
			return 3;
		std::memset(block, static_cast<int>(chunks.size() + 1), chunk_bytes);
		chunks.push_back(block);
		usleep(pause_ms * 1000);
	}
	for (std::size_t i = 0; i < chunks.size(); i++)
		for (std::size_t b = 0; b < chunk_bytes; b += 4096)
			if (chunks[i][b] != static_cast<unsigned char>(i + 1))
				return 4;	/* the memory came back wrong */
	for (auto *block : chunks)
		std::free(block);
	std::printf("hog: held and checked %d MiB\n", total);
	return 0;
}
