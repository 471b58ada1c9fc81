/*
 * Any bytes at all as the output of swapctl -l -m and of mdconfig -l -v:
 * a reading is whole and sane, or there is none.
 */
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "swap/parse.h"

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string_view text(reinterpret_cast<const char *>(data), size);

	if (auto areas = parse_swap_areas(text)) {
		for (const SwapArea &area : *areas)
			if (area.unit < -1 || area.mib < 0)
				std::abort();
	}
	/* A field never runs over into the next one, or the next line. */
	auto spills = [](const std::string &field) {
		return field.find_first_of("\t\n") != std::string::npos;
	};
	if (auto disks = parse_memory_disks(text)) {
		for (const MemoryDisk &disk : *disks)
			if (disk.unit < 0 || disk.type.empty() ||
			    spills(disk.type) || spills(disk.file))
				std::abort();
	}
	return 0;
}
