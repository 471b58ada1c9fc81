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
	if (settings.md_unit >= 0 && !forget_units_not_ours(settings)) {
		drop_new_device(settings, new_unit);
		return false;
	}
	bool tracked = true;
	if (settings.md_unit >= 0) {
		if (!deactivate_device(settings.journal, settings.md_unit)) {
			/* The old device still serves; the new one goes. */
			drop_new_device(settings, new_unit);
			return false;
		}
		tracked = give_up_device(settings, settings.md_unit, false);
	}

	const char *verb = "grew";
	if (resize.direction == Direction::shrink)
		verb = "shrank";
	if (new_unit >= 0)
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %d to %d MiB: md%d", verb,
		    settings.current_size, resize.new_size, new_unit);
	else
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %d to 0 MiB: no device", verb,
		    settings.current_size);
	settings.current_size = resize.new_size;
	settings.md_unit = new_unit;
	return tracked;
}

void
release_swap(Settings &settings)
{
	remove_swap_file_name(settings.swap_file);
	if ((settings.md_unit >= 0 || !settings.stale_devices.empty()) &&
	    !forget_units_not_ours(settings)) {
		journal_tell(settings.journal, Priority::warning,
		    "released nothing: cannot tell which memory disks are ours");
		return;
	}

	const int unit = settings.md_unit;
	const std::int32_t size = settings.current_size;
	if (unit >= 0) {
		give_up_device(settings, unit, true);
		settings.md_unit = -1;
		settings.current_size = 0;
	}
	for (int attempt = 1;
	     attempt < release_attempts && !settings.stale_devices.empty();
	     attempt++) {
		sleep(1);
		retry_stale_devices(settings);
	}

	if (unit >= 0 && !record_holds(settings, unit))
		journal_tell(settings.journal, Priority::info,
		    "released md%d (%d MiB)", unit, size);
	for (const StaleDevice &device : settings.stale_devices) {
		const char *why = "still attached";
		if (device.in_service)
			why = "still in service as swap";
		journal_tell(settings.journal, Priority::warning,
		    "could not release md%d: %s", device.unit, why);
	}
}
