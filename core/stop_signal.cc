#include "core/stop_signal.h"

#include <signal.h>

volatile std::sig_atomic_t running = 1;

namespace {

void
stop_handler(int)
{
	running = 0;
}

}

/*
 * SA_RESTART as FreeBSD's signal() has it: a probe's read or the wait for a
 * command resumes after the handler, only the pause between cycles ends.
 */
void
install_stop_handler()
{
	struct sigaction action = {};

	action.sa_handler = stop_handler;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
}
