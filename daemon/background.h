/* Background mode and the PID file. */
#ifndef MORVEND_DAEMON_BACKGROUND_H
#define MORVEND_DAEMON_BACKGROUND_H

#include "core/unique_fd.h"

/* Fixed at build time; the install prefix does not move it. */
#ifndef MORVEND_PID_FILE
#define MORVEND_PID_FILE "/var/run/morvend.pid"
#endif

inline constexpr const char *pid_file_path = MORVEND_PID_FILE;

/*
 * Detaches by double fork.  The launching process returns parent once the
 * daemon has called report_ready, failed when it never will; the daemon
 * returns daemon and holds the other end of the pipe in ready.
 */
enum class Detach { daemon, parent, failed };
Detach daemonize(UniqueFd &ready);
void report_ready(UniqueFd &ready);

/* Writes this process's id, with no newline; false, errno set, on failure. */
bool write_pid_file();

#endif
