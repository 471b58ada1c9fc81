/*
 * Bringing up, replacing and retiring our devices.  The swap file keeps no
 * name while its device is busy, so each new file is written at the same
 * path; a device goes only once the one that replaces it is in service.
 */
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "swap/swap_device.h"

namespace {

/* At stop, how long a refused swapoff is retried: seconds. */
constexpr int release_attempts = 10;

/*
 * Retires a device we no longer use.  What does not go through now is
 * remembered and retried; false when even that failed, and only the next
 * look at the system will find the device again.
 */
bool
give_up_device(Settings &settings, int unit, bool in_service)
{
	StaleDevice device = { unit, in_service };

	if (retire_device(settings.journal, device))
		return true;
	try {
		settings.stale_devices.push_back(device);
	} catch (const std::bad_alloc &) {
		return false;
	}
	return true;
}

/*
 * Writes, attaches and activates a device of the given size.  Whatever
 * did not come up is taken away again; returns the unit or -1.
 */
int
bring_up_device(Settings &settings, std::int32_t size)
{
	if (!fill_swap_file(settings.swap_file, size)) {
		journal_failure(settings.journal,
		    "cannot write %s (%d MiB): %s", settings.swap_file.c_str(),
		    size, std::strerror(errno));
		return -1;
	}
	int unit = attach_swap_device(settings.journal, settings.swap_file);
	if (unit >= 0 && !activate_device(settings.journal, unit)) {
		give_up_device(settings, unit, false);
		unit = -1;
	}
	if (unit < 0)
		remove_swap_file_name(settings.swap_file);
	return unit;
}

/*
 * Takes a new device away again when the old one must stay; false when it
 * could not even be remembered for a retry.
 */
bool
drop_new_device(Settings &settings, int unit)
{
	if (unit < 0)
		return true;
	remove_swap_file_name(settings.swap_file);
	return give_up_device(settings, unit, true);
}

/*
 * "grew swap from 256 to 512 MiB: md7": the totals, then the new device,
 * or the one retired when others still serve.
 */
void
tell_resize(const Settings &settings, const Resize &resize, std::int64_t before,
    int new_unit)
{
	const char *verb = "grew";
	if (resize.direction == Direction::shrink)
		verb = "shrank";
	const auto after = static_cast<long long>(current_size(settings));
	const auto from = static_cast<long long>(before);

	if (new_unit >= 0)
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to %lld MiB: md%d", verb, from, after,
		    new_unit);
	else if (after > 0)
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to %lld MiB: md%d retired", verb, from,
		    after, resize.replaced);
	else
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to 0 MiB: no device", verb, from);
}

/* Whatever is still in the way now is retried. */
bool
retry_stale_devices(Settings &settings)
{
	std::erase_if(settings.stale_devices, [&](StaleDevice &device) {
		return retire_device(settings.journal, device);
	});
	return settings.stale_devices.empty();
}

}

bool
retire_stale_devices(Settings &settings)
{
	if (settings.stale_devices.empty())
		return true;
	return forget_units_not_ours(settings) && retry_stale_devices(settings);
}

bool
resize_swap(Settings &settings, const Resize &resize)
{
	remove_swap_file_name(settings.swap_file);

	int new_unit = -1;
	if (resize.new_size > 0) {
		new_unit = bring_up_device(settings, resize.new_size);
		if (new_unit < 0)
			return false;
	}

	/* The old unit may have been handed to another program meanwhile. */
	if (resize.replaced >= 0 && !forget_units_not_ours(settings)) {
		drop_new_device(settings, new_unit);
		return false;
	}
	const std::int64_t before = current_size(settings);
	auto old = std::find_if(settings.devices.begin(),
	    settings.devices.end(),
	    [&](const SwapDevice &d) { return d.unit == resize.replaced; });
	bool tracked = true;
	if (old != settings.devices.end()) {
		if (!deactivate_device(settings.journal, old->unit)) {
			/* The old device still serves; the new one goes. */
			drop_new_device(settings, new_unit);
			return false;
		}
		tracked = give_up_device(settings, old->unit, false);
		settings.devices.erase(old);
	}
	try {
		if (new_unit >= 0)
			settings.devices.push_back(
			    { new_unit, resize.new_size });
	} catch (const std::bad_alloc &) {
		tracked = false;
	}
	tell_resize(settings, resize, before, new_unit);
	return tracked;
}

void
release_swap(Settings &settings)
{
	remove_swap_file_name(settings.swap_file);
	if ((!settings.devices.empty() || !settings.stale_devices.empty()) &&
	    !forget_units_not_ours(settings)) {
		journal_tell(settings.journal, Priority::warning,
		    "released nothing: cannot tell which memory disks are ours");
		return;
	}

	std::vector<SwapDevice> released;
	released.swap(settings.devices);
	for (const SwapDevice &device : released)
		give_up_device(settings, device.unit, true);
	for (int attempt = 1;
	     attempt < release_attempts && !settings.stale_devices.empty();
	     attempt++) {
		sleep(1);
		retry_stale_devices(settings);
	}

	for (const SwapDevice &device : released) {
		if (!record_holds(settings, device.unit))
			journal_tell(settings.journal, Priority::info,
			    "released md%d (%d MiB)", device.unit, device.mib);
	}
	for (const StaleDevice &device : settings.stale_devices) {
		const char *why = "still attached";
		if (device.in_service)
			why = "still in service as swap";
		journal_tell(settings.journal, Priority::warning,
		    "could not release md%d: %s", device.unit, why);
	}
}
