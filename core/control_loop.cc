/*
 * The poll cycle: measure free swap, decide, resize at most once, wait.
 */
#include "core/control_loop.h"

#include <unistd.h>

#include <algorithm>

#include "core/stop_signal.h"
#include "swap/policy.h"
#include "swap/swap_device.h"

/*
 * Nothing is touched until the swap file is ours and the record matches
 * the system.  A step that fails leaves the record in doubt, so the next
 * cycle asks the system which of our devices there are before it acts.
 */
void
poll_cycle(Settings &settings)
{
	/* Taken at start; retried here while the directory is missing. */
	if (lock_swap_file(settings) != SwapFileLock::held)
		return;
	if (!settings.record_matches_system)
		settings.record_matches_system = survey_devices(settings);
	if (!settings.record_matches_system)
		return;
	if (!retire_stale_devices(settings))
		settings.record_matches_system = false;

	auto total = probe_swap_total(settings.journal);
	auto used = probe_swap_used(settings.journal);
	if (!total || !used)
		return;
	auto resize = choose_resize(static_cast<std::int64_t>(*total) - *used,
	    settings);
	if (resize && !resize_swap(settings, *resize))
		settings.record_matches_system = false;
}

void
control_loop(Settings &settings)
{
	while (running) {
		poll_cycle(settings);
		journal_cycle_done(settings.journal);

		/*
		 * A stop signal during the pause ends it at once; one that came
		 * during the cycle is seen only after a whole pause, as sleep()
		 * knows nothing of it.  sleep(0) would spin.
		 */
		sleep(static_cast<unsigned>(std::max(settings.wait_time, 1)));
	}
}
