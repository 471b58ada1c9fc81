/* Memory disks over the swap file, and their swap activation. */
#include <cstdlib>

#include "swap/shell.h"
#include "swap/swap_device.h"

namespace {

constexpr int attach_attempts = 10;

}

/*
 * Units are system-wide and other software holds some, so a taken unit is
 * met by drawing another.
 */
int
attach_swap_device(const std::string &path)
{
	for (int attempt = 0; attempt < attach_attempts; attempt++) {
		int unit = std::rand();

		if (run_command(attach_command(path, unit)))
			return unit;
	}
	return -1;
}

bool
activate_device(int unit)
{
	return run_command(activate_command(unit));
}

/*
 * An admin may have swapped the device off, or detached it too, behind our
 * back; only the system can say whether a refusal leaves it in service.
 */
bool
deactivate_device(int unit)
{
	return run_command(deactivate_command(unit)) ||
	    device_in_service(unit) == false;
}

bool
detach_device(int unit)
{
	return run_command(detach_command(unit)) ||
	    device_attached(unit) == false;
}

/* A device still in use as swap must not be torn out. */
bool
retire_device(StaleDevice &device)
{
	if (device.in_service && deactivate_device(device.unit))
		device.in_service = false;
	return !device.in_service && detach_device(device.unit);
}
