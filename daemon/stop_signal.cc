#include "daemon/stop_signal.h"

#include <sys/select.h>

#include <signal.h>
#include <time.h>

namespace {

void
stop_handler(int /* signo */)
{
	running = 0;
}

/* The write that met a closed pipe fails with EPIPE instead. */
void
write_fails(int /* signo */)
{
}

}

/*
 * SA_RESTART as FreeBSD's signal() has it: a probe's read or the wait for a
 * command resumes after the handler, only the pause between cycles ends.
 * A supervisor may have handed the stop signals down blocked.  A write
 * past a file-size limit (ulimit -f, a login class) must fail, so that the
 * short swap file is removed, rather than kill the daemon mid-fill.  So
 * must a log line written to a pipe whose reader went away, rather than
 * kill the daemon with its devices in service; that one is caught, not
 * ignored, so that the tools run with the default, as pipelines expect.
 */
void
install_signal_handlers()
{
	struct sigaction action = {}, ignore = {};
	sigset_t stops;

	action.sa_handler = stop_handler;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
	sigemptyset(&stops);
	sigaddset(&stops, SIGTERM);
	sigaddset(&stops, SIGINT);
	sigprocmask(SIG_UNBLOCK, &stops, nullptr);

	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	sigaction(SIGXFSZ, &ignore, nullptr);
	action.sa_handler = write_fails;
	sigaction(SIGPIPE, &action, nullptr);
}

/*
 * The stop signals are held back from the test of running to the wait,
 * which lets them in: one that comes in between still ends the wait.
 */
void
pause_unless_stopped(std::int64_t milliseconds)
{
	sigset_t stops, saved;
	struct timespec pause = {};

	pause.tv_sec = static_cast<time_t>(milliseconds / 1000);
	pause.tv_nsec = static_cast<long>(milliseconds % 1000 * 1000000);
	sigemptyset(&stops);
	sigaddset(&stops, SIGTERM);
	sigaddset(&stops, SIGINT);
	sigprocmask(SIG_BLOCK, &stops, &saved);
	if (running)
		pselect(0, nullptr, nullptr, nullptr, &pause, &saved);
	sigprocmask(SIG_SETMASK, &saved, nullptr);
}
