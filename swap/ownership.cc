/*
 * Which swap is ours.  One daemon owns a swap file, and every vnode memory
 * disk over that file is its own: the record of what it attached is only a
 * memory, the system's listings are the truth.  A daemon that was killed
 * or could not release a busy device at stop left such disks behind, and
 * its successor takes them back.
 */
#include <sys/file.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "swap/swap_device.h"

std::optional<std::string>
resolve_swap_file(const std::string &swap_file)
{
	char directory[PATH_MAX];

	if (realpath(swap_directory(swap_file).c_str(), directory) == nullptr)
		return std::nullopt;
	std::string resolved = directory;
	if (resolved != "/")
		resolved += '/';
	return resolved + swap_file.substr(swap_file.rfind('/') + 1);
}

namespace {

std::optional<std::string>
resolved_swap_file(Journal &journal, const std::string &swap_file)
{
	auto resolved = resolve_swap_file(swap_file);

	if (!resolved)
		journal_failure(journal, "cannot resolve %s: %s",
		    swap_directory(swap_file).c_str(), std::strerror(errno));
	return resolved;
}

/* Other software holds memory disks too; ours are over our swap file. */
bool
over_swap_file(const MemoryDisk &disk, const std::string &file)
{
	return disk.type == "vnode" && disk.file == file;
}

struct OurDevice {
	int unit;
	bool in_service;
	std::int32_t mib;
};

std::optional<std::vector<OurDevice>>
find_our_devices(Journal &journal, const std::string &swap_file)
{
	auto file = resolved_swap_file(journal, swap_file);
	auto disks = list_memory_disks(journal);
	auto areas = list_swap_areas(journal);
	if (!file || !disks || !areas)
		return std::nullopt;

	std::vector<OurDevice> ours;
	for (const MemoryDisk &disk : *disks) {
		if (!over_swap_file(disk, *file))
			continue;
		OurDevice device = { disk.unit, false, 0 };
		for (const SwapArea &area : *areas) {
			if (area.unit == disk.unit)
				device = { disk.unit, true, area.mib };
		}
		ours.push_back(device);
	}
	return ours;
}

/*
 * Ours in service, up to MAX_DEVICES of them: those we were using, then
 * the largest.  A restart takes back all it may, none swapped off just for
 * being one of several.
 */
std::vector<SwapDevice>
devices_to_keep(const Settings &settings, std::vector<OurDevice> ours)
{
	auto in_use = [&](const OurDevice &device) {
		return std::any_of(settings.devices.begin(),
		    settings.devices.end(), [&](const SwapDevice &used) {
			    return used.unit == device.unit;
		    });
	};
	std::erase_if(ours, [](const OurDevice &d) { return !d.in_service; });
	std::stable_sort(ours.begin(), ours.end(),
	    [&](const OurDevice &a, const OurDevice &b) {
		    if (in_use(a) != in_use(b))
			    return in_use(a);
		    return a.mib > b.mib;
	    });
	std::vector<SwapDevice> keep;
	for (const OurDevice &device : ours) {
		if (keep.size() == device_slots(settings))
			break;
		keep.push_back({ device.unit, device.mib });
	}
	return keep;
}

/* Drops from the record the units that the listing does not show as ours. */
void
forget_units_unlisted(Settings &settings, const std::string &file,
    const std::vector<MemoryDisk> &disks)
{
	auto ours = [&](int unit) {
		bool found = std::any_of(disks.begin(), disks.end(),
		    [&](const MemoryDisk &disk) {
			    return disk.unit == unit &&
			        over_swap_file(disk, file);
		    });
		if (!found)
			journal_tell(settings.journal, Priority::warning,
			    "md%d is no longer a disk over %s: left alone",
			    unit, file.c_str());
		return found;
	};
	std::erase_if(settings.devices,
	    [&](const SwapDevice &device) { return !ours(device.unit); });
	std::erase_if(settings.stale_devices,
	    [&](const StaleDevice &device) { return !ours(device.unit); });
}

/* Devices the record did not know of were left by an earlier run. */
void
tell_found(const Settings &settings, const std::vector<SwapDevice> &keep,
    const std::vector<StaleDevice> &stale)
{
	for (const SwapDevice &device : keep) {
		if (!record_holds(settings, device.unit))
			journal_tell(settings.journal, Priority::info,
			    "took back md%d (%d MiB) from an earlier run",
			    device.unit, device.mib);
	}
	for (const StaleDevice &device : stale) {
		if (!record_holds(settings, device.unit))
			journal_tell(settings.journal, Priority::info,
			    "retiring md%d, left by an earlier run",
			    device.unit);
	}
}

}

bool
record_holds(const Settings &settings, int unit)
{
	auto has_unit = [&](const auto &device) { return device.unit == unit; };

	return std::any_of(settings.devices.begin(), settings.devices.end(),
	           has_unit) ||
	    std::any_of(settings.stale_devices.begin(),
	        settings.stale_devices.end(), has_unit);
}

SwapFileLock
lock_swap_file(Settings &settings)
{
	if (settings.swap_lock)
		return SwapFileLock::held;
	std::string path = swap_directory(settings.swap_file);
	UniqueFd directory(
	    open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	if (!directory) {
		journal_failure(settings.journal, "cannot open %s: %s",
		    path.c_str(), std::strerror(errno));
		return SwapFileLock::no_directory;
	}
	/*
	 * A file system that keeps no locks cannot tell us about another
	 * daemon; running without the lock beats never running.
	 */
	if (flock(directory.get(), LOCK_EX | LOCK_NB) != 0 &&
	    errno == EWOULDBLOCK)
		return SwapFileLock::taken;
	settings.swap_lock = std::move(directory);
	return SwapFileLock::held;
}

bool
survey_devices(Settings &settings)
{
	try {
		auto ours = find_our_devices(settings.journal,
		    settings.swap_file);
		if (!ours)
			return false;
		std::vector<SwapDevice> keep = devices_to_keep(settings, *ours);
		std::vector<StaleDevice> stale;
		for (const OurDevice &device : *ours) {
			if (std::none_of(keep.begin(), keep.end(),
			        [&](const SwapDevice &kept) {
				        return kept.unit == device.unit;
			        }))
				stale.push_back(
				    { device.unit, device.in_service });
		}
		tell_found(settings, keep, stale);
		settings.devices.swap(keep);
		settings.stale_devices.swap(stale);
	} catch (const std::bad_alloc &) {
		return false;
	}
	return true;
}

bool
forget_units_not_ours(Settings &settings)
{
	try {
		auto file = resolved_swap_file(settings.journal,
		    settings.swap_file);
		auto disks = list_memory_disks(settings.journal);
		if (!file || !disks)
			return false;
		forget_units_unlisted(settings, *file, *disks);
	} catch (const std::bad_alloc &) {
		return false;
	}
	return true;
}
