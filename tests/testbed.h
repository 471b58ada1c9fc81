/*
 * A simulated FreeBSD host in a temporary directory, and the real morvend
 * binary run against it.  Both clean up after themselves, also when a test
 * fails half way.
 */
#ifndef MORVEND_TESTS_TESTBED_H
#define MORVEND_TESTS_TESTBED_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"

class SimHost {
public:
	SimHost();
	~SimHost();
	SimHost(const SimHost &) = delete;
	SimHost &operator=(const SimHost &) = delete;

	/* A path inside the host's own temporary directory. */
	std::string path(const std::string &name) const;
	/* Runs simctl with these words (each one shell-quoted). */
	void ctl(const std::vector<std::string> &words) const;
	/* What the tools were told to do: no probes, no listings, no sysctl. */
	std::vector<std::string> commands() const;
	/* Every call the tools received, probes too, with its time (s). */
	struct Call {
		double at;
		std::string line;
	};
	std::vector<Call> timed_calls() const;
	/* How many times the totals were read (swapctl -s -m). */
	int probes() const;
	/* How many times the devices were listed (mdconfig -l -v). */
	int looks() const;
	/* "mdN SIZE swap|attached FILE" for each attached unit. */
	std::vector<std::string> units() const;
	struct Unit {
		std::string name;
		long mib;
		bool active;
		std::string file;
	};
	std::vector<Unit> unit_list() const;
	/* MiB of the largest unit active as swap; 0 when none is. */
	long largest_active() const;
	/*
	 * Writes a configuration with small sizes, a one-second cycle and the
	 * swap file in this host's tree; returns its path.
	 */
	std::string small_config(const std::string &extra = "") const;
	/* Environment for a process that should see this host. */
	std::vector<std::string> environment() const;
	/* Makes this process's shell commands see the host until destruction. */
	void enter();

	std::string state;
	std::string swap_file;

private:
	int times_run(const std::string &command) const;

	std::string root_;
	std::string saved_path_;
	bool entered_ = false;
};

/* The morvend binary, started with these arguments against a host. */
class Daemon {
public:
	Daemon(const SimHost &host, const std::vector<std::string> &args,
	    const std::function<void()> &in_child = nullptr,
	    const std::vector<std::string> &extra_env = {});
	~Daemon();
	Daemon(const Daemon &) = delete;
	Daemon &operator=(const Daemon &) = delete;

	void signal(int signo) const;
	/* Still running: not exited, not a zombie. */
	bool running();
	/* Asleep with no child: no tool runs and no file ahead is written. */
	bool waiting() const;
	/* Exit status, or -1 when it did not exit in time (it is killed then). */
	int wait_exit(double seconds = 10);
	std::string output() const;

	pid_t pid = -1;

private:
	std::string out_path_;
	std::vector<std::string> words_;
};

/*
 * A syslog of the test's own: a datagram socket that a daemon sees as
 * /dev/log from a mount namespace in which /dev is this bed's.
 */
class LogSocket {
public:
	explicit LogSocket(const SimHost &host);
	~LogSocket();
	LogSocket(const LogSocket &) = delete;
	LogSocket &operator=(const LogSocket &) = delete;

	/* For a daemon's child: false when the namespace cannot be made. */
	bool enter_namespace() const;
	/* "<priority>message" of what arrived so far, oldest first. */
	std::vector<std::string> messages();

private:
	std::string dev_;
	int fd_ = -1;
	std::vector<std::string> received_;
};

/*
 * Puts the calling process in a mount namespace of its own whose mounts
 * never reach the machine's.
 */
bool enter_private_mounts();

/* Writes a file whole. */
void write_file(const std::string &path, const std::string &text);
std::string read_file(const std::string &path);
bool exists(const std::string &path);

/* Polls until the condition holds; false after the time is up. */
bool eventually(const std::function<bool()> &condition, double seconds = 10);

#endif
