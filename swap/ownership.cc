/*
 * Which swap is ours.  One daemon owns a swap file, and every vnode memory
 * disk over that file is its own: the record of what it attached is only a
 * memory, the system's listings are the truth.  A daemon that was killed
 * or could not release a busy device at stop left such disks behind, and
 * its successor takes them back.
 */
#include <sys/file.h>

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "swap/swap_device.h"

namespace {

/* The path mdconfig shows for disks over the swap file. */
std::optional<std::string>
resolved_swap_file(const std::string &swap_file)
{
	char directory[PATH_MAX];

	if (realpath(swap_directory(swap_file).c_str(), directory) == nullptr)
		return std::nullopt;
	std::string resolved = directory;
	if (resolved != "/")
		resolved += '/';
	return resolved + swap_file.substr(swap_file.rfind('/') + 1);
}

struct OurDevice {
	int		unit;
	bool		in_service;
	std::int32_t	mib;
};

std::optional<std::vector<OurDevice>>
find_our_devices(const std::string &swap_file)
{
	auto file = resolved_swap_file(swap_file);
	auto disks = list_memory_disks();
	auto areas = list_swap_areas();
	if (!file || !disks || !areas)
		return std::nullopt;

	std::vector<OurDevice> ours;
	for (const MemoryDisk &disk : *disks) {
		if (disk.type != "vnode" || disk.file != *file)
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

/* Ours in service: the one we used, else the largest. */
const OurDevice *
device_to_keep(const std::vector<OurDevice> &ours, int md_unit)
{
	const OurDevice *keep = nullptr;

	for (const OurDevice &device : ours) {
		if (!device.in_service)
			continue;
		if (device.unit == md_unit)
			return &device;
		if (keep == nullptr || device.mib > keep->mib)
			keep = &device;
	}
	return keep;
}

}

SwapFileLock
lock_swap_file(Settings &settings)
{
	if (settings.swap_lock)
		return SwapFileLock::held;
	UniqueFd directory(open(swap_directory(settings.swap_file).c_str(),
	    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	if (!directory)
		return SwapFileLock::no_directory;
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
		auto ours = find_our_devices(settings.swap_file);
		if (!ours)
			return false;
		const OurDevice *keep = device_to_keep(*ours, settings.md_unit);
		std::vector<StaleDevice> stale;
		for (const OurDevice &device : *ours) {
			if (&device != keep)
				stale.push_back({ device.unit, device.in_service });
		}
		settings.md_unit = keep != nullptr ? keep->unit : -1;
		settings.current_size = keep != nullptr ? keep->mib : 0;
		settings.stale_devices.swap(stale);
	} catch (const std::bad_alloc &) {
		return false;
	}
	settings.devices_known = true;
	return true;
}

bool
know_our_devices(Settings &settings)
{
	if (lock_swap_file(settings) != SwapFileLock::held)
		return false;
	return settings.devices_known || survey_devices(settings);
}
