/*
 * The poll cycle: measure free swap, decide, resize at most once, wait.
 */
#include "core/control_loop.h"

#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "core/journal.h"
#include "core/stop_signal.h"
#include "swap/file_ahead.h"
#include "swap/ownership.h"
#include "swap/parse.h"
#include "swap/policy.h"
#include "swap/probe.h"
#include "swap/swap_device.h"

namespace {

/* Once each time the kernel's limit starts to refuse grows. */
void
tell_kernel_limit(Settings &settings, std::int64_t free_swap)
{
	const bool refused = free_swap < settings.grow_buffer &&
	    grow_bound(settings) == GrowBound::kernel_limit;

	if (refused && !settings.kernel_limit_told)
		journal_tell(settings.journal, Priority::warning,
		    "not growing: total swap would pass %lld MiB, half of what "
		    "the kernel can track",
		    static_cast<long long>(settings.kernel_swap_limit));
	settings.kernel_limit_told = refused;
}

}

/*
 * Nothing is touched until the swap file is ours and the record matches
 * the system.  A step that fails leaves the record in doubt, so the next
 * cycle asks the system which of our devices there are before it acts.
 */
std::optional<std::int64_t>
poll_cycle(Settings &settings)
{
	/* Taken at start; retried here while the directory is missing. */
	if (lock_swap_file(settings) != SwapFileLock::held)
		return std::nullopt;
	if (!settings.record_matches_system)
		settings.record_matches_system = survey_devices(settings);
	if (!settings.record_matches_system)
		return std::nullopt;
	if (!clear_stale_devices(settings))
		settings.record_matches_system = false;

	auto total = probe_swap_total(settings.journal);
	auto used = probe_swap_used(settings.journal);
	if (!total || !used)
		return std::nullopt;
	const std::int64_t free_swap = std::int64_t{ *total } - *used;
	settings.system_swap = *total;
	tell_kernel_limit(settings, free_swap);

	/* Which of several devices to retire depends on what each holds. */
	std::vector<SwapArea> areas;
	if (needs_device_use(free_swap, settings)) {
		auto listed = list_swap_areas(settings.journal);
		if (!listed)
			return free_swap;
		areas = std::move(*listed);
	}
	auto resize = choose_resize(free_swap, settings, areas);
	/* Devices taken away by hand must stop counting against a bound. */
	if (grow_refused(free_swap, settings) && survey_devices(settings))
		resize = choose_resize(free_swap, settings);
	if (resize && !resize_swap(settings, *resize))
		settings.record_matches_system = false;
	return free_swap;
}

namespace {

/*
 * The pause, spent first on writing the next grow's file ahead, one piece
 * at a time: the next look or a stop waits at most for one piece.
 */
void
pause_writing_ahead(Settings &settings, std::int64_t milliseconds)
{
	using std::chrono::steady_clock;
	const auto until = steady_clock::now() +
	    std::chrono::milliseconds(milliseconds);

	try {
		while (running && steady_clock::now() < until &&
		    write_ahead(settings))
			;
	} catch (const std::bad_alloc &) {
		/* The next pause tries again. */
	}
	const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
	    until - steady_clock::now());
	if (left.count() > 0)
		pause_unless_stopped(left.count());
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
