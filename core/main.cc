/*
 * morvend: keeps a cushion of free swap by growing and shrinking a swap
 * device of its own.  The start-up order matters: nothing touches the
 * system before the options and the configuration file are read, and the
 * launcher of -d is let go only once the daemon is where it will run.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/background.h"
#include "core/config.h"
#include "core/control_loop.h"
#include "core/journal.h"
#include "core/options.h"
#include "core/settings.h"
#include "core/stop_signal.h"
#include "core/unique_fd.h"
#include "core/version.h"
#include "swap/backing_file.h"
#include "swap/file_ahead.h"
#include "swap/ownership.h"
#include "swap/parse.h"
#include "swap/policy.h"
#include "swap/probe.h"
#include "swap/swap_device.h"

namespace {

void
tell_start(const Settings &settings)
{
	journal_tell(settings.journal, Priority::info,
	    "morvend %s started: swap file %s, "
	    "grows below %d MiB free, shrinks above %d MiB free, "
	    "steps of %d MiB, at most %d MiB (0: no bound), every %d s",
	    morvend_version, settings.swap_file.c_str(), settings.grow_buffer,
	    settings.reduce_buffer, settings.delta_size, settings.max_size,
	    settings.wait_time);
	if (settings.quick_wait > 0)
		journal_tell(settings.journal, Priority::info,
		    "looks again after %d ms while free swap is under %lld MiB",
		    settings.quick_wait, 2LL * settings.grow_buffer);
	if (device_slots(settings) > 1)
		journal_tell(settings.journal, Priority::info,
		    "grows by adding devices, up to %zu",
		    device_slots(settings));
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
}

/* Said where an admin will see it, then carried on: it may be a test box. */
void
warn_if_unsound(const Settings &settings)
{
	std::string trouble = unsound_file_system(settings.swap_file);

	if (trouble.empty())
		return;
	complain("warning: %s", trouble.c_str());
	journal_tell(settings.journal, Priority::warning, "warning: %s",
	    trouble.c_str());
}

}

int
main(int argc, char *argv[])
{
	SettingsRecord settings = settings_create();

	if (!settings) {
		std::puts("Unable to allocate memory. Exiting.");
		return 1;
	}

	parse_options(*settings, argc, argv);
	if (settings->show_version)
		print_version();
	if (settings->show_help)
		print_usage();
	if (settings->show_version || settings->show_help)
		return 0;

	std::srand(static_cast<unsigned>(std::time(nullptr)));
	load_config(*settings);
	/*
	 * A step of 0 would rewrite a file of the same size every cycle, and
	 * one below 0 would write a larger file on every shrink.
	 */
	if (settings->delta_size <= 0) {
		complain("DELTA_SIZE is %d: a step must be at least 1 MiB",
		    settings->delta_size);
		return 1;
	}
	/* Disks over a path that the listing shows otherwise are never found. */
	auto resolved = resolve_swap_file(settings->swap_file);
	std::string listed = resolved ? *resolved : settings->swap_file;
	settings->listed_swap_file = resolved ? *resolved : "";
	if (const char *why = unlistable_because(listed)) {
		complain("swap file \"%s\" %s, which mdconfig -l -v would not "
		         "list as it is",
		    printable(listed).c_str(), why);
		return 1;
	}

	UniqueFd ready;
	if (settings->daemon_mode) {
		switch (daemonize(ready)) {
		case Detach::daemon:
			break;
		case Detach::parent:
			return 0;
		case Detach::failed:
			return 1;
		}
	}
	/* Another daemon's swap file is not ours to touch, nor its PID file. */
	prepare_swap_directory(settings->swap_file);
	if (lock_swap_file(*settings) == SwapFileLock::taken) {
		complain("another morvend holds %s",
		    swap_directory(settings->swap_file).c_str());
		return 1;
	}
	/* One left by a daemon that was killed may be partly written. */
	if (settings->swap_lock)
		drop_file_ahead(*settings);
	/* rc.d finds a daemon started with -d by its PID file alone. */
	if (settings->write_pid && !write_pid_file() && settings->daemon_mode) {
		complain("cannot write %s: %s", pid_file_path,
		    std::strerror(errno));
		return 1;
	}
	settings->kernel_swap_limit = probe_kernel_swap_limit().value_or(0);
	install_signal_handlers();
	open_journal(settings->journal, settings->use_syslog);
	tell_start(*settings);
	warn_if_unsound(*settings);
	report_ready(ready);

	control_loop(*settings);
	if (settings->swap_lock)
		release_swap(*settings);
	close_journal(settings->journal);
	return 0;
}
