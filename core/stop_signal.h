/* SIGTERM and SIGINT: stop after the cycle at hand; SIGXFSZ: ignored. */
#ifndef MORVEND_CORE_STOP_SIGNAL_H
#define MORVEND_CORE_STOP_SIGNAL_H

#include <csignal>
#include <cstdint>

/* Cleared by the stop handler; the daemon's only global. */
extern volatile std::sig_atomic_t running;

/* The stop signals end the loop; a file-size limit fails a write. */
void install_signal_handlers();

/*
 * Waits the given milliseconds, or less when a stop signal comes; not at
 * all when one came already.
 */
void pause_unless_stopped(std::int64_t milliseconds);

#endif
