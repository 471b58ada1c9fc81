/*
 * The daemon's only global, the word its signal handlers write: 0 once a
 * stop signal came, else 1 with the bits of the requests (status, reload)
 * that came since they were last taken.  Read wherever long work must give
 * way to a stop (the loop, a fill) or answer a request (the pause).
 */
#ifndef MORVEND_CORE_STOP_FLAG_H
#define MORVEND_CORE_STOP_FLAG_H

#include <csignal>

inline volatile std::sig_atomic_t running = 1;

enum SignalRequest : int {
	status_request = 2, /* SIGINFO, or SIGUSR1 where there is none */
	reload_request = 4, /* SIGHUP */
};

/*
 * Whether the request came since it was last taken; it is taken, with the
 * signals held back meanwhile, so none is lost and a stop stays a stop.
 */
bool take_request(SignalRequest request);

#endif
