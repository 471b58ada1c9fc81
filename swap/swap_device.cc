/*
 * Bringing up, replacing and retiring our devices: the order of the
 * commands.  The swap file keeps no name while its device is busy, so each
 * new file is written at the same path; a device goes only once the one
 * that replaces it is in service.  What the record holds changes only
 * through the ownership verbs.
 */
#include "swap/swap_device.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/journal.h"
#include "core/stop_flag.h"
#include "swap/backing_file.h"
#include "swap/file_ahead.h"
#include "swap/md_device.h"
#include "swap/ownership.h"
#include "swap/parse.h"
#include "swap/probe.h"

namespace {

/* At stop, how long a refused swapoff is retried: seconds. */
constexpr int release_attempts = 10;

/* Retires a unit of ours; what does not go now is remembered as stale. */
void
give_up_device(Settings &settings, StaleDevice device)
{
	take_out_of_service(settings, device.unit);
	if (!retire_device(settings.journal, device.unit, device.encrypted,
	        device.swapped_on))
		remember_stale(settings, device);
}

/*
 * One pass over the stale devices, without a listing first; returns the
 * units that are gone now.
 */
std::vector<int>
retry_stale_devices(Settings &settings)
{
	std::vector<int> gone;

	for (StaleDevice device : std::vector(settings.stale_devices)) {
		if (retire_device(settings.journal, device.unit,
		        device.encrypted, device.swapped_on)) {
			forget_stale(settings, device.unit);
			gone.push_back(device.unit);
		} else {
			remember_stale(settings, device);
		}
	}
	return gone;
}

/*
 * Writes, or takes the file written ahead, then attaches and activates a
 * device of the given size.  Whatever did not come up is taken away
 * again; returns the unit or -1.
 */
int
bring_up_device(Settings &settings, std::int32_t mib)
{
	/* SIGINFO is answered within a piece, however long the fill. */
	const auto answer_status = [&] {
		if (take_request(status_request))
			tell_status(settings);
	};

	if (!place_file_ahead(settings, mib, answer_status) &&
	    !fill_swap_file(settings.swap_file, mib, answer_status)) {
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
		auto serving = activate_device(settings.journal, unit,
		    settings.encrypting);
		if (serving != true) {
			/*
			 * When the listing could not say whether the refused
			 * swapon left it serving, take it that it does:
			 * the swapoff then finds out.
			 */
			give_up_device(settings,
			    { unit, serving.value_or(true),
			        settings.encrypting });
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
	give_up_device(settings, { unit, true, settings.encrypting });
}

/*
 * "grew swap from 256 to 512 MiB: md7": the totals, then the new device,
 * or the one retired when others still serve.  A step whose device to
 * retire had gone already did nothing: the confirming listing told so.
 */
void
tell_resize(Settings &settings, Direction direction, std::int64_t before,
    int new_unit, int retired)
{
	const char *verb = "grew";
	if (direction == Direction::shrink)
		verb = "shrank";
	const auto after = static_cast<long long>(current_size(settings));
	const auto from = static_cast<long long>(before);

	/* For the status line: what the last step did, and when. */
	settings.last_resize = std::string(verb) + " from " +
	    std::to_string(from) + " to " + std::to_string(after) + " MiB";
	settings.last_resize_at = std::time(nullptr);
	if (new_unit >= 0)
		journal_tell(settings.journal, Priority::notice,
		    "%s swap from %lld to %lld MiB: md%d", verb, from, after,
		    new_unit);
	else if (retired < 0)
		return;
	else if (after > 0)
		journal_tell(settings.journal, Priority::notice,
		    "%s swap from %lld to %lld MiB: md%d retired", verb, from,
		    after, retired);
	else
		journal_tell(settings.journal, Priority::notice,
		    "%s swap from %lld to 0 MiB: no device", verb, from);
}

void
tell_released(const Settings &settings, int unit,
    const std::vector<OurDevice> &listed)
{
	for (const OurDevice &device : listed) {
		if (device.unit != unit)
			continue;
		if (device.swapped_on)
			journal_tell(settings.journal, Priority::info,
			    "released md%d (%d MiB)", unit, device.mib);
		else
			journal_tell(settings.journal, Priority::info,
			    "released md%d", unit);
	}
}

/*
 * Each pass after the first starts with a listing, so a unit freed by
 * hand and taken by another program meanwhile is left alone.
 */
void
release_every_device(Settings &settings)
{
	auto listed = mark_listed_stale(settings);
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
		if (device.swapped_on)
			why = "still in service as swap";
		journal_tell(settings.journal, Priority::warning,
		    "could not release md%d: %s", device.unit, why);
	}
}

/*
 * Retries the devices that could not be retired when they were given up,
 * once the system confirms they are still ours; true when none is left.
 */
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

/*
 * Once, at the first look at the system: plain or encrypted swap for the
 * devices to come, and why.  Devices already in service keep theirs.
 */
void
choose_and_tell_encryption(Settings &settings)
{
	settings.encrypting = choose_encryption(settings.encrypt,
	    settings.system_swap_encrypted);
	settings.encryption_chosen = true;
	const char *why = settings.encrypt == 1 ? "ENCRYPT 1" :
	    settings.encrypt != -1              ? "ENCRYPT is not 1" :
	    settings.encrypting ? "the system's own swap is encrypted" :
	                          "none of the system's own swap is encrypted";
	if (settings.encrypting)
		journal_tell(settings.journal, Priority::info,
		    "swaps on its devices encrypted, as /dev/mdN.eli: %s", why);
	else
		journal_tell(settings.journal, Priority::info,
		    "swaps on its devices plain: %s", why);
}

/*
 * Why it did not grow: once when a bound starts to refuse the grows that
 * free swap calls for, and once more when it no longer does.
 */
void
tell_refusal(Settings &settings, GrowBound refused_by)
{
	const auto told = static_cast<GrowBound>(settings.refusal_told);

	if (refused_by == told)
		return;
	if (told == GrowBound::max_size)
		journal_tell(settings.journal, Priority::info,
		    "MAX_SIZE no longer refuses a grow");
	else if (told == GrowBound::kernel_limit)
		journal_tell(settings.journal, Priority::info,
		    "the kernel's limit no longer refuses a grow");
	if (refused_by == GrowBound::max_size && settings.max_size != 0)
		journal_tell(settings.journal, Priority::warning,
		    "not growing: our swap would pass MAX_SIZE, %d MiB",
		    settings.max_size);
	else if (refused_by == GrowBound::max_size)
		journal_tell(settings.journal, Priority::warning,
		    "not growing: our swap would pass the most 32 bits count");
	else if (refused_by == GrowBound::kernel_limit)
		journal_tell(settings.journal, Priority::warning,
		    "not growing: total swap would pass %lld MiB, half of what "
		    "the kernel can track",
		    static_cast<long long>(settings.kernel_swap_limit));
	settings.refusal_told = static_cast<int>(refused_by);
}

}

bool
swap_settings_usable(const Settings &settings)
{
	/*
	 * A step of 0 would rewrite a file of the same size every cycle, and
	 * one below 0 would write a larger file on every shrink.
	 */
	if (settings.delta_size <= 0) {
		complain("DELTA_SIZE is %d: a step must be at least 1 MiB",
		    settings.delta_size);
		return false;
	}
	/*
	 * mdconfig -l -v prints the path as the kernel keeps it (control
	 * bytes as "?", blanks trimmed): a path it would print otherwise
	 * could never be matched to our disks, which would then never be
	 * released.
	 */
	const std::string listed =
	    resolve_swap_file(settings.swap_file).value_or(settings.swap_file);
	if (const char *why = unlistable_because(listed)) {
		complain("swap file \"%s\" %s, which mdconfig -l -v would not "
		         "list as it is",
		    printable(listed).c_str(), why);
		return false;
	}
	return true;
}

bool
take_swap_file(Settings &settings)
{
	/* Another daemon's swap file is not ours to touch, nor its PID file. */
	prepare_swap_directory(settings.swap_file);
	if (lock_swap_file(settings) == SwapFileLock::taken) {
		complain("another morvend holds %s",
		    swap_directory(settings.swap_file).c_str());
		return false;
	}
	/* One left by a daemon that was killed may be partly written. */
	if (settings.swap_lock)
		drop_file_ahead(settings);
	settings.kernel_swap_limit = probe_kernel_swap_limit().value_or(0);
	return true;
}

void
tell_swap_start(const Settings &settings)
{
	if (settings.kernel_swap_limit > 0)
		journal_tell(settings.journal, Priority::info,
		    "keeps total swap within %lld MiB, half of what the kernel "
		    "can track",
		    static_cast<long long>(settings.kernel_swap_limit));
	/* With one device the next grow's file is the whole next size. */
	if (settings.write_ahead == 1 && device_slots(settings) == 1)
		journal_tell(settings.journal, Priority::info,
		    "keeps the next grow's file written ahead at %s: the size "
		    "of our swap plus %d MiB, on disk beside the swap file",
		    file_ahead_path(settings.swap_file).c_str(),
		    settings.delta_size);
	else if (settings.write_ahead == 1)
		journal_tell(settings.journal, Priority::info,
		    "keeps the next grow's file written ahead at %s: %d MiB "
		    "while fewer than %zu devices serve, else the smallest "
		    "one's size plus %d MiB",
		    file_ahead_path(settings.swap_file).c_str(),
		    settings.delta_size, device_slots(settings),
		    settings.delta_size);
	/* Said where an admin will see it, then carried on: it may be a test box. */
	std::string trouble = unsound_file_system(settings.swap_file);
	if (!trouble.empty()) {
		complain("warning: %s", trouble.c_str());
		journal_tell(settings.journal, Priority::warning, "warning: %s",
		    trouble.c_str());
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
	if (!settings.encryption_chosen)
		choose_and_tell_encryption(settings);
	if (!clear_stale_devices(settings))
		settings.record_matches_system = false;

	auto total = probe_swap_total(settings.journal);
	auto used = probe_swap_used(settings.journal);
	if (!total || !used)
		return std::nullopt;
	const std::int64_t free_swap = std::int64_t{ *total } - *used;
	settings.system_swap = *total;
	settings.free_swap = free_swap;

	/* Which of several devices to retire depends on what each holds. */
	std::vector<SwapArea> areas;
	if (needs_device_use(free_swap, settings)) {
		auto listed = list_swap_areas(settings.journal);
		if (!listed)
			return free_swap;
		areas = std::move(*listed);
	}
	Decision decision = choose_resize(free_swap, settings, areas);
	/* Devices taken away by hand must stop counting against a bound. */
	if (decision.refused_by != GrowBound::none && survey_devices(settings))
		decision = choose_resize(free_swap, settings);
	tell_refusal(settings, decision.refused_by);
	if (decision.resize && !resize_swap(settings, *decision.resize))
		settings.record_matches_system = false;
	return free_swap;
}

/*
 * "status: 312 MiB of swap free; devices: 2, 512 MiB: md5 (256 MiB) md9
 * (256 MiB); file ahead: 256 MiB, whole; last resize: grew from 256 to
 * 512 MiB, 14 s ago; next grow: 256 MiB, allowed"
 */
void
tell_status(const Settings &settings)
{
	std::string devices;
	for (const SwapDevice &device : settings.devices)
		devices += " md" + std::to_string(device.unit) +
		    (device.encrypted ? ".eli (" : " (") +
		    std::to_string(device.mib) + " MiB)";

	std::string ahead = "none";
	const FileAheadState file = file_ahead_state(settings);
	if (file.mib > 0)
		ahead = std::to_string(file.mib) + " MiB, " +
		    (file.whole ? "whole" :
		                  std::to_string(file.percent) + "% written");

	std::string last = "none yet";
	if (!settings.last_resize.empty())
		last = settings.last_resize + ", " +
		    std::to_string(
		        std::time(nullptr) - settings.last_resize_at) +
		    " s ago";

	std::string next = "refused by MAX_SIZE";
	switch (grow_bound(settings)) {
	case GrowBound::kernel_limit:
		next = "refused by the kernel's limit of " +
		    std::to_string(settings.kernel_swap_limit) + " MiB";
		break;
	case GrowBound::none: {
		const std::int32_t mib = next_grow(settings).new_size;
		const bool room = (file.whole && file.mib == mib) ||
		    room_for_swap_files(settings.swap_file) >=
		        mib * bytes_per_mib;
		next = std::to_string(mib) + " MiB, " +
		    (room ? "allowed" : "no room for its file");
		break;
	}
	case GrowBound::max_size:
		break;
	}

	std::string free_swap = "unknown";
	if (settings.free_swap >= 0)
		free_swap = std::to_string(settings.free_swap);
	const std::string status = free_swap + " MiB of swap free; devices: " +
	    std::to_string(settings.devices.size()) + ", " +
	    std::to_string(current_size(settings)) + " MiB:" + devices +
	    "; file ahead: " + ahead + "; last resize: " + last +
	    "; next grow: " + next;
	if (settings.journal.sink != nullptr)
		journal_tell(settings.journal, Priority::info, "status: %s",
		    status.c_str());
	else
		complain("status: %s", status.c_str());
}

bool
work_ahead(Settings &settings)
{
	return write_ahead(settings);
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
	if (const SwapDevice *old = record_device(settings, resize.replaced)) {
		const bool encrypted = old->encrypted;
		bool serves = true;
		bool gone = retire_device(settings.journal, resize.replaced,
		    encrypted, serves);
		if (!gone && serves) {
			/* The old device still serves; the new one goes. */
			drop_new_device(settings, new_unit);
			return false;
		}
		retired = resize.replaced;
		take_out_of_service(settings, retired);
		if (!gone)
			remember_stale(settings,
			    { retired, serves, encrypted });
	}
	if (new_unit >= 0)
		put_in_service(settings,
		    { new_unit, resize.new_size, settings.encrypting });
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
