/*
 * SIGTERM and SIGINT: stop after the step at hand; SIGXFSZ and SIGPIPE:
 * a write that fails, not a death.
 */
#ifndef MORVEND_DAEMON_STOP_SIGNAL_H
#define MORVEND_DAEMON_STOP_SIGNAL_H

#include <cstdint>

#include "core/stop_flag.h"

/*
 * The stop signals end the loop; a file-size limit or a closed pipe fails
 * a write.
 */
void install_signal_handlers();

/*
 * Waits the given milliseconds, or less when a stop signal comes; not at
 * all when one came already.
 */
void pause_unless_stopped(std::int64_t milliseconds);

#endif
