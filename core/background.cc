/* Background mode by double fork, and the PID file. */
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/settings.h"
#include "core/stdio_file.h"

namespace {

/* Which side of a fork this process is on. */
Detach
fork_once()
{
	pid_t pid = fork();

	if (pid < 0) {
		/* No daemon will run: say so rather than exit 0. */
		std::fprintf(stderr, "morvend: cannot detach: fork: %s\n",
		    std::strerror(errno));
		return Detach::failed;
	}
	return pid == 0 ? Detach::daemon : Detach::parent;
}

}

/*
 * The working directory, umask and standard streams stay as they are, so a
 * relative swap file and the tools' messages go where they went before.
 */
Detach
daemonize()
{
	Detach side = fork_once();

	if (side != Detach::daemon)
		return side;
	setsid();		/* leave the terminal behind */
	return fork_once();	/* never a session leader: no terminal again */
}

bool
write_pid_file()
{
	StdioFile file(std::fopen(pid_file_path, "w"));

	if (!file)
		return false;
	std::fprintf(file.get(), "%d", static_cast<int>(getpid()));
	return true;
}
