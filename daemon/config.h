/* The configuration file. */
#ifndef MORVEND_DAEMON_CONFIG_H
#define MORVEND_DAEMON_CONFIG_H

#include "core/settings.h"

/*
 * Reads settings.config_file into the record.  False when the file cannot
 * be opened, or when it leaves the swap file's path empty.
 */
bool load_config(Settings &settings);

#endif
