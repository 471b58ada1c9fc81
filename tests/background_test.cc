/*
 * Background mode and the PID file, with the real binary.  Each daemon runs
 * in a mount namespace of its own whose /var/run is a test directory, so no
 * test ever touches the machine's PID file.
 */
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/testbed.h"

namespace {

using Lines = std::vector<std::string>;

/* Puts the calling process in a namespace where /var/run is dir. */
bool
isolate_var_run(const std::string &dir)
{
	return enter_private_mounts() &&
	    mount(dir.c_str(), "/var/run", nullptr, MS_BIND, nullptr) == 0;
}

bool
can_isolate(const std::string &dir)
{
	pid_t pid = fork();
	if (pid == 0)
		_exit(isolate_var_run(dir) ? 0 : 1);
	int status;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/* Fields 6 and 7 of /proc/PID/stat: session and controlling terminal. */
std::pair<long, long>
session_and_tty(pid_t pid)
{
	std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
	std::istringstream rest(stat.substr(stat.rfind(')') + 2));
	std::string state;
	long ppid, pgrp, session, tty;
	rest >> state >> ppid >> pgrp >> session >> tty;
	return { session, tty };
}

bool
alive(pid_t pid)
{
	std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
	return !stat.empty() && stat.substr(stat.rfind(')') + 2, 1) != "Z";
}

/* Processes whose arguments name this file: the daemons of one test. */
std::vector<pid_t>
daemons_using(const std::string &config)
{
	std::vector<pid_t> pids;
	DIR *proc = opendir("/proc");

	for (dirent *e; proc && (e = readdir(proc)) != nullptr;) {
		pid_t pid = std::atoi(e->d_name);
		std::string cmdline = read_file(
		    "/proc/" + std::string(e->d_name) + "/cmdline");
		if (pid > 0 && cmdline.find(config) != std::string::npos &&
		    alive(pid))
			pids.push_back(pid);
	}
	if (proc)
		closedir(proc);
	return pids;
}

struct Background : ::testing::Test {
	SimHost host;
	std::string run_dir = host.path("run");
	std::string pid_file = run_dir + "/morvend.pid";
	std::string config = host.small_config();

	void SetUp() override
	{
		mkdir(run_dir.c_str(), 0755);
		if (!can_isolate(run_dir))
			GTEST_SKIP()
			    << "no mount namespace to keep /var/run apart";
	}
	~Background() override
	{
		for (pid_t pid : daemons_using(config))
			kill(pid, SIGKILL);
	}
	std::function<void()> isolated() const
	{
		std::string dir = run_dir;
		return [dir] {
			if (!isolate_var_run(dir))
				_exit(99);
		};
	}
	bool owns_swap() const { return host.largest_active() > 0; }
};

TEST_F(Background, DetachesFromTheTerminalAndRunsOn)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	std::string terminal = ptsname(master);
	auto start = [&](const std::vector<std::string> &args) {
		return std::make_unique<Daemon>(host, args, [&] {
			isolated()();
			setsid(); /* and take the pty as terminal */
			close(open(terminal.c_str(), O_RDWR));
			/*
			 * A login shell would lead this session; here morvend
			 * does, and its exit hangs up the terminal.
			 */
			signal(SIGHUP, SIG_IGN);
		});
	};

	/* In the foreground the terminal is there to lose. */
	auto foreground = start({ "-c", config });
	ASSERT_TRUE(eventually([&] { return host.probes() > 0; }));
	EXPECT_NE(session_and_tty(foreground->pid).second, 0);
	foreground->signal(SIGTERM);
	ASSERT_EQ(foreground->wait_exit(), 0);
	ASSERT_TRUE(eventually([&] { return !owns_swap(); }));

	/* The launcher is gone only once the PID file is there. */
	auto launcher = start({ "-d", "-p", "-c", config });
	pid_t first = launcher->pid;
	EXPECT_EQ(launcher->wait_exit(2), 0);
	ASSERT_NE(read_file(pid_file), "");
	pid_t daemon = std::stoi(read_file(pid_file));
	auto [session, tty] = session_and_tty(daemon);
	EXPECT_NE(daemon, first);
	EXPECT_NE(session, daemon) << "a session leader can gain a terminal";
	EXPECT_NE(session, first);
	EXPECT_EQ(tty, 0) << "still has a controlling terminal";
	EXPECT_EQ(launcher->output(), "");
	/* Nothing of the launcher's held open: a pipe to it would not end. */
	for (int stream = 0; stream <= 2; stream++) {
		std::error_code ec;
		EXPECT_EQ(std::filesystem::read_symlink("/proc/" +
		                  std::to_string(daemon) + "/fd/" +
		                  std::to_string(stream),
		              ec),
		    "/dev/null")
		    << "stream " << stream;
	}

	ASSERT_TRUE(eventually([&] { return owns_swap(); })) << "not resizing";
	kill(daemon, SIGTERM);
	ASSERT_TRUE(eventually([&] { return !alive(daemon); }));
	EXPECT_FALSE(owns_swap());
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_FALSE(exists(host.swap_file));
	EXPECT_EQ(read_file(pid_file), std::to_string(daemon));
	close(master);
}

TEST_F(Background, PidFileOnlyWithDashP)
{
	/* An existing, longer file is cut to the new id, with no newline. */
	write_file(pid_file, "1234567890\n");
	{
		Daemon daemon(host, { "-p", "-c", config }, isolated());
		ASSERT_TRUE(eventually([&] { return host.probes() > 0; }));
		EXPECT_EQ(read_file(pid_file), std::to_string(daemon.pid));
		daemon.signal(SIGTERM);
		EXPECT_EQ(daemon.wait_exit(), 0);
	}

	/* clang-format off */
	const std::vector<std::string> no_pid_file[] = {
		{"-d", "-c", config}, {"-p", "-h"}, {"-v", "-p"},
	};
	/* clang-format on */
	for (auto &args : no_pid_file) {
		unlink(pid_file.c_str());
		int probes = host.probes();
		Daemon daemon(host, args, isolated());
		EXPECT_EQ(daemon.wait_exit(2), 0) << args[0];
		if (args[0] == "-d") {
			ASSERT_TRUE(eventually([&] {
				return host.probes() > probes;
			})) << "no daemon runs";
			for (pid_t pid : daemons_using(config))
				kill(pid, SIGTERM);
			ASSERT_TRUE(eventually(
			    [&] { return daemons_using(config).empty(); }));
		}
		EXPECT_FALSE(exists(pid_file)) << args[0] << " " << args[1];
	}
}

/*
 * rc.d finds a daemon started with -d -p by its PID file: without one the
 * start has failed, and no daemon is left.  Without -d it runs on.
 */
TEST_F(Background, APidFileThatCannotBeWrittenFailsADetachedStart)
{
	ASSERT_EQ(mkdir(pid_file.c_str(), 0755), 0);

	Daemon launcher(host, { "-d", "-p", "-c", config }, isolated());
	EXPECT_EQ(launcher.wait_exit(5), 1);
	EXPECT_EQ(launcher.output(),
	    "morvend: cannot write /var/run/morvend.pid: Is a directory\n");
	EXPECT_TRUE(daemons_using(config).empty());
	EXPECT_EQ(host.probes(), 0);

	Daemon foreground(host, { "-p", "-c", config }, isolated());
	ASSERT_TRUE(eventually([&] { return host.probes() > 0; }));
	foreground.signal(SIGTERM);
	EXPECT_EQ(foreground.wait_exit(), 0);
	EXPECT_EQ(foreground.output(), "");
}

/*
 * With no fork to be had, first or second, no daemon runs, and the
 * launcher's exit status says so.
 */
TEST_F(Background, AFailedForkIsReportedAsFailure)
{
	if (getenv("MORVEND_TEST_REAL_MACHINE") == nullptr ||
	    std::string(getenv("MORVEND_TEST_REAL_MACHINE")) != "1")
		GTEST_SKIP() << "makes a cgroup on this machine; "
		                "MORVEND_TEST_REAL_MACHINE=1 asks for it";
	for (const char *processes : { "1", "2" }) {
		const std::string group = "/sys/fs/cgroup/pids/morvend-test." +
		    std::to_string(getpid());
		if (mkdir(group.c_str(), 0755) != 0)
			GTEST_SKIP() << "no pids cgroup to refuse the fork";
		std::ofstream(group + "/pids.max") << processes;

		Daemon daemon(host, { "-d", "-c", config }, [&] {
			std::ofstream(group + "/cgroup.procs") << getpid();
		});
		int status = daemon.wait_exit(5);
		rmdir(group.c_str());

		/* A sanitizer build's runtime cannot start its leak check either. */
		Lines lines;
		std::istringstream output(daemon.output());
		for (std::string line; std::getline(output, line);)
			if (line.rfind("==", 0) != 0)
				lines.push_back(line);
		EXPECT_EQ(status, 1) << processes << " process(es)";
		ASSERT_EQ(lines.size(), 1u) << daemon.output();
		EXPECT_EQ(lines[0],
		    "morvend: cannot detach: fork: "
		    "Resource temporarily unavailable");
		EXPECT_EQ(host.probes(), 0);
	}
}

}
