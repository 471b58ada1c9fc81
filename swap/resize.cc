/*
 * Replacing the daemon's device by a larger or smaller one.  The swap file
 * keeps no name while its device is busy, so the new file can be written at
 * the same path; the old device goes only once the new one is in service.
 */
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "swap/swap_device.h"

namespace {

/* At stop, how long a refused swapoff is retried: seconds. */
constexpr int release_attempts = 10;

/*
 * Retires a device we no longer use.  What does not go through now is
 * remembered and retried; should even that fail, the next look at the
 * system finds the device again.
 */
void
give_up_device(Settings &settings, int unit, bool in_service)
{
	StaleDevice device = { unit, in_service };

	if (retire_device(settings.journal, device))
		return;
	try {
		settings.stale_devices.push_back(device);
	} catch (const std::bad_alloc &) {
		settings.devices_known = false;
	}
}

/*
 * Writes, attaches and activates a device of the given size.  Whatever
 * did not come up is taken away again; returns the unit or -1.
 */
int
bring_up_device(Settings &settings, std::int32_t size)
{
	if (!fill_swap_file(settings.swap_file, size)) {
		journal_failure(settings.journal, "cannot write %s (%d MiB): %s",
		    settings.swap_file.c_str(), size, std::strerror(errno));
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
 * Swaps off the device that a resize replaces and gives it up; false while
 * it still serves.  Its unit may have been handed to another program since
 * we last looked, and only the system can tell.
 */
bool
take_out_old_device(Settings &settings)
{
	if (settings.md_unit >= 0 && !forget_units_not_ours(settings))
		return false;
	if (settings.md_unit < 0)
		return true;
	if (!deactivate_device(settings.journal, settings.md_unit))
		return false;
	give_up_device(settings, settings.md_unit, false);
	return true;
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
resize_swap(Settings &settings, Direction direction)
{
	auto new_size = resized_size(settings, direction);
	if (!new_size)
		return false;

	remove_swap_file_name(settings.swap_file);

	int new_unit = -1;
	if (*new_size > 0) {
		new_unit = bring_up_device(settings, *new_size);
		if (new_unit < 0)
			return false;
	}

	if (!take_out_old_device(settings)) {
		/* The old device still serves; the new one goes. */
		if (new_unit >= 0) {
			give_up_device(settings, new_unit, true);
			remove_swap_file_name(settings.swap_file);
		}
		return false;
	}

	const char *verb = direction == GROW ? "grew" : "shrank";
	if (new_unit >= 0)
		journal_info(settings.journal, "%s swap from %d to %d MiB: md%d",
		    verb, settings.current_size, *new_size, new_unit);
	else
		journal_info(settings.journal, "%s swap from %d to 0 MiB: "
		    "no device", verb, settings.current_size);
	settings.current_size = *new_size;
	settings.md_unit = new_unit;
	return true;
}

void
release_swap(Settings &settings)
{
	remove_swap_file_name(settings.swap_file);
	if ((settings.md_unit >= 0 || !settings.stale_devices.empty()) &&
	    !forget_units_not_ours(settings)) {
		journal_warning(settings.journal, "released nothing: cannot "
		    "tell which memory disks are ours");
		return;
	}

	const int unit = settings.md_unit;
	const std::int32_t size = settings.current_size;
	if (unit >= 0) {
		give_up_device(settings, unit, true);
		settings.md_unit = -1;
		settings.current_size = 0;
	}
	for (int attempt = 1; attempt < release_attempts &&
	    !settings.stale_devices.empty(); attempt++) {
		sleep(1);
		retry_stale_devices(settings);
	}

	if (unit >= 0 && !device_known(settings, unit))
		journal_info(settings.journal, "released md%d (%d MiB)", unit,
		    size);
	for (const StaleDevice &device : settings.stale_devices)
		journal_warning(settings.journal, "could not release md%d: %s",
		    device.unit, device.in_service ? "still in service as swap" :
		    "still attached");
}
