/*
 * Replacing the daemon's device by a larger or smaller one.  The swap file
 * keeps no name while its device is busy, so the new file can be written at
 * the same path; the old device goes only once the new one is in service.
 */
#include <unistd.h>

#include <climits>
#include <vector>

#include "swap/swap_device.h"

namespace {

/* At stop, how long a refused swapoff is retried: seconds. */
constexpr int release_attempts = 10;

void
remove_swap_file_name(const Settings &settings)
{
	if (!settings.swap_file.empty())
		unlink(settings.swap_file.c_str());
}

/*
 * Retires a device we no longer use.  What does not go through now is
 * remembered and retried, so no device of ours is ever lost track of.
 */
void
give_up_device(Settings &settings, int unit, bool in_service)
{
	StaleDevice device = { unit, in_service };

	if (!retire_device(device))
		settings.stale_devices.push_back(device);
}

/*
 * Writes, attaches and activates a device of current_size MiB.  Whatever
 * did not come up is taken away again; returns the unit or -1.
 */
int
bring_up_device(Settings &settings)
{
	if (!fill_swap_file(settings))
		return -1;
	int unit = attach_swap_device(settings);
	if (unit >= 0 && !activate_device(unit)) {
		give_up_device(settings, unit, false);
		unit = -1;
	}
	if (unit < 0)
		remove_swap_file_name(settings);
	return unit;
}

}

bool
retire_stale_devices(Settings &settings)
{
	std::erase_if(settings.stale_devices, retire_device);
	return settings.stale_devices.empty();
}

bool
resize_swap(Settings &settings, Direction direction)
{
	const std::int64_t step = direction == GROW ?
	    settings.delta_size : -std::int64_t{settings.delta_size};
	const std::int64_t wanted = settings.current_size + step;

	if (wanted > INT32_MAX)
		return false;
	if (direction == GROW && settings.max_size != 0 &&
	    wanted > settings.max_size)
		return false;

	remove_swap_file_name(settings);

	const std::int32_t old_size = settings.current_size;
	const std::int32_t new_size = wanted > 0 ? wanted : 0;
	int new_unit = -1;

	if (new_size > 0) {
		settings.current_size = new_size;
		new_unit = bring_up_device(settings);
		if (new_unit < 0) {
			settings.current_size = old_size;
			return false;
		}
	}

	if (settings.md_unit >= 0) {
		if (!deactivate_device(settings.md_unit)) {
			/* The old device still serves; the new one goes. */
			if (new_unit >= 0) {
				give_up_device(settings, new_unit, true);
				remove_swap_file_name(settings);
			}
			settings.current_size = old_size;
			return false;
		}
		give_up_device(settings, settings.md_unit, false);
	}

	settings.current_size = new_size;
	settings.md_unit = new_unit;
	return true;
}

void
release_swap(Settings &settings)
{
	remove_swap_file_name(settings);
	if (settings.md_unit >= 0) {
		settings.stale_devices.push_back({ settings.md_unit, true });
		settings.md_unit = -1;
		settings.current_size = 0;
	}
	for (int attempt = 1; !retire_stale_devices(settings) &&
	    attempt < release_attempts; attempt++)
		sleep(1);
}
