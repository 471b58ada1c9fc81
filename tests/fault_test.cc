/*
 * Faults on the simulated host, one row each, against the real binary.
 * Every row checks the same things: the swap the daemon had stays in
 * service, no swap file is left without a device, the daemon runs on and
 * recovers once the fault clears, and a stop releases everything.
 */
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "tests/testbed.h"

namespace {

using Lines = std::vector<std::string>;

struct Bed {
	SimHost host;
	std::string swap_file = host.swap_file;
	std::string conf_extra;
	std::function<void()> in_child;
	std::unique_ptr<Daemon> daemon;
	int probes_at_inject = 0;
	std::size_t commands_at_inject = 0;
	Lines taken;

	std::vector<SimHost::Unit> ours() const {
		std::vector<SimHost::Unit> mine;
		for (auto &u : host.unit_list())
			if (u.file.starts_with(host.path("")))
				mine.push_back(u);
		return mine;
	}
	long largest_active() const { return host.largest_active(); }
	/* A fault that lasts until it is cleared. */
	void inject_fault(const char *kind) const {
		host.ctl({"fail", kind, std::to_string(lasting)});
	}
	bool fault_met(const char *kind, int times) const {
		std::string left = read_file(host.state + "/fail/" + kind);
		return !left.empty() && std::stoi(left) <= lasting - times;
	}
	void clear_fault(const char *kind) const {
		host.ctl({"fail", kind, "0"});
	}
	static constexpr int lasting = 1000;
	bool quiet_cycles(int cycles) const {
		return host.probes() >= probes_at_inject + 2 * cycles &&
		    host.commands().size() == commands_at_inject;
	}
	/* Free swap drops to 54 MiB, under the floor of 64. */
	void press() const { host.ctl({"set", "used", "50"}); }
	/* Free swap rises to 264 MiB, over the ceiling of 128. */
	void relieve() const { host.ctl({"set", "foreign_total", "300"}); }
};

struct Fault {
	const char *name;
	std::function<void(Bed &)> before;	/* before the start */
	std::function<void(Bed &)> inject;	/* once a device serves */
	std::function<bool(Bed &)> hit;		/* the fault has been met */
	std::function<void(Bed &)> clear;
	std::function<bool(Bed &)> recovered;
	bool inject_stops = false;		/* inject itself stops it */
	unsigned long needs_mib = 0;		/* room the row writes, MiB */
};

std::string
describe(const Bed &bed)
{
	std::string text = "\nunits:\n";
	for (auto &line : bed.host.units())
		text += "  " + line + "\n";
	text += "commands:\n";
	for (auto &line : bed.host.commands())
		text += "  " + line + "\n";
	return text;
}

void
PrintTo(const Fault &fault, std::ostream *out)
{
	*out << fault.name;
}

void
check_invariants(Bed &bed, bool had_device)
{
	SCOPED_TRACE(describe(bed));
	EXPECT_TRUE(bed.daemon->running()) << "the daemon died";
	if (had_device) {
		EXPECT_GT(bed.largest_active(), 0) << "swap was given up";
	}
	/* A file being written has no device yet; one left over never will. */
	EXPECT_TRUE(eventually([&] {
		if (!exists(bed.swap_file))
			return true;
		for (auto &u : bed.ours())
			if (u.file == bed.swap_file)
				return true;
		return false;
	}, 3)) << "a swap file without a device";
	std::error_code ec;
	auto dir = std::filesystem::path(bed.swap_file).parent_path();
	for (auto &entry : std::filesystem::directory_iterator(dir, ec))
		EXPECT_EQ(entry.path(), bed.swap_file) << "debris";
}

/* The units that srand(t) would draw first, for start times around now. */
Lines
first_draws_around_now()
{
	Lines units;
	std::time_t now = std::time(nullptr);
	for (std::time_t t = now - 1; t <= now + 3; t++) {
		std::srand(static_cast<unsigned>(t));
		units.push_back(std::to_string(std::rand()));
		units.push_back(std::to_string(std::rand()));
	}
	return units;
}

const Fault faults[] = {
	{ "attach fails ten times", nullptr,
	  [](Bed &b) { b.inject_fault("attach"); b.press(); },
	  [](Bed &b) { return b.fault_met("attach", 20); },
	  [](Bed &b) { b.clear_fault("attach"); },
	  [](Bed &b) { return b.largest_active() > 4; } },
	{ "units taken by others",
	  [](Bed &b) {
		b.taken = first_draws_around_now();
		Lines words{"take"};
		words.insert(words.end(), b.taken.begin(), b.taken.end());
		b.host.ctl(words);
	  }, nullptr,
	  [](Bed &b) {
		for (auto &line : b.host.commands())
			for (auto &unit : b.taken)
				if (line.ends_with(" -u " + unit))
					return b.largest_active() > 0;
		return false;
	  }, nullptr,
	  [](Bed &b) {
		std::size_t held = 0;
		for (auto &u : b.host.unit_list())
			held += !u.active && u.file == "(held by other software)";
		return held == b.taken.size() && b.largest_active() > 0;
	  } },
	{ "swapon of the new device fails", nullptr,
	  [](Bed &b) { b.inject_fault("swapon"); b.press(); },
	  [](Bed &b) { return b.fault_met("swapon", 2); },
	  [](Bed &b) { b.clear_fault("swapon"); },
	  [](Bed &b) { return b.largest_active() > 4; } },
	{ "swapoff refuses on a shrink", nullptr,
	  [](Bed &b) { b.inject_fault("swapoff"); b.relieve(); },
	  [](Bed &b) { return b.fault_met("swapoff", 2); },
	  [](Bed &b) { b.clear_fault("swapoff"); },
	  [](Bed &b) { return b.ours().empty(); } },
	{ "swapoff refuses at stop", nullptr,
	  [](Bed &b) { b.host.ctl({"fail", "swapoff", "3"}); },
	  [](Bed &) { return true; }, nullptr,
	  [](Bed &) { return true; } },
	{ "mdconfig -d is busy", nullptr,
	  [](Bed &b) { b.inject_fault("detach"); b.press(); },
	  [](Bed &b) { return b.fault_met("detach", 2); },
	  [](Bed &b) { b.clear_fault("detach"); },
	  [](Bed &b) {
		for (auto &u : b.ours())
			if (!u.active)
				return false;
		return b.largest_active() > 4;
	  } },
	{ "disk full during the fill",
	  [](Bed &b) {
		b.in_child = [] {
			struct rlimit limit = { 2 << 20, RLIM_INFINITY };
			signal(SIGXFSZ, SIG_IGN);
			setrlimit(RLIMIT_FSIZE, &limit);
		};
	  }, nullptr,
	  [](Bed &b) { return b.host.probes() >= 6 && b.ours().empty(); },
	  [](Bed &b) {
		struct rlimit unlimited = { RLIM_INFINITY, RLIM_INFINITY };
		ASSERT_EQ(prlimit(b.daemon->pid, RLIMIT_FSIZE, &unlimited,
		    nullptr), 0);
	  },
	  [](Bed &b) { return b.largest_active() > 0; } },
	{ "directory missing",
	  [](Bed &b) {
		b.swap_file = b.host.path("gone/swap/swap0");
		b.conf_extra = "SWAP_FILE " + b.swap_file + "\n";
	  }, nullptr,
	  [](Bed &b) { return b.host.probes() >= 6 && b.ours().empty(); },
	  [](Bed &b) {
		std::filesystem::create_directories(b.host.path("gone/swap"));
	  },
	  [](Bed &b) { return b.largest_active() > 0; } },
	{ "swapctl prints garbage", nullptr,
	  [](Bed &b) { b.host.ctl({"swapctl-prints", "swap: none\n"}); b.press(); },
	  [](Bed &b) { return b.quiet_cycles(3); },
	  [](Bed &b) { b.host.ctl({"swapctl-prints", "--real"}); },
	  [](Bed &b) { return b.largest_active() > 4; } },
	{ "swapctl prints nothing", nullptr,
	  [](Bed &b) { b.host.ctl({"swapctl-prints", ""}); b.press(); },
	  [](Bed &b) { return b.quiet_cycles(3); },
	  [](Bed &b) { b.host.ctl({"swapctl-prints", "--real"}); },
	  [](Bed &b) { return b.largest_active() > 4; } },
	{ "SIGTERM during a fill",
	  [](Bed &b) { b.conf_extra = "DELTA_SIZE 2048\n"; },
	  [](Bed &b) {
		struct stat sb = {};
		ASSERT_TRUE(eventually([&] {
			return stat(b.swap_file.c_str(), &sb) == 0;
		}, 20));
		b.daemon->signal(SIGTERM);
		stat(b.swap_file.c_str(), &sb);
		EXPECT_LT(sb.st_size, 2048L << 20) << "the fill was over";
	  }, nullptr, nullptr, nullptr, true, 2048 },
	{ "SIGTERM twice", nullptr,
	  [](Bed &b) {
		b.daemon->signal(SIGTERM);
		b.daemon->signal(SIGTERM);
	  }, nullptr, nullptr, nullptr, true },
};

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, KeepSwapAndRecover)
{
	const Fault &fault = GetParam();
	{
		Bed bed;
		struct statvfs fs;
		if (statvfs(bed.host.path("").c_str(), &fs) == 0 &&
		    fs.f_bavail * fs.f_frsize / (1 << 20) < 2 * fault.needs_mib)
			GTEST_SKIP() << "no room for a fill of " << fault.needs_mib << " MiB";
		bed.host.ctl({"set", "foreign_total", "100"});
		bed.host.ctl({"set", "used", "40"});
		if (fault.before)
			fault.before(bed);
		std::string config = bed.host.small_config(bed.conf_extra);
		bed.daemon = std::make_unique<Daemon>(bed.host,
		    Lines{"-c", config}, bed.in_child);

		bool had_device = !fault.before;
		if (had_device) {
			ASSERT_TRUE(eventually([&] {
				return bed.largest_active() > 0;
			}));
		}
		bed.probes_at_inject = bed.host.probes();
		bed.commands_at_inject = bed.host.commands().size();
		if (fault.inject)
			fault.inject(bed);

		if (!fault.inject_stops) {
			ASSERT_TRUE(eventually([&] { return fault.hit(bed); }, 20));
			check_invariants(bed, had_device);
			if (fault.clear)
				fault.clear(bed);
			ASSERT_TRUE(eventually([&] {
				return fault.recovered(bed);
			}, 20)) << "no recovery";
			check_invariants(bed, false);
			bed.daemon->signal(SIGTERM);
		}

		EXPECT_EQ(bed.daemon->wait_exit(20), 0);
		EXPECT_EQ(bed.ours().size(), 0u) << "a device was left behind";
		EXPECT_FALSE(exists(bed.swap_file));
		EXPECT_EQ(bed.host.units().size(), bed.taken.size());
		std::istringstream output(bed.daemon->output());
		for (std::string line; std::getline(output, line);)
			EXPECT_TRUE(line.starts_with("mdconfig: ") ||
			    line.starts_with("swapon: ") ||
			    line.starts_with("swapoff: ")) << "morvend said " << line;
	}
}

std::string
row_name(const ::testing::TestParamInfo<Fault> &info)
{
	std::string name;
	for (const char *c = info.param.name; *c; c++)
		name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
	return name;
}

INSTANTIATE_TEST_SUITE_P(Table, Faults, ::testing::ValuesIn(faults), row_name);

}
