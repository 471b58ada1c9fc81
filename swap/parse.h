/*
 * Pure parsers of what the configuration file and the tools give the
 * daemon as text.  They run nothing and touch no state.
 */
#ifndef MORVEND_SWAP_PARSE_H
#define MORVEND_SWAP_PARSE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/*
 * Reads a decimal integer as "%d" does: leading white space, an optional
 * sign, digits; whatever follows is ignored.  No digits, or a number that
 * does not fit 32 bits, yields nothing.
 */
std::optional<std::int32_t> scan_int(const char *text);

/* A device in service as swap, as swapctl -l -m lists it. */
struct SwapArea {
	int		unit;		/* of /dev/mdN; -1: not a memory disk */
	std::int32_t	mib;
};

/* A memory disk, as mdconfig -l -v lists it. */
struct MemoryDisk {
	int		unit;
	std::string	type;		/* "vnode", "swap", "malloc", ... */
	std::string	file;		/* resolved when it was attached */
};

/*
 * The two listings, parsed as the tools print them.  Nothing when the text
 * is not what the tool prints: that is no reading, never "no devices".
 */
std::optional<std::vector<SwapArea>> parse_swap_areas(std::string_view text);
std::optional<std::vector<MemoryDisk>> parse_memory_disks(std::string_view text);

#endif
