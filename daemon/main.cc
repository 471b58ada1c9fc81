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

#include "core/journal.h"
#include "core/settings.h"
#include "core/unique_fd.h"
#include "core/version.h"
#include "daemon/background.h"
#include "daemon/config.h"
#include "daemon/control_loop.h"
#include "daemon/options.h"
#include "daemon/stop_signal.h"
#include "swap/policy.h"
#include "swap/swap_device.h"

namespace {

/* The settings in force, and where they came from. */
void
tell_start(const Settings &settings, bool config_read)
{
	std::string from = settings.config_file;
	if (!config_read)
		from = "the defaults (" + from + " not read)";
	std::string bound = "no bound on its size";
	if (settings.max_size != 0)
		bound = "at most " + std::to_string(settings.max_size) + " MiB";
	journal_tell(settings.journal, Priority::info,
	    "morvend %s started with %s: swap file %s, "
	    "grows below %d MiB free, shrinks above %d MiB free, "
	    "steps of %d MiB, %s, every %d s",
	    morvend_version, from.c_str(), settings.swap_file.c_str(),
	    settings.grow_buffer, settings.reduce_buffer, settings.delta_size,
	    bound.c_str(), settings.wait_time);
	for (const std::string &warning : settings.config_warnings)
		journal_tell(settings.journal, Priority::warning, "%s",
		    warning.c_str());
	if (settings.quick_wait > 0)
		journal_tell(settings.journal, Priority::info,
		    "looks again after %d ms while free swap is under %lld MiB",
		    settings.quick_wait, 2LL * settings.grow_buffer);
	if (device_slots(settings) > 1)
		journal_tell(settings.journal, Priority::info,
		    "grows by adding devices, up to %zu",
		    device_slots(settings));
	tell_swap_start(settings);
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
	const bool config_read = load_config(*settings);
	for (const std::string &warning : settings->config_warnings)
		complain("%s", warning.c_str());
	if (!swap_settings_usable(*settings))
		return 1;

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
	if (!take_swap_file(*settings))
		return 1;
	/* rc.d finds a daemon started with -d by its PID file alone. */
	if (settings->write_pid && !write_pid_file() && settings->daemon_mode) {
		complain("cannot write %s: %s", pid_file_path,
		    std::strerror(errno));
		return 1;
	}
	install_signal_handlers();
	open_journal(settings->journal, settings->use_syslog);
	tell_start(*settings, config_read);
	report_ready(ready);

	control_loop(*settings);
	if (settings->swap_lock)
		release_swap(*settings);
	close_journal(settings->journal);
	return 0;
}
