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
attach_swap_device(Journal &journal, const std::string &path)
{
	for (int attempt = 0; attempt < attach_attempts; attempt++) {
		int unit = std::rand();

		if (run_command(journal, attach_command(path, unit)))
			return unit;
	}
	return -1;
}

bool
activate_device(Journal &journal, int unit)
{
	return run_command(journal, activate_command(unit));
}

/*
 * An admin may have swapped the device off, or detached it too, behind our
 * back; only the system can say whether a refusal leaves it in service.
 */
bool
deactivate_device(Journal &journal, int unit)
{
	return run_command(journal, deactivate_command(unit)) ||
	    device_in_service(journal, unit) == false;
}

bool
detach_device(Journal &journal, int unit)
{
	return run_command(journal, detach_command(unit)) ||
	    device_attached(journal, unit) == false;
}

/* A device still in use as swap must not be torn out. */
bool
retire_device(Journal &journal, StaleDevice &device)
{
	if (device.in_service && deactivate_device(journal, device.unit))
		device.in_service = false;
	return !device.in_service && detach_device(journal, device.unit);
}
