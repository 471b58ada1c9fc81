#include "core/stop_flag.h"

#include <signal.h>

bool
take_request(SignalRequest request)
{
	sigset_t all, saved;

	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &saved);
	const bool came = (running & request) != 0;
	if (came)
		running = running & ~request;
	sigprocmask(SIG_SETMASK, &saved, nullptr);
	return came;
}
