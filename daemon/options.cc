/* The command line, and the two texts it can ask for. */
#include <cstdio>
#include <cstring>

#include "daemon/options.h"
#include "core/version.h"

void
parse_options(Settings &settings, int argc, char *const argv[])
{
	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];

		if (std::strcmp(arg, "-h") == 0)
			settings.show_help = 1;
		else if (std::strcmp(arg, "-v") == 0)
			settings.show_version = 1;
		else if (std::strcmp(arg, "-c") == 0 && i + 1 < argc)
			settings.config_file = argv[++i];
		else if (std::strcmp(arg, "-d") == 0 ||
		    std::strcmp(arg, "-daemon") == 0)
			settings.daemon_mode = 1;
		else if (std::strcmp(arg, "-p") == 0)
			settings.write_pid = 1;
		/* Anything else is ignored: scripts may pass flags of others. */
	}
}

void
print_usage()
{
	std::puts("Morvend");
	std::puts("-v\t\t\tprint version info and exit");
	std::puts("-h\t\t\tprint help message and exit");
	std::puts("-d\t\t\trun in background (daemon mode)");
	std::puts("-daemon\t\t\trun in background(daemon mode)");
	std::puts("-c <config_file> \tuse alternative config file");
	std::puts("-p\t\t\tplace a PID file in /var/run");
	std::putchar('\n');
}

void
print_version()
{
	std::printf("Morvend -- version %s\n\n", morvend_version);
}
