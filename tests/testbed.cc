#include "tests/testbed.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "swap/shell.h"

extern char **environ;

namespace {

std::vector<std::string>
lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);

	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

/* One word for sh, quoted as the daemon quotes its own. */
std::string
shell_quote(const std::string &word)
{
	return CommandLine().quoted(word).c_str();
}

std::string
run_capture(const std::string &command)
{
	std::string out;
	char chunk[4096];
	FILE *pipe = popen(command.c_str(), "r");

	if (pipe == nullptr)
		throw std::runtime_error("cannot run " + command);
	for (std::size_t n;
	     (n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0;)
		out.append(chunk, n);
	if (pclose(pipe) != 0)
		throw std::runtime_error("failed: " + command + "\n" + out);
	return out;
}

}

void
write_file(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string
read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream text;

	text << in.rdbuf();
	return text.str();
}

bool
exists(const std::string &path)
{
	struct stat sb;

	return lstat(path.c_str(), &sb) == 0;
}

bool
eventually(const std::function<bool()> &condition, double seconds)
{
	auto deadline = std::chrono::steady_clock::now() +
	    std::chrono::duration<double>(seconds);

	while (!condition()) {
		if (std::chrono::steady_clock::now() > deadline)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return true;
}

SimHost::SimHost()
{
	char templ[] = "/tmp/morvend-test.XXXXXX";

	if (mkdtemp(templ) == nullptr)
		throw std::runtime_error("mkdtemp");
	root_ = templ;
	state = path("host");
	swap_file = path("swap/swap0");
	std::filesystem::create_directory(path("swap"));
	ctl({ "init" });
}

SimHost::~SimHost()
{
	if (entered_) {
		setenv("PATH", saved_path_.c_str(), 1);
		unsetenv("SIMHOST_STATE");
	}
	std::error_code ignored;
	std::filesystem::remove_all(root_, ignored);
}

std::string
SimHost::path(const std::string &name) const
{
	return root_ + "/" + name;
}

void
SimHost::ctl(const std::vector<std::string> &words) const
{
	std::string command = "SIMHOST_STATE=" + shell_quote(state) + " " +
	    SIMHOST_DIR "/simctl";

	for (const auto &word : words) {
		command += ' ';
		command += shell_quote(word);
	}
	run_capture(command);
}

std::vector<std::string>
SimHost::commands() const
{
	std::vector<std::string> commands;

	for (auto &line : lines_of(read_file(state + "/log"))) {
		if (!line.starts_with("swapctl ") &&
		    !line.starts_with("mdconfig -l") &&
		    !line.starts_with("sysctl "))
			commands.push_back(line);
	}
	return commands;
}

std::vector<SimHost::Call>
SimHost::timed_calls() const
{
	std::vector<Call> calls;

	for (auto &line : lines_of(read_file(state + "/timed_log"))) {
		auto blank = line.find(' ');
		if (blank != std::string::npos)
			calls.push_back({ std::stod(line.substr(0, blank)),
			    line.substr(blank + 1) });
	}
	return calls;
}

int
SimHost::times_run(const std::string &command) const
{
	auto log = lines_of(read_file(state + "/log"));
	return static_cast<int>(std::count(log.begin(), log.end(), command));
}

int
SimHost::probes() const
{
	return times_run("swapctl -s -m");
}

int
SimHost::looks() const
{
	return times_run("mdconfig -l -v");
}

std::vector<std::string>
SimHost::units() const
{
	return lines_of(run_capture("SIMHOST_STATE=" + shell_quote(state) +
	    " " SIMHOST_DIR "/simctl units"));
}

std::vector<SimHost::Unit>
SimHost::unit_list() const
{
	std::vector<Unit> units;

	for (auto &line : this->units()) {
		std::istringstream in(line);
		Unit unit;
		std::string use;
		long bytes;
		in >> unit.name >> bytes >> use;
		std::getline(in >> std::ws, unit.file);
		unit.mib = bytes >> 20;
		unit.active = use == "swap";
		units.push_back(unit);
	}
	return units;
}

long
SimHost::largest_active() const
{
	long largest = 0;

	for (auto &unit : unit_list())
		if (unit.active)
			largest = std::max(largest, unit.mib);
	return largest;
}

std::string
SimHost::small_config(const std::string &extra) const
{
	std::string config = path("morvend.conf");

	write_file(config,
	    "SWAP_FILE " + swap_file +
	        "\n"
	        "GROW_BUFFER 64\nREDUCE_BUFFER 128\nDELTA_SIZE 4\nWAIT_TIME 1\n" +
	        extra);
	return config;
}

std::vector<std::string>
SimHost::environment() const
{
	std::vector<std::string> env;

	for (char **e = environ; *e != nullptr; e++) {
		std::string var = *e;
		if (var.rfind("PATH=", 0) != 0 &&
		    var.rfind("SIMHOST_STATE=", 0) != 0)
			env.push_back(var);
	}
	const char *path = getenv("PATH");
	env.push_back(std::string("PATH=" SIMHOST_DIR "/bin:") +
	    (path ? path : "/usr/bin:/bin"));
	env.push_back("SIMHOST_STATE=" + state);
	return env;
}

void
SimHost::enter()
{
	const char *path = getenv("PATH");

	saved_path_ = path ? path : "/usr/bin:/bin";
	setenv("PATH", (SIMHOST_DIR "/bin:" + saved_path_).c_str(), 1);
	setenv("SIMHOST_STATE", state.c_str(), 1);
	entered_ = true;
}

Daemon::Daemon(const SimHost &host, const std::vector<std::string> &args,
    const std::function<void()> &in_child,
    const std::vector<std::string> &extra_env)
{
	static int started;
	std::vector<std::string> env = host.environment();

	env.insert(env.end(), extra_env.begin(), extra_env.end());
	std::vector<char *> argv, envp;

	out_path_ = host.path("daemon.out." + std::to_string(started++));
	/* A checker to run the daemon under, such as valgrind. */
	std::istringstream wrapper(getenv("MORVEND_TEST_WRAPPER") ?
	        getenv("MORVEND_TEST_WRAPPER") :
	        "");
	for (std::string word; wrapper >> word;)
		words_.push_back(word);
	for (auto &word : words_)
		argv.push_back(word.data());
	argv.push_back(const_cast<char *>(MORVEND_BIN));
	for (auto &arg : args)
		argv.push_back(const_cast<char *>(arg.c_str()));
	argv.push_back(nullptr);
	for (auto &var : env)
		envp.push_back(var.data());
	envp.push_back(nullptr);

	pid = fork();
	if (pid < 0)
		throw std::runtime_error("fork");
	if (pid == 0) {
		int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
		    0644);
		int null = open("/dev/null", O_RDONLY);
		dup2(null, 0);
		dup2(out, 1);
		dup2(out, 2);
		if (in_child)
			in_child();
		execvpe(argv[0], argv.data(), envp.data());
		_exit(127);
	}
}

Daemon::~Daemon()
{
	if (pid > 0) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
}

void
Daemon::signal(int signo) const
{
	kill(pid, signo);
}

bool
Daemon::running()
{
	siginfo_t info = {};

	/* Looks without reaping, so wait_exit still gets the status. */
	return pid > 0 &&
	    waitid(P_PID, static_cast<id_t>(pid), &info,
	        WEXITED | WNOHANG | WNOWAIT) == 0 &&
	    info.si_pid == 0;
}

bool
Daemon::waiting() const
{
	const std::string task = "/proc/" + std::to_string(pid) + "/task/" +
	    std::to_string(pid);
	const std::string stat = read_file(task + "/stat");
	const auto state = stat.find(") ");

	return state != std::string::npos && stat[state + 2] == 'S' &&
	    read_file(task + "/children").empty();
}

int
Daemon::wait_exit(double seconds)
{
	int status = 0;

	bool exited =
	    eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; },
	        seconds);
	if (!exited)
		return -1;
	pid = -1;
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string
Daemon::output() const
{
	return read_file(out_path_);
}

LogSocket::LogSocket(const SimHost &host) : dev_(host.path("dev"))
{
	sockaddr_un address = {};
	std::string log = dev_ + "/log";

	mkdir(dev_.c_str(), 0755);
	write_file(dev_ + "/null", "");
	address.sun_family = AF_UNIX;
	if (log.size() >= sizeof(address.sun_path))
		throw std::runtime_error("log socket path too long");
	log.copy(address.sun_path, log.size());
	fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	if (fd_ < 0 ||
	    bind(fd_, reinterpret_cast<sockaddr *>(&address),
	        sizeof(address)) != 0)
		throw std::runtime_error("log socket");
}

LogSocket::~LogSocket()
{
	if (fd_ >= 0)
		close(fd_);
}

bool
enter_private_mounts()
{
	return unshare(CLONE_NEWNS) == 0 &&
	    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

/* The tools need /dev/null, the daemon nothing else. */
bool
LogSocket::enter_namespace() const
{
	return enter_private_mounts() &&
	    mount("/dev/null", (dev_ + "/null").c_str(), nullptr, MS_BIND,
	        nullptr) == 0 &&
	    mount(dev_.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) ==
	    0;
}

std::vector<std::string>
LogSocket::messages()
{
	char datagram[2048];

	for (ssize_t n; (n = recv(fd_, datagram, sizeof(datagram), 0)) > 0;) {
		/* "<PRI>Mmm dd hh:mm:ss morvend[PID]: message" */
		std::string text(datagram, static_cast<std::size_t>(n));
		std::size_t priority_end = text.find('>');
		std::size_t ident = text.find("morvend[");
		std::size_t message = text.find("]: ", ident);
		if (priority_end == std::string::npos ||
		    ident == std::string::npos ||
		    message == std::string::npos) {
			received_.push_back("unparsed: " + text);
			continue;
		}
		received_.push_back(text.substr(0, priority_end + 1) +
		    text.substr(message + 3));
	}
	return received_;
}
