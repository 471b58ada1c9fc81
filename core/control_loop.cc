/*
 * The poll cycle: measure free swap, decide, resize at most once, wait.
 */
#include <signal.h>
#include <unistd.h>

#include "core/settings.h"
#include "swap/swap_device.h"

volatile std::sig_atomic_t running = 1;

void
stop_handler(int)
{
	running = 0;
}

/*
 * SA_RESTART as FreeBSD's signal() has it: a probe's read or the wait for a
 * command resumes after the handler, only the pause between cycles ends.
 */
void
install_stop_handler()
{
	struct sigaction action = {};

	action.sa_handler = stop_handler;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
}

/*
 * A step that fails leaves the record in doubt, so the next cycle asks the
 * system which of our devices there are before it acts.
 */
void
control_loop(Settings &settings)
{
	while (running) {
		if (know_our_devices(settings)) {
			if (!retire_stale_devices(settings))
				settings.devices_known = false;

			auto total = probe_swap_total(settings.journal);
			auto used = probe_swap_used(settings.journal);
			if (total && used) {
				auto resize = choose_resize(
				    std::int64_t{*total} - *used, settings);
				if (resize && !resize_swap(settings,
				    resize->direction))
					settings.devices_known = false;
			}
		}
		journal_cycle_done(settings.journal);

		/*
		 * A stop signal during the pause ends it at once; one that came
		 * during the cycle is seen only after a whole pause, as sleep()
		 * knows nothing of it.  sleep(0) would spin.
		 */
		sleep(settings.wait_time > 0 ? settings.wait_time : 1);
	}
}
