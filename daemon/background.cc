/*
 * Background mode by double fork, and the PID file.  The launching process
 * stays until the daemon is in place, so its exit status tells whether a
 * daemon runs.
 */
#include <sys/wait.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daemon/background.h"
#include "core/journal.h"
#include "core/stdio_file.h"

namespace {

/* Which side of a fork this process is on. */
Detach
fork_once()
{
	pid_t pid = fork();

	if (pid < 0) {
		/* No daemon will run: say so rather than exit 0. */
		complain("cannot detach: fork: %s", std::strerror(errno));
		return Detach::failed;
	}
	return pid == 0 ? Detach::daemon : Detach::parent;
}

/*
 * The daemon writes one byte once it is in place; the pipe closing with
 * none means it is gone, and it has said why.
 */
Detach
wait_until_ready(const UniqueFd &ready)
{
	char byte;
	ssize_t n;

	while ((n = read(ready.get(), &byte, 1)) < 0 && errno == EINTR)
		;
	return n == 1 ? Detach::parent : Detach::failed;
}

}

/*
 * The working directory and umask stay as they are, so a relative swap
 * file is where it was before; the standard streams go to /dev/null once
 * the daemon is in place.
 */
Detach
daemonize(UniqueFd &ready)
{
	int ends[2];

	if (pipe(ends) != 0) {
		complain("cannot detach: pipe: %s", std::strerror(errno));
		return Detach::failed;
	}
	UniqueFd read_end(ends[0]), write_end(ends[1]);
	/* The tools the daemon runs must not hold the launcher back. */
	fcntl(write_end.get(), F_SETFD, FD_CLOEXEC);

	Detach side = fork_once();
	if (side == Detach::parent) {
		write_end = UniqueFd();
		side = wait_until_ready(read_end);
		/* The middle process is done by now; leave no zombie. */
		while (wait(nullptr) < 0 && errno == EINTR)
			;
		return side;
	}
	if (side == Detach::failed)
		return side;
	read_end = UniqueFd();
	setsid(); /* leave the terminal behind */
	side = fork_once(); /* never a session leader: no terminal again */
	if (side == Detach::daemon)
		ready = std::move(write_end);
	return side;
}

void
report_ready(UniqueFd &ready)
{
	struct sigaction ignore = {}, saved;
	char byte = 0;

	if (!ready)
		return;
	/* A launcher killed meanwhile must not take the daemon with it. */
	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	sigaction(SIGPIPE, &ignore, &saved);
	while (write(ready.get(), &byte, 1) < 0 && errno == EINTR)
		;
	sigaction(SIGPIPE, &saved, nullptr);
	ready = UniqueFd();
	/*
	 * As daemon(3) does: a daemon that kept its launcher's streams would
	 * hold a pipe open, and "ssh host service morvend start" or a start
	 * piped to cat would never return.  From here on, the log says it.
	 */
	UniqueFd null(open("/dev/null", O_RDWR | O_CLOEXEC));
	for (int stream = 0; null && stream <= 2; stream++)
		dup2(null.get(), stream);
}

bool
write_pid_file()
{
	StdioFile file(std::fopen(pid_file_path, "w"));

	if (!file)
		return false;
	return std::fprintf(file.get(), "%d", static_cast<int>(getpid())) > 0 &&
	    std::fflush(file.get()) == 0;
}
