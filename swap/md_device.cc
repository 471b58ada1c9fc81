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
attach_swap_device(const Settings &settings)
{
	for (int attempt = 0; attempt < attach_attempts; attempt++) {
		int unit = std::rand();

		if (run_command(attach_command(settings.swap_file, unit)))
			return unit;
	}
	return -1;
}

bool
activate_device(int unit)
{
	return run_command(activate_command(unit));
}

bool
deactivate_device(int unit)
{
	return run_command(deactivate_command(unit));
}

bool
detach_device(int unit)
{
	return run_command(detach_command(unit));
}

/* A device still in use as swap must not be torn out. */
bool
retire_device(StaleDevice &device)
{
	if (device.in_service && deactivate_device(device.unit))
		device.in_service = false;
	return !device.in_service && detach_device(device.unit);
}
