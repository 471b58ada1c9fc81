/* The configuration file. */
#ifndef MORVEND_DAEMON_CONFIG_H
#define MORVEND_DAEMON_CONFIG_H

#include "core/settings.h"

/*
 * Reads settings.config_file into the record.  False when the file cannot
 * be opened, or when it leaves the swap file's path empty.  A value that
 * is no number leaves its key as it was, and a line in config_warnings.
 */
bool load_config(Settings &settings);

/*
 * On SIGHUP: reads the file again into a fresh record and takes its
 * numbers from the next cycle on (a key left out goes back to its
 * default).  The devices stay; a lowered bound takes effect at the next
 * resize.  A changed SWAP_FILE, and a step below 1 MiB, are not taken,
 * and the log says so; a file that cannot be read changes nothing.
 */
void reload_config(Settings &settings);

#endif
