/*
 * Bringing up, replacing and retiring our devices: the order of the
 * commands.  The swap file keeps no name while its device is busy, so each
 * new file is written at the same path; a device goes only once the one
 * that replaces it is in service.  What the record holds changes only
 * through the ownership verbs.
 */
#include "swap/swap_device.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "core/journal.h"
#include "core/stop_flag.h"
#include "swap/backing_file.h"
#include "swap/file_ahead.h"
#include "swap/md_device.h"
#include "swap/ownership.h"

namespace {

/* At stop, how long a refused swapoff is retried: seconds. */
constexpr int release_attempts = 10;

/*
 * Writes, or takes the file written ahead, then attaches and activates a
 * device of the given size.  Whatever did not come up is taken away
 * again; returns the unit or -1.
 */
int
bring_up_device(Settings &settings, std::int32_t mib)
{
	if (!place_file_ahead(settings, mib) &&
	    !fill_swap_file(settings.swap_file, mib)) {
		/* A fill abandoned for a stop is no failure. */
		if (!running)
			return -1;
		journal_failure(settings.journal,
		    "cannot write %s (%d MiB): %s", settings.swap_file.c_str(),
		    mib, std::strerror(errno));
		return -1;
	}
	int unit = attach_swap_device(settings.journal, settings.swap_file,
	    [&](int other) { return record_holds(settings, other); });
	if (unit >= 0) {
		auto serving = activate_device(settings.journal, unit);
		if (serving != true) {
			/* Not known to be off: the swapoff will ask. */
			give_up_device(settings, unit, serving.value_or(true));
			unit = -1;
		}
	}
	if (unit < 0)
		remove_swap_file_name(settings.swap_file);
	return unit;
}

/* Takes a new device away again when the old one must stay. */
void
drop_new_device(Settings &settings, int unit)
{
	if (unit < 0)
		return;
	remove_swap_file_name(settings.swap_file);
	give_up_device(settings, unit, true);
}

/*
 * "grew swap from 256 to 512 MiB: md7": the totals, then the new device,
 * or the one retired when others still serve.  A step whose device to
 * retire had gone already did nothing: the confirming listing told so.
 */
void
tell_resize(const Settings &settings, Direction direction, std::int64_t before,
    int new_unit, int retired)
{
	const char *verb = "grew";
	if (direction == Direction::shrink)
		verb = "shrank";
	const auto after = static_cast<long long>(current_size(settings));
	const auto from = static_cast<long long>(before);

	if (new_unit >= 0)
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to %lld MiB: md%d", verb, from, after,
		    new_unit);
	else if (retired < 0)
		return;
	else if (after > 0)
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to %lld MiB: md%d retired", verb, from,
		    after, retired);
	else
		journal_tell(settings.journal, Priority::info,
		    "%s swap from %lld to 0 MiB: no device", verb, from);
}

void
tell_released(const Settings &settings, int unit,
    const std::vector<OurDevice> &listed)
{
	for (const OurDevice &device : listed) {
		if (device.unit != unit)
			continue;
		if (device.in_service)
			journal_tell(settings.journal, Priority::info,
			    "released md%d (%d MiB)", unit, device.mib);
		else
			journal_tell(settings.journal, Priority::info,
			    "released md%d", unit);
	}
}

bool
in_service(const Settings &settings, int unit)
{
	return std::any_of(settings.devices.begin(), settings.devices.end(),
	    [&](const SwapDevice &device) { return device.unit == unit; });
}

/*
 * Each pass after the first starts with a listing, so a unit freed by
 * hand and taken by another program meanwhile is left alone.
 */
void
release_every_device(Settings &settings)
{
	auto listed = give_up_every_device(settings);
	if (!listed) {
		journal_tell(settings.journal, Priority::warning,
		    "released nothing: cannot tell which memory disks are ours");
		return;
	}

	for (int attempt = 0;
	     attempt < release_attempts && !settings.stale_devices.empty();
	     attempt++) {
		if (attempt > 0) {
			sleep(1);
			if (!forget_units_not_listed(settings))
				continue;
		}
		for (int unit : retry_stale_devices(settings))
			tell_released(settings, unit, *listed);
	}

	for (const StaleDevice &device : settings.stale_devices) {
		const char *why = "still attached";
		if (device.in_service)
			why = "still in service as swap";
		journal_tell(settings.journal, Priority::warning,
		    "could not release md%d: %s", device.unit, why);
	}
}

}

bool
clear_stale_devices(Settings &settings)
{
	if (settings.stale_devices.empty())
		return true;
	if (!forget_units_not_listed(settings))
		return false;
	retry_stale_devices(settings);
	return settings.stale_devices.empty();
}

bool
resize_swap(Settings &settings, const Resize &resize)
{
	remove_swap_file_name(settings.swap_file);

	int new_unit = -1;
	if (resize.new_size > 0) {
		new_unit = bring_up_device(settings, resize.new_size);
		if (new_unit < 0)
			return false;
	}

	/* The old unit may have been handed to another program meanwhile. */
	if (resize.replaced >= 0 && !forget_units_not_listed(settings)) {
		drop_new_device(settings, new_unit);
		return false;
	}
	const std::int64_t before = current_size(settings);
	int retired = -1;
	if (in_service(settings, resize.replaced)) {
		bool serves = true;
		bool gone = retire_device(settings.journal, resize.replaced,
		    serves);
		if (!gone && serves) {
			/* The old device still serves; the new one goes. */
			drop_new_device(settings, new_unit);
			return false;
		}
		retired = resize.replaced;
		take_out_of_service(settings, retired);
		if (!gone)
			remember_stale(settings, retired, serves);
	}
	if (new_unit >= 0)
		put_in_service(settings, new_unit, resize.new_size);
	file_ahead_after_step(settings);
	tell_resize(settings, resize.direction, before, new_unit, retired);
	return true;
}

/* Memory may be shorter than ever at stop: say so rather than abort. */
void
release_swap(Settings &settings)
{
	remove_swap_file_name(settings.swap_file);
	drop_file_ahead(settings);
	try {
		release_every_device(settings);
	} catch (const std::bad_alloc &) {
		journal_tell(settings.journal, Priority::warning,
		    "stopped releasing: out of memory");
	}
}
