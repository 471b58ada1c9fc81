/*
 * Which swap is ours.  One daemon owns a swap file, and every vnode memory
 * disk over that file is its own: the record of what it attached is only a
 * memory, the system's listings are the truth.  A daemon that was killed
 * or could not release a busy device at stop left such disks behind, and
 * its successor takes them back.
 */
#include "swap/ownership.h"

#include <sys/file.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "core/journal.h"
#include "core/unique_fd.h"
#include "swap/backing_file.h"
#include "swap/md_device.h"
#include "swap/parse.h"
#include "swap/policy.h"
#include "swap/probe.h"

namespace {

/* The swap file as the listing shows it; a failure when it cannot be. */
std::optional<std::string>
swap_file_as_listed(Journal &journal, const std::string &swap_file)
{
	auto resolved = resolve_swap_file(swap_file);

	if (!resolved)
		journal_failure(journal, "cannot resolve %s: %s",
		    swap_directory(swap_file).c_str(), std::strerror(errno));
	return resolved;
}

/* One look at the system: our file as listed, the disks, the swap areas. */
struct SystemView {
	std::string file;
	std::vector<MemoryDisk> disks;
	std::vector<SwapArea> areas;
};

std::optional<SystemView>
look_at_system(Journal &journal, const std::string &swap_file)
{
	auto file = swap_file_as_listed(journal, swap_file);
	auto disks = list_memory_disks(journal);
	auto areas = list_swap_areas(journal);
	if (!file || !disks || !areas)
		return std::nullopt;
	return SystemView{ std::move(*file), std::move(*disks),
		std::move(*areas) };
}

std::vector<OurDevice>
ours_in(const SystemView &view)
{
	std::vector<OurDevice> ours;

	for (const MemoryDisk &disk : view.disks) {
		if (!disk.is_vnode_over(view.file))
			continue;
		OurDevice device = { disk.unit, false, 0 };
		for (const SwapArea &area : view.areas) {
			if (area.unit == disk.unit)
				device = { disk.unit, true, area.mib };
		}
		ours.push_back(device);
	}
	return ours;
}

/* Where the record holds a unit: its devices in order, then the stale. */
std::size_t
place_in_record(const Settings &settings, int unit)
{
	std::size_t place = 0;

	for (const SwapDevice &device : settings.devices) {
		if (device.unit == unit)
			return place;
		place++;
	}
	for (const StaleDevice &device : settings.stale_devices) {
		if (device.unit == unit)
			return place;
		place++;
	}
	return place;
}

/*
 * Ours in service, as many as the settings allow.  A restart takes back
 * all it may, none swapped off just for being one of several.
 */
std::vector<SwapDevice>
devices_to_keep(const Settings &settings, const std::vector<OurDevice> &ours)
{
	std::vector<SwapDevice> in_service;

	for (const OurDevice &device : ours) {
		if (device.in_service)
			in_service.push_back({ device.unit, device.mib });
	}
	return choose_devices_to_keep(settings, std::move(in_service));
}

/* Drops from the record the units that the listing does not show as ours. */
void
drop_units_not_ours(Settings &settings, const std::string &file,
    const std::vector<MemoryDisk> &disks)
{
	auto ours = [&](int unit) {
		bool found = std::any_of(disks.begin(), disks.end(),
		    [&](const MemoryDisk &disk) {
			    return disk.unit == unit &&
			        disk.is_vnode_over(file);
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
	auto view = look_at_system(settings.journal, settings.swap_file);
	if (!view)
		return false;
	std::vector<OurDevice> ours = ours_in(*view);
	std::vector<SwapDevice> keep = devices_to_keep(settings, ours);
	std::vector<StaleDevice> stale;
	for (const OurDevice &device : ours) {
		if (std::none_of(keep.begin(), keep.end(),
		        [&](const SwapDevice &kept) {
			        return kept.unit == device.unit;
		        }))
			stale.push_back({ device.unit, device.in_service });
	}
	tell_found(settings, keep, stale);
	settings.devices.swap(keep);
	settings.stale_devices.swap(stale);
	return true;
}

std::optional<std::vector<OurDevice>>
give_up_every_device(Settings &settings)
{
	auto view = look_at_system(settings.journal, settings.swap_file);
	if (!view)
		return std::nullopt;
	std::vector<OurDevice> ours = ours_in(*view);
	std::vector<StaleDevice> retiring;
	drop_units_not_ours(settings, view->file, view->disks);
	std::stable_sort(ours.begin(), ours.end(),
	    [&](const OurDevice &a, const OurDevice &b) {
		    return place_in_record(settings, a.unit) <
		        place_in_record(settings, b.unit);
	    });
	for (const OurDevice &device : ours)
		retiring.push_back({ device.unit, device.in_service });
	settings.devices.clear();
	settings.stale_devices.swap(retiring);
	return ours;
}

bool
forget_units_not_listed(Settings &settings)
{
	auto file = swap_file_as_listed(settings.journal, settings.swap_file);
	auto disks = list_memory_disks(settings.journal);
	if (!file || !disks)
		return false;
	drop_units_not_ours(settings, *file, *disks);
	return true;
}

void
put_in_service(Settings &settings, int unit, std::int32_t mib)
{
	settings.devices.push_back({ unit, mib });
}

void
take_out_of_service(Settings &settings, int unit)
{
	std::erase_if(settings.devices,
	    [&](const SwapDevice &device) { return device.unit == unit; });
}

void
remember_stale(Settings &settings, int unit, bool in_service)
{
	settings.stale_devices.push_back({ unit, in_service });
}

void
give_up_device(Settings &settings, int unit, bool in_service)
{
	take_out_of_service(settings, unit);
	if (!retire_device(settings.journal, unit, in_service))
		remember_stale(settings, unit, in_service);
}

std::vector<int>
retry_stale_devices(Settings &settings)
{
	std::vector<int> gone;

	std::erase_if(settings.stale_devices, [&](StaleDevice &device) {
		if (!retire_device(settings.journal, device.unit,
		        device.in_service))
			return false;
		gone.push_back(device.unit);
		return true;
	});
	return gone;
}
