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

std::optional<Direction>
choose_resize(std::int64_t free_swap, const Settings &settings)
{
	/* The max_size bound is resize_swap's to apply, not ours. */
	if (free_swap < settings.grow_buffer)
		return GROW;
	/* Only the swap we attached ourselves is ever taken away. */
	if (settings.current_size > 0 && free_swap > settings.reduce_buffer)
		return SHRINK;
	return std::nullopt;
}

void
control_loop(Settings &settings)
{
	while (running) {
		retire_stale_devices(settings);	/* nothing to do, mostly */

		auto total = probe_swap_total();
		auto used = probe_swap_used();
		if (total && used) {
			std::int64_t free_swap = std::int64_t{*total} - *used;
			if (auto direction = choose_resize(free_swap, settings))
				resize_swap(settings, *direction);
		}

		/* A stop signal cuts the pause short; sleep(0) would spin. */
		sleep(settings.wait_time > 0 ? settings.wait_time : 1);
	}
}
