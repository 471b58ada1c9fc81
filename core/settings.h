/*
 * The one record of the daemon: what the command line and the configuration
 * file set, and the live state of the swap device the daemon owns.  The
 * service core creates it first and hands it by reference to everything that
 * reads a setting or touches swap.
 */
#ifndef MORVEND_CORE_SETTINGS_H
#define MORVEND_CORE_SETTINGS_H

#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.h"

/* Paths fixed at build time; the install prefix decides the first two. */
#ifndef MORVEND_CONFIG_FILE
#define MORVEND_CONFIG_FILE "/usr/local/etc/morvend.conf"
#endif
#ifndef MORVEND_PID_FILE
#define MORVEND_PID_FILE "/var/run/morvend.pid"
#endif

inline constexpr const char *default_config_file = MORVEND_CONFIG_FILE;
inline constexpr const char *pid_file_path = MORVEND_PID_FILE;
inline constexpr const char *default_swap_file = "/usr/swap/swap0";
inline constexpr const char *morvend_version = "0.4";

/* The two directions of a resize. */
enum Direction { GROW = 1, SHRINK = 2 };

/*
 * A device of ours that is no longer in use but could not be retired yet:
 * still active as swap, or deactivated but still attached.
 */
struct StaleDevice {
	int	unit;
	bool	in_service;
};

/*
 * What the log has told in the current run of cycles with failures, so a
 * failure that repeats is told once, and its end once more.
 */
struct Journal {
	bool			open = false;	/* SYSLOG 1: tell syslog */
	std::vector<std::string> told;		/* failures, numbers left out */
	bool			failed_this_cycle = false;
	int			failed_cycles = 0;
};

/*
 * Sizes count MiB, wait_time counts seconds.  An empty path stands for a
 * path that is not set: no file can be opened under either.
 */
struct Settings {
	int		daemon_mode = 0;
	int		show_help = 0;
	int		show_version = 0;
	std::string	config_file = default_config_file;
	std::int32_t	grow_buffer = 256;
	std::int32_t	reduce_buffer = 1024;
	std::int32_t	delta_size = 256;
	std::int32_t	current_size = 0;	/* size of the file we own */
	std::string	swap_file = default_swap_file;
	std::int32_t	md_unit = -1;		/* our device; -1: none */
	std::int32_t	wait_time = 5;
	int		write_pid = 0;
	std::int32_t	max_size = 0;		/* 0: no bound */
	std::int32_t	use_syslog = 0;		/* 1: tell syslog what we do */
	std::vector<StaleDevice> stale_devices;	/* retried each cycle */
	UniqueFd	swap_lock;		/* held: the swap file is ours */
	bool		devices_known = false;	/* the record matches the system */
	Journal		journal;
};

void settings_destroy(Settings *settings);
using SettingsRecord = std::unique_ptr<Settings, decltype(&settings_destroy)>;

/* Holds nothing only when the record cannot be allocated. */
SettingsRecord settings_create();

/*
 * Reads a decimal integer as "%d" does: leading white space, an optional
 * sign, digits; whatever follows is ignored.  No digits, or a number that
 * does not fit 32 bits, yields nothing.
 */
std::optional<std::int32_t> scan_int(const char *text);

/* Cleared by the stop handler; the only global besides the record. */
extern volatile std::sig_atomic_t running;

void stop_handler(int signo);
void install_stop_handler();

void control_loop(Settings &settings);

/* Command line. */
bool parse_options(Settings &settings, int argc, char *const argv[]);
void print_usage();
void print_version();

/* Configuration file. */
bool load_config(Settings &settings);

/* Background mode and PID file. */
enum class Detach { daemon, parent, failed };
Detach daemonize(UniqueFd &ready);
void report_ready(UniqueFd &ready);
bool write_pid_file();

#endif
