/*
 * Memory disks over the swap file, and their swap activation.  A tool's
 * exit status is its word, not the system's: a tool killed once its work
 * was done reports a failure, and one refused because an admin got there
 * first reports one too.  Where it matters, the system is asked.
 */
#include "swap/md_device.h"

#include <time.h>

#include <cstdlib>

#include "swap/backing_file.h"
#include "swap/probe.h"
#include "swap/shell.h"

namespace {

constexpr int attach_attempts = 10;
/* How long geli's one-time layer takes to go, as a rule. */
constexpr struct timespec geli_moment = { 0, 250000000L }; /* 250 ms */

}

/*
 * Units are system-wide and other software holds some, so a taken unit is
 * met by drawing another.  A unit of ours is never drawn: mdconfig would
 * refuse it as busy, and the listing would show it over our file as if
 * this attach had made it.
 */
int
attach_swap_device(Journal &journal, const std::string &path,
    const std::function<bool(int)> &held)
{
	for (int attempt = 0; attempt < attach_attempts; attempt++) {
		int unit = std::rand();

		if (held(unit))
			continue;
		if (run_command(journal, attach_command(path, unit)))
			return unit;
		auto listed = resolve_swap_file(path);
		if (!listed)
			return -1;
		auto attached = device_over_file(journal, unit, *listed);
		/*
		 * Whether the refused attach left a disk cannot be told: stop
		 * trying.  The survey that follows a failed step finds such a
		 * disk over our file and takes it as ours.
		 */
		if (!attached)
			return -1;
		if (*attached)
			return unit;
	}
	return -1;
}

std::optional<bool>
activate_device(Journal &journal, int unit, bool encrypted)
{
	if (run_command(journal, activate_command(unit, encrypted)))
		return true;
	return device_in_service(journal, unit);
}

/*
 * After a refused swapoff the listing of swap areas cannot tell our
 * device switched off from a unit that is no longer ours, so the detach
 * waits for the next pass, which first asks whether the unit still is.
 */
bool
retire_device(Journal &journal, int unit, bool encrypted, bool &swapped_on)
{
	if (swapped_on) {
		if (!run_command(journal,
		        deactivate_command(unit, encrypted))) {
			if (device_in_service(journal, unit) == false)
				swapped_on = false;
			return false;
		}
		swapped_on = false;
		/*
		 * geli's layer detaches itself on last close, a moment after
		 * the swapoff; a detach before that is refused as busy.
		 */
		if (encrypted)
			nanosleep(&geli_moment, nullptr);
	}
	return run_command(journal, detach_command(unit)) ||
	    device_attached(journal, unit) == false;
}
