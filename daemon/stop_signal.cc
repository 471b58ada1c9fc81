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

/* A request never brings back a daemon that is stopping. */
void
request_handler(int signo)
{
	if (running == 0)
		return;
	running = running | (signo == SIGHUP ? reload_request : status_request);
}

/* The write that met a closed pipe fails with EPIPE instead. */
void
write_fails(int /* signo */)
{
}

/* The signals that end or cut short the pause. */
sigset_t
waking_signals()
{
	sigset_t set;

	sigemptyset(&set);
	sigaddset(&set, SIGTERM);
	sigaddset(&set, SIGINT);
	sigaddset(&set, status_signal);
	sigaddset(&set, SIGHUP);
	return set;
}

}

/*
 * SA_RESTART as FreeBSD's signal() has it: a probe's read or the wait for a
 * command resumes after the handler, only the pause between cycles ends.
 * The handlers hold each other back, so none of them loses another's bit.
 * A supervisor may have handed the signals down blocked.  A write past a
 * file-size limit (ulimit -f, a login class) must fail, so that the short
 * swap file is removed, rather than kill the daemon mid-fill.  So must a
 * log line written to a pipe whose reader went away, rather than kill the
 * daemon with its devices in service; that one is caught, not ignored, so
 * that the tools run with the default, as pipelines expect.
 */
void
install_signal_handlers()
{
	struct sigaction action = {}, ignore = {};
	sigset_t waking = waking_signals();

	action.sa_mask = waking;
	action.sa_flags = SA_RESTART;
	action.sa_handler = stop_handler;
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
	action.sa_handler = request_handler;
	sigaction(status_signal, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);
	sigprocmask(SIG_UNBLOCK, &waking, nullptr);

	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	sigaction(SIGXFSZ, &ignore, nullptr);
	action.sa_handler = write_fails;
	sigemptyset(&action.sa_mask);
	sigaction(SIGPIPE, &action, nullptr);
}

/*
 * The signals are held back from the test of running to the wait, which
 * lets them in: one that comes in between still ends the wait.
 */
void
pause_unless_stopped(std::int64_t milliseconds)
{
	sigset_t waking = waking_signals(), saved;
	struct timespec pause = {};

	pause.tv_sec = static_cast<time_t>(milliseconds / 1000);
	pause.tv_nsec = static_cast<long>(milliseconds % 1000 * 1000000);
	sigprocmask(SIG_BLOCK, &waking, &saved);
	if (running == 1)
		pselect(0, nullptr, nullptr, nullptr, &pause, &saved);
	sigprocmask(SIG_SETMASK, &saved, nullptr);
}
