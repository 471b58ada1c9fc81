#include "tests/fault_bed.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

void
Bed::start()
{
	auto child = [this] {
		if (!log.enter_namespace())
			_exit(99);
		if (in_child)
			in_child();
	};
	daemon = std::make_unique<Daemon>(host, Lines{ "-c", config }, child,
	    env);
}

Lines
Bed::told()
{
	Lines lines;
	for (std::string message : log.messages()) {
		for (std::size_t at;
		     (at = message.find(swap_file)) != std::string::npos;)
			message.replace(at, swap_file.size(), "SWAP");
		const std::string dir = host.path("swap");
		for (std::size_t at;
		     (at = message.find(dir)) != std::string::npos;)
			message.replace(at, dir.size(), "SWAPDIR");
		const std::string root = host.path("");
		for (std::size_t at;
		     (at = message.find(root)) != std::string::npos;)
			message.replace(at, root.size(), "HOST/");
		std::size_t priority = message.find('>') + 1;
		std::string line = message.substr(0, priority);
		for (char c : message.substr(priority))
			if (!std::isdigit(static_cast<unsigned char>(c)))
				line += c;
			else if (line.back() != '#')
				line += '#';
		lines.push_back(line);
	}
	return lines;
}

bool
Bed::drained()
{
	log.messages();
	return true;
}

void
Bed::restart()
{
	drained();
	probes_at_inject = host.probes();
	commands_at_inject = host.commands().size();
	start();
}

std::vector<SimHost::Unit>
Bed::ours() const
{
	std::vector<SimHost::Unit> mine;
	for (auto &u : host.unit_list())
		if (u.file.starts_with(host.path("")))
			mine.push_back(u);
	return mine;
}

bool
Bed::ran_on(const std::string &unit) const
{
	Lines commands = host.commands();
	return std::any_of(commands.begin() +
	        static_cast<long>(commands_at_inject),
	    commands.end(), [&](const std::string &line) {
		    return line.ends_with("/dev/md" + unit) ||
		        line.ends_with(" -u " + unit);
	    });
}

std::string
Bed::our_device() const
{
	auto mine = ours();
	return mine.size() == 1 ? "/dev/" + mine[0].name : "(none)";
}

void
Bed::by_hand(Lines words) const
{
	words.insert(words.begin(), "run");
	host.ctl(words);
}

long
Bed::largest_active() const
{
	return host.largest_active();
}

void
Bed::inject_fault(const char *kind) const
{
	host.ctl({ "fail", kind, std::to_string(lasting) });
}

bool
Bed::fault_met(const char *kind, int times) const
{
	std::string left = read_file(host.state + "/fail/" + kind);
	return !left.empty() && std::stoi(left) <= lasting - times;
}

void
Bed::clear_fault(const char *kind) const
{
	host.ctl({ "fail", kind, "0" });
}

void
Bed::die_after(const char *kind) const
{
	host.ctl({ "die-after", kind, "1" });
}

bool
Bed::died(const char *kind) const
{
	return read_file(host.state + "/die/" + kind) == "0\n";
}

void
Bed::free_two_by_hand() const
{
	auto mine = ours();
	for (std::size_t i = 0; i < 2 && i < mine.size(); i++) {
		by_hand({ "swapoff", "/dev/" + mine[i].name });
		by_hand({ "mdconfig", "-d", "-u", mine[i].name });
	}
}

bool
Bed::quiet_cycles(int cycles) const
{
	return host.probes() >= probes_at_inject + 2 * cycles &&
	    host.commands().size() == commands_at_inject;
}

void
Bed::reload_with(const std::string &more) const
{
	write_file(config, read_file(config) + more);
	daemon->signal(SIGHUP);
}

void
Bed::press() const
{
	host.ctl({ "set", "used", "50" });
}

void
Bed::relieve() const
{
	host.ctl({ "set", "foreign_total", "300" });
}

bool
Bed::none_of_ours() const
{
	return ours().empty();
}

std::size_t
Bed::serving() const
{
	std::size_t n = 0;
	for (auto &u : ours())
		n += u.active;
	return n;
}

Lines
Bed::since_inject(const std::string &prefix) const
{
	Lines found, commands = host.commands();
	for (std::size_t i = commands_at_inject; i < commands.size(); i++)
		if (commands[i].starts_with(prefix))
			found.push_back(commands[i]);
	return found;
}

void
Bed::stop_refused_then_restart(const std::function<void()> &refuse,
    const std::function<void()> &allow)
{
	refuse();
	daemon->signal(SIGTERM);
	EXPECT_EQ(daemon->wait_exit(20), 0);
	EXPECT_EQ(largest_active(), 4) << "the busy device was torn out";
	EXPECT_FALSE(exists(swap_file));
	allow();
	restart();
}

bool
Bed::took_back() const
{
	return host.looks() >= 2 && quiet_cycles(2) && largest_active() == 4;
}

void
Bed::kill_with_four_and_restart(const std::string &more)
{
	press();
	ASSERT_TRUE(eventually([&] { return serving() == 4; }));
	daemon->signal(SIGKILL);
	daemon->wait_exit();
	write_file(config, read_file(config) + more);
	restart();
}
