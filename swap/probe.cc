/*
 * What the system reports: the swap totals, which devices are in service
 * as swap, and which memory disks exist.
 */
#include "swap/probe.h"

#include <algorithm>
#include <string_view>

#include "swap/shell.h"

namespace {

template <typename Listing>
std::optional<Listing>
read_listing(Journal &journal, const char *command,
    std::optional<Listing> (*parse)(std::string_view))
{
	auto text = read_output(journal, command);
	if (!text)
		return std::nullopt;
	std::optional<Listing> listing = parse(*text);
	if (!listing)
		journal_failure(journal, "%s: listing not understood", command);
	return listing;
}

}

std::optional<std::int32_t>
probe_swap_total(Journal &journal)
{
	return read_number(journal, total_swap_command);
}

std::optional<std::int32_t>
probe_swap_used(Journal &journal)
{
	return read_number(journal, used_swap_command);
}

std::optional<std::int64_t>
probe_kernel_swap_limit()
{
	/* Asked once, at start: a failure is no run of failing cycles. */
	Journal unheard;
	auto text = read_output(unheard, kernel_swap_limit_command);
	if (!text)
		return std::nullopt;
	return parse_kernel_swap_limit(*text);
}

std::optional<std::vector<SwapArea>>
list_swap_areas(Journal &journal)
{
	return read_listing(journal, swap_devices_command, parse_swap_areas);
}

std::optional<std::vector<MemoryDisk>>
list_memory_disks(Journal &journal)
{
	return read_listing(journal, memory_disks_command, parse_memory_disks);
}

std::optional<bool>
device_in_service(Journal &journal, int unit)
{
	auto areas = list_swap_areas(journal);
	if (!areas)
		return std::nullopt;
	return std::any_of(areas->begin(), areas->end(),
	    [&](const SwapArea &area) { return area.unit == unit; });
}

std::optional<bool>
device_attached(Journal &journal, int unit)
{
	auto disks = list_memory_disks(journal);
	if (!disks)
		return std::nullopt;
	return std::any_of(disks->begin(), disks->end(),
	    [&](const MemoryDisk &disk) { return disk.unit == unit; });
}

std::optional<bool>
device_over_file(Journal &journal, int unit, const std::string &file)
{
	auto disks = list_memory_disks(journal);
	if (!disks)
		return std::nullopt;
	return std::any_of(disks->begin(), disks->end(),
	    [&](const MemoryDisk &disk) {
		    return disk.unit == unit && disk.is_vnode_over(file);
	    });
}
