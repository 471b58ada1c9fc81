/*
 * Pure parsers of what the tools give the daemon as text, and the test of
 * a path against the listing.  They run nothing and touch no state.
 */
#ifndef MORVEND_SWAP_PARSE_H
#define MORVEND_SWAP_PARSE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/* A device in service as swap, as swapctl -l -m lists it. */
struct SwapArea {
	int unit; /* of /dev/mdN; -1: not a memory disk */
	std::int32_t mib;
	std::int32_t used; /* MiB */
	bool encrypted = false; /* listed as NAME.eli, geli's one-time layer */
};

/* A memory disk, as mdconfig -l -v lists it. */
struct MemoryDisk {
	int unit;
	std::string type; /* "vnode", "swap", "malloc", ... */
	std::string file; /* resolved when it was attached */

	/* Other software holds memory disks too; ours are over our file. */
	bool is_vnode_over(std::string_view path) const
	{
		return type == "vnode" && file == path;
	}
};

/*
 * The two listings, parsed as the tools print them.  Nothing when the text
 * is not what the tool prints: that is no reading, never "no devices".
 */
std::optional<std::vector<SwapArea>> parse_swap_areas(std::string_view text);
std::optional<std::vector<MemoryDisk>> parse_memory_disks(
    std::string_view text);

/*
 * The MiB of swap the system's total is kept within, from what
 * "sysctl -n vm.swap_maxpages hw.pagesize" prints: half of what the
 * kernel can track, where swapon starts to warn.  Nothing unless both are
 * whole numbers, one a line.
 */
std::optional<std::int64_t> parse_kernel_swap_limit(std::string_view text);

/*
 * What in a resolved path would make mdconfig -l -v show it otherwise than
 * it is, so that the disks over it could not be found: the kernel turns
 * control bytes into "?", trims blanks at either end, and escapes and
 * decodes bytes above 0x7e and & < > ' " together with the blanks beside
 * them.  Nothing when the path comes back as it is.
 */
const char *unlistable_because(std::string_view path);

/* The text in C's escapes where it is not printable ASCII, for a message. */
std::string printable(std::string_view text);

#endif
