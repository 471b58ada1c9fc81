/*
 * The poll cycle, again and again: measure, decide, resize at most once,
 * then pause; the pause is spent on the next grow's file where no writer
 * child writes it, and on what the signals asked for.
 */
#include "daemon/control_loop.h"

#include <chrono>
#include <cstdint>
#include <new>
#include <optional>

#include "core/journal.h"
#include "daemon/config.h"
#include "daemon/stop_signal.h"
#include "swap/policy.h"
#include "swap/swap_device.h"

namespace {

/* What a signal asked for, answered between the steps of the loop. */
void
answer_requests(Settings &settings)
{
	if (take_request(status_request))
		tell_status(settings);
	if (take_request(reload_request))
		reload_config(settings);
}

/*
 * The pause, spent first on writing the next grow's file ahead, one piece
 * at a time where no writer child does it: the next look, a stop or a
 * request waits at most for one piece.
 */
void
pause_writing_ahead(Settings &settings, std::int64_t milliseconds)
{
	using std::chrono::steady_clock;
	const auto until = steady_clock::now() +
	    std::chrono::milliseconds(milliseconds);

	while (running) {
		answer_requests(settings);
		const auto left =
		    std::chrono::duration_cast<std::chrono::milliseconds>(
		        until - steady_clock::now());
		if (left.count() <= 0)
			break;
		bool more = false;
		try {
			more = work_ahead(settings);
		} catch (const std::bad_alloc &) {
			/* The next pause tries again. */
		}
		if (!more)
			pause_unless_stopped(left.count());
	}
}

}

/*
 * A stop signal ends the pause at once, and one that came during the cycle
 * ends the loop without a pause: rc.shutdown does not wait for ever.
 */
void
control_loop(Settings &settings)
{
	while (running) {
		std::optional<std::int64_t> free_swap;
		/*
		 * A cycle that ran out of memory is a failed step like any
		 * other: the record is in doubt until the system is surveyed.
		 */
		try {
			free_swap = poll_cycle(settings);
		} catch (const std::bad_alloc &) {
			settings.record_matches_system = false;
			journal_failure(settings.journal, "out of memory");
		}
		journal_cycle_done(settings.journal);
		pause_writing_ahead(settings, pause_after(free_swap, settings));
	}
}
