/* SIGTERM and SIGINT: stop after the cycle at hand. */
#ifndef MORVEND_CORE_STOP_SIGNAL_H
#define MORVEND_CORE_STOP_SIGNAL_H

#include <csignal>

/* Cleared by the stop handler; the daemon's only global. */
extern volatile std::sig_atomic_t running;

void install_stop_handler();

#endif
