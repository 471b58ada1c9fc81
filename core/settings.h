/*
 * The one record of the daemon: what the command line and the configuration
 * file set, and the live state of the swap the daemon owns.  main() creates
 * it first and hands it by reference to everything that reads a setting or
 * touches swap.
 */
#ifndef MORVEND_CORE_SETTINGS_H
#define MORVEND_CORE_SETTINGS_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/journal.h"
#include "core/unique_fd.h"

/* The install prefix decides where the configuration file is looked for. */
#ifndef MORVEND_CONFIG_FILE
#define MORVEND_CONFIG_FILE "/usr/local/etc/morvend.conf"
#endif

inline constexpr const char *default_config_file = MORVEND_CONFIG_FILE;
inline constexpr const char *default_swap_file = "/usr/swap/swap0";

/* A device of ours in service as swap, as /dev/mdN or /dev/mdN.eli. */
struct SwapDevice {
	int unit;
	std::int32_t mib;
	bool encrypted = false;
};

/*
 * A device of ours that is no longer in use but could not be retired yet:
 * still active as swap, or deactivated but still attached.
 */
struct StaleDevice {
	int unit;
	bool swapped_on; /* still active as swap */
	bool encrypted = false; /* as /dev/mdN.eli */
};

/*
 * The next grow's file, written ahead of need by a writer child of the
 * daemon's (or, failing one, by the loop in its pauses): the grow then
 * only puts it in place.  Never attached before it is whole.
 */
struct FileAhead {
	UniqueFd fd; /* open while the file is ours and not in place */
	std::int32_t mib = 0; /* the size it is being written to */
	std::int64_t written = 0; /* bytes known written so far */
	pid_t writer = -1; /* the child writing the rest, if one does */
	bool given_up = false; /* a write failed: wait for the next step */
	bool trouble_told = false; /* since it was last whole */
};

/* An empty path stands for one that is not set: nothing opens under it. */
struct Settings {
	/* Set by the command line. */
	int daemon_mode = 0;
	int show_help = 0;
	int show_version = 0;
	int write_pid = 0;
	std::string config_file = default_config_file;

	/* Set by the configuration file: sizes in MiB, wait_time in seconds. */
	std::string swap_file = default_swap_file;
	std::int32_t grow_buffer = 256;
	std::int32_t reduce_buffer = 1024;
	std::int32_t delta_size = 256;
	std::int32_t wait_time = 5;
	std::int32_t max_size = 0; /* 0: no bound */
	std::int32_t use_syslog = 0; /* 1: tell syslog what we do */
	std::int32_t quick_wait = 0; /* ms while swap runs short; 0: off */
	std::int32_t max_devices = 1; /* of ours in service at once */
	std::int32_t write_ahead = 0; /* 1: keep the next grow's file ready */
	std::int32_t encrypt = -1; /* 1: .eli, else plain; -1: as the system */
	/* "FILE:LINE: KEY: ..." for each value that was no number. */
	std::vector<std::string> config_warnings;

	/* The swap we own now, as far as the system last told us. */
	std::vector<SwapDevice> devices; /* in service, oldest first */
	std::vector<StaleDevice> stale_devices; /* retried each cycle */
	std::int64_t system_swap = 0; /* MiB in service, ours and others' */
	bool system_swap_encrypted = false; /* others' swap, last surveyed */
	bool encryption_chosen = false; /* at the first survey */
	bool encrypting = false; /* new devices go in service as .eli */
	std::int64_t free_swap = -1; /* MiB at the last reading; -1: none */
	std::string last_resize; /* as the log told it; empty: none yet */
	std::int64_t last_resize_at = 0; /* when, in seconds since the epoch */
	std::int64_t kernel_swap_limit = 0; /* MiB of the total; 0: no bound */
	int refusal_told = 0; /* the GrowBound told for this run of refusals */
	FileAhead file_ahead;
	UniqueFd swap_lock; /* held: the swap file is ours */
	/* As last resolved: what to look for once the directory is gone. */
	std::string listed_swap_file;
	bool record_matches_system = false;
	Journal journal;
};

/* MiB of swap we own: the sum of our devices. */
std::int64_t current_size(const Settings &settings);

void settings_destroy(Settings *settings);
using SettingsRecord = std::unique_ptr<Settings, decltype(&settings_destroy)>;

/* Holds nothing only when the record cannot be allocated. */
SettingsRecord settings_create();

#endif
