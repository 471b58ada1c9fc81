/*
 * Which swap is ours.  One daemon owns a swap file, and every vnode memory
 * disk over that file is its own: the record of what it attached is only a
 * memory, the system's listings are the truth.  A daemon that was killed
 * or could not release a busy device at stop left such disks behind, and
 * its successor takes them back.
 */
#include "swap/ownership.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "core/journal.h"
#include "core/unique_fd.h"
#include "swap/backing_file.h"
#include "swap/file_ahead.h"
#include "swap/parse.h"
#include "swap/policy.h"
#include "swap/probe.h"

namespace {

/*
 * The swap file as the listing shows it.  Disks keep the path they were
 * attached under, so once the directory is gone (removed, renamed) they
 * are still found under the path last resolved.
 */
std::optional<std::string>
swap_file_as_listed(Settings &settings)
{
	if (auto resolved = resolve_swap_file(settings.swap_file))
		settings.listed_swap_file = *resolved;
	else if (settings.listed_swap_file.empty())
		journal_failure(settings.journal, "cannot resolve %s: %s",
		    swap_directory(settings.swap_file).c_str(),
		    std::strerror(errno));
	if (settings.listed_swap_file.empty())
		return std::nullopt;
	return settings.listed_swap_file;
}

/* One look at the system: our file as listed, the disks, the swap areas. */
struct SystemView {
	std::string file;
	std::vector<MemoryDisk> disks;
	std::vector<SwapArea> areas;
};

std::optional<SystemView>
look_at_system(Settings &settings)
{
	auto file = swap_file_as_listed(settings);
	auto disks = list_memory_disks(settings.journal);
	auto areas = list_swap_areas(settings.journal);
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
		OurDevice device = { disk.unit, false, 0, false };
		for (const SwapArea &area : view.areas) {
			if (area.unit == disk.unit)
				device = { disk.unit, true, area.mib,
					area.encrypted };
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
	std::vector<SwapDevice> serving;

	for (const OurDevice &device : ours) {
		if (device.swapped_on)
			serving.push_back(
			    { device.unit, device.mib, device.encrypted });
	}
	return choose_devices_to_keep(settings, std::move(serving));
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

/* Whether another directory than the one we locked stands at the path. */
bool
replaced(const std::string &path, const UniqueFd &locked)
{
	struct stat ours, there;

	return fstat(locked.get(), &ours) == 0 &&
	    stat(path.c_str(), &there) == 0 &&
	    (ours.st_dev != there.st_dev || ours.st_ino != there.st_ino);
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

const SwapDevice *
record_device(const Settings &settings, int unit)
{
	for (const SwapDevice &device : settings.devices) {
		if (device.unit == unit)
			return &device;
	}
	return nullptr;
}

bool
record_uses(const Settings &settings, int unit)
{
	return record_device(settings, unit) != nullptr;
}

bool
record_holds(const Settings &settings, int unit)
{
	return record_uses(settings, unit) ||
	    std::any_of(settings.stale_devices.begin(),
	        settings.stale_devices.end(),
	        [&](const StaleDevice &device) { return device.unit == unit; });
}

SwapFileLock
lock_swap_file(Settings &settings)
{
	std::string path = swap_directory(settings.swap_file);
	if (settings.swap_lock && !replaced(path, settings.swap_lock))
		return SwapFileLock::held;
	UniqueFd directory(
	    open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	if (!directory && settings.swap_lock)
		return SwapFileLock::held; /* gone again meanwhile */
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
	    errno == EWOULDBLOCK) {
		/* What stands at the path now is another daemon's. */
		if (settings.swap_lock) {
			settings.swap_lock = UniqueFd();
			let_go_of_file_ahead(settings);
			settings.record_matches_system = false;
		}
		journal_failure(settings.journal, "another morvend holds %s",
		    path.c_str());
		return SwapFileLock::taken;
	}
	/* A directory made anew: our devices are looked for again. */
	if (settings.swap_lock)
		settings.record_matches_system = false;
	settings.swap_lock = std::move(directory);
	return SwapFileLock::held;
}

bool
survey_devices(Settings &settings)
{
	auto view = look_at_system(settings);
	if (!view)
		return false;
	std::vector<OurDevice> ours = ours_in(*view);
	settings.system_swap_encrypted = std::any_of(view->areas.begin(),
	    view->areas.end(), [&](const SwapArea &area) {
		    return area.encrypted &&
		        std::none_of(ours.begin(), ours.end(),
		            [&](const OurDevice &device) {
			            return device.unit == area.unit;
		            });
	    });
	/* Left by a daemon killed between writing it and attaching it. */
	if (ours.empty())
		remove_swap_file_name(settings.swap_file);
	std::vector<SwapDevice> keep = devices_to_keep(settings, ours);
	std::vector<StaleDevice> stale;
	for (const OurDevice &device : ours) {
		if (std::none_of(keep.begin(), keep.end(),
		        [&](const SwapDevice &kept) {
			        return kept.unit == device.unit;
		        }))
			stale.push_back({ device.unit, device.swapped_on,
			    device.encrypted });
	}
	tell_found(settings, keep, stale);
	settings.devices.swap(keep);
	settings.stale_devices.swap(stale);
	return true;
}

std::optional<std::vector<OurDevice>>
mark_listed_stale(Settings &settings)
{
	auto view = look_at_system(settings);
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
		retiring.push_back(
		    { device.unit, device.swapped_on, device.encrypted });
	settings.devices.clear();
	settings.stale_devices.swap(retiring);
	return ours;
}

bool
forget_units_not_listed(Settings &settings)
{
	auto file = swap_file_as_listed(settings);
	auto disks = list_memory_disks(settings.journal);
	if (!file || !disks)
		return false;
	drop_units_not_ours(settings, *file, *disks);
	return true;
}

void
put_in_service(Settings &settings, const SwapDevice &device)
{
	settings.devices.push_back(device);
}

void
take_out_of_service(Settings &settings, int unit)
{
	std::erase_if(settings.devices,
	    [&](const SwapDevice &device) { return device.unit == unit; });
}

void
remember_stale(Settings &settings, const StaleDevice &device)
{
	for (StaleDevice &held : settings.stale_devices) {
		if (held.unit == device.unit) {
			held = device;
			return;
		}
	}
	settings.stale_devices.push_back(device);
}

void
forget_stale(Settings &settings, int unit)
{
	std::erase_if(settings.stale_devices,
	    [&](const StaleDevice &device) { return device.unit == unit; });
}
