/* The command line, and the two texts it can ask for. */
#ifndef MORVEND_DAEMON_OPTIONS_H
#define MORVEND_DAEMON_OPTIONS_H

#include "core/settings.h"

/* Sets flags and the configuration file's path; ignores anything else. */
void parse_options(Settings &settings, int argc, char *const argv[]);
void print_usage();
void print_version();

#endif
