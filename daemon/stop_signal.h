/*
 * SIGTERM and SIGINT: stop after the step at hand.  SIGINFO (SIGUSR1 where
 * the system has none): a status line.  SIGHUP: read the configuration
 * again.  SIGXFSZ and SIGPIPE: a write that fails, not a death.
 */
#ifndef MORVEND_DAEMON_STOP_SIGNAL_H
#define MORVEND_DAEMON_STOP_SIGNAL_H

#include <csignal>
#include <cstdint>

#include "core/stop_flag.h"

#ifdef SIGINFO
inline constexpr int status_signal = SIGINFO;
#else
inline constexpr int status_signal = SIGUSR1;
#endif

/*
 * The stop signals end the loop, the request signals set their bit; a
 * file-size limit or a closed pipe fails a write.
 */
void install_signal_handlers();

/*
 * Waits the given milliseconds, or less when a stop signal or a request
 * comes; not at all when one came already.
 */
void pause_unless_stopped(std::int64_t milliseconds);

#endif
