/* The command line: the option walk, and the texts of -h and -v. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "daemon/options.h"
#include "core/version.h"
#include "tests/testbed.h"

namespace {

const char usage_text[] = "Morvend\n"
                          "-v\t\t\tprint version info and exit\n"
                          "-h\t\t\tprint help message and exit\n"
                          "-d\t\t\trun in background (daemon mode)\n"
                          "-daemon\t\t\trun in background(daemon mode)\n"
                          "-c <config_file> \tuse alternative config file\n"
                          "-p\t\t\tplace a PID file in /var/run\n"
                          "\n";
const std::string version_text = std::string("Morvend -- version ") +
    morvend_version + "\n\n";

struct Walk {
	std::vector<std::string> args;
	int daemon_mode, show_help, show_version, write_pid;
	std::string config_file;
};

Settings
parse(std::vector<std::string> args)
{
	Settings settings;
	std::vector<char *> argv{ const_cast<char *>("morvend") };

	for (auto &arg : args)
		argv.push_back(arg.data());
	argv.push_back(nullptr);
	parse_options(settings, static_cast<int>(argv.size() - 1), argv.data());
	return settings;
}

TEST(Options, Walk)
{
	const std::string dflt = MORVEND_CONFIG_FILE;
	/* clang-format off */
	const Walk rows[] = {
		{ {}, 0, 0, 0, 0, dflt },
		{ {"-c"}, 0, 0, 0, 0, dflt },
		{ {"-c", "/a", "-c"}, 0, 0, 0, 0, "/a" },
		{ {"-c", "/a", "-c", "/b"}, 0, 0, 0, 0, "/b" },
		{ {"-c", "-d"}, 0, 0, 0, 0, "-d" },
		{ {"-c", ""}, 0, 0, 0, 0, "" },
		{ {"-dp", "--help", "-help", "help", "-D", "-vh"}, 0, 0, 0, 0, dflt },
		{ {"-daemon", "-p", "-p", "-d"}, 1, 0, 0, 1, dflt },
		{ {"-h", "-v", "-h"}, 0, 1, 1, 0, dflt },
	};
	/* clang-format on */
	for (const Walk &row : rows) {
		std::string what;
		for (auto &arg : row.args)
			what += "[" + arg + "]";
		Settings s = parse(row.args);
		EXPECT_EQ(s.daemon_mode, row.daemon_mode) << what;
		EXPECT_EQ(s.show_help, row.show_help) << what;
		EXPECT_EQ(s.show_version, row.show_version) << what;
		EXPECT_EQ(s.write_pid, row.write_pid) << what;
		EXPECT_EQ(s.config_file, row.config_file) << what;
	}
}

/*
 * The texts byte for byte, and no configuration file read: the one named
 * is a FIFO without a writer, on which an open would hang.
 */
TEST(Options, HelpAndVersionPrintExactTextsAndExitBeforeTheConfiguration)
{
	SimHost host;
	std::string fifo = host.path("fifo.conf");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	/* clang-format off */
	const struct {
		std::vector<std::string> args;
		std::string output;
	} rows[] = {
		{ {"-h"}, usage_text },
		{ {"-v"}, version_text },
		{ {"-h", "-v"}, std::string(version_text) + usage_text },
		{ {"-p", "-c", fifo, "-v"}, version_text },
	};
	/* clang-format on */
	for (auto &row : rows) {
		Daemon daemon(host, row.args);
		EXPECT_EQ(daemon.wait_exit(5), 0) << row.args[0];
		EXPECT_EQ(daemon.output(), row.output) << row.args[0];
	}
	EXPECT_EQ(host.probes(), 0);
}

}
