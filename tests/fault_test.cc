/*
 * Faults on the simulated host, one row each, against the real binary.
 * Every row checks the same things: the swap the daemon had stays in
 * service, no swap file is left without a device, the daemon runs on and
 * recovers once the fault clears, and a stop releases everything.
 */
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "tests/fault_bed.h"
#include "tests/testbed.h"

namespace {

struct Fault {
	std::string name;
	bool every_format = false; /* also under 15's and old listings */
	bool encrypted_too = false; /* also under ENCRYPT 1 */
	std::string config = ""; /* more configuration lines */
	bool device_first = true; /* inject once a device serves */
	std::function<void(Bed &)> before = {}; /* before the start */
	std::function<void(Bed &)> inject = {};
	double settle = 0; /* seconds the runner lets pass before the hit */
	std::function<bool(Bed &)> hit = {}; /* the fault has been met */
	std::function<void(Bed &)> clear = {};
	std::function<bool(Bed &)> recovered = {};
	bool inject_stops = false; /* inject itself stops it */
	unsigned long needs_mib = 0; /* room the row writes, MiB */
	Lines logged = {}; /* with SYSLOG 1, these in turn */
	Lines said = {}; /* morvend's own output */
	std::string format = ""; /* of mdconfig -l -v, if not 14 */
};

/*
 * Syslog lines as Bed::told() gives them: <30> is info, <29> notice, <28>
 * a warning (facility daemon).
 */
const std::string started =
    "<30>morvend #.# started with HOST/morvend.conf: swap file SWAP, "
    "grows below # MiB free, shrinks above # MiB free, steps of # MiB, "
    "no bound on its size, every # s";
const std::string stopped = "<30>stopped";
const std::string recovered = "<30>recovered after # cycles";
const std::string grew = "<29>grew swap from # to # MiB: md#";
const std::string shrank_to_none = "<29>shrank swap from # to # MiB: no device";
const std::string took_back = "<30>took back md# (# MiB) from an earlier run";

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

/*
 * The parents of the processes, the daemon aside, that run its command
 * line: its writer of the file ahead, while one writes.
 */
std::vector<pid_t>
parents_of_others_running_it(const Bed &bed)
{
	using namespace std::string_literals;
	const std::string command = MORVEND_BIN + "\0-c\0"s + bed.config + '\0';
	std::vector<pid_t> parents;
	std::error_code ec;

	for (auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
		const std::string pid = entry.path().filename();
		if (pid.find_first_not_of("0123456789") != std::string::npos ||
		    pid == std::to_string(bed.daemon->pid) ||
		    read_file(entry.path() / "cmdline") != command)
			continue;
		/* "pid (comm) state ppid ...": comm holds no blank here. */
		std::istringstream stat(read_file(entry.path() / "stat"));
		std::string skip;
		pid_t parent = 0;
		stat >> skip >> skip >> skip >> parent;
		parents.push_back(parent);
	}
	return parents;
}

void
check_invariants(Bed &bed, bool had_device)
{
	SCOPED_TRACE(describe(bed));
	EXPECT_TRUE(bed.daemon->running()) << "the daemon died";
	for (pid_t parent : parents_of_others_running_it(bed))
		EXPECT_EQ(parent, bed.daemon->pid) << "a writer left behind";
	if (had_device) {
		EXPECT_GT(bed.largest_active(), 0) << "swap was given up";
	}
	/* A file being written has no device yet; one left over never will. */
	EXPECT_TRUE(eventually(
	    [&] {
		    if (!exists(bed.swap_file))
			    return true;
		    for (auto &u : bed.ours())
			    if (u.file == bed.swap_file)
				    return true;
		    return false;
	    },
	    3))
	    << "a swap file without a device";
	std::error_code ec;
	auto dir = std::filesystem::path(bed.swap_file).parent_path();
	for (auto &entry : std::filesystem::directory_iterator(dir, ec))
		EXPECT_TRUE(entry.path() == bed.swap_file ||
		    entry.path() == bed.swap_file + ".ahead")
		    << "debris: " << entry.path();
}

/* The units the daemon tried to attach since it started. */
std::set<std::string>
attach_units(const Bed &bed)
{
	std::set<std::string> units;
	for (auto &line : bed.host.commands())
		if (line.starts_with("mdconfig -a "))
			units.insert(line.substr(line.rfind(' ') + 1));
	return units;
}

/*
 * Every allocation of 64 KiB or more fails.  A sanitizer's allocator
 * cannot be replaced; it is told to fail those of a MiB or more instead.
 */
Lines
large_allocations_fail(const Bed &bed)
{
#if defined(__SANITIZE_ADDRESS__)
	(void)bed;
	return {
		"ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1"
	};
#else
	return { "LD_PRELOAD=" FAIL_ALLOC_SHIM,
		"FAIL_ALLOC_MARK=" + bed.host.path("shim-loaded") };
#endif
}

bool
allocations_limited(const Bed &bed)
{
#if defined(__SANITIZE_ADDRESS__)
	std::string environ = read_file(
	    "/proc/" + std::to_string(bed.daemon->pid) + "/environ");
	return environ.find("max_allocation_size_mb=1") != std::string::npos;
#else
	return exists(bed.host.path("shim-loaded"));
#endif
}

/* The daemon's fills as slow as a disk that writes this many MB/s. */
Lines
fills_at(const char *mbps)
{
	return { "LD_PRELOAD=" PACE_WRITES_SHIM,
		std::string("PACE_WRITES_MBPS=") + mbps,
		"ASAN_OPTIONS=verify_asan_link_order=0" };
}

/* The next grow's file, of 8 MiB, is being written ahead. */
bool
partly_ahead(const Bed &bed)
{
	struct stat st;

	return stat((bed.swap_file + ".ahead").c_str(), &st) == 0 &&
	    st.st_size > 0 && st.st_size < 8 << 20;
}

/*
 * The swap file's directory as the daemon sees it, from inside its mount
 * namespace: a file system mounted there for the row is not seen here.
 */
std::string
daemons_view(const Bed &bed, const std::string &path)
{
	return "/proc/" + std::to_string(bed.daemon->pid) + "/root" + path;
}

/* MiB left in the swap file's directory. */
unsigned long
room_mib(const Bed &bed)
{
	struct statvfs fs;

	if (statvfs(daemons_view(bed, bed.host.path("swap")).c_str(), &fs) != 0)
		return 0;
	return fs.f_bavail * fs.f_frsize >> 20;
}

/* A file-size limit, as ulimit -f or a login class hands it down. */
std::function<void()>
file_size_limit(rlim_t bytes)
{
	return [bytes] {
		struct rlimit limit = { bytes, RLIM_INFINITY };
		setrlimit(RLIMIT_FSIZE, &limit);
	};
}

/* A tmpfs of that size at the swap directory, for the daemon alone. */
std::function<void()>
on_tmpfs(const Bed &bed, const char *size)
{
	std::string dir = bed.host.path("swap");
	std::string options = std::string("size=") + size;
	return [dir, options] {
		if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) !=
		    0)
			_exit(98);
	};
}

/* The file at path is 8 MiB, every block of it on disk. */
bool
whole_8_mib(const std::string &path)
{
	struct stat st;

	return stat(path.c_str(), &st) == 0 && st.st_size == 8 << 20 &&
	    st.st_blocks * 512 >= st.st_size;
}

/* The inode of a file of that many MiB, every block on disk; 0 if none. */
ino_t
whole_file(const std::string &path, long mib)
{
	struct stat st;

	if (stat(path.c_str(), &st) != 0 || st.st_size != mib << 20 ||
	    st.st_blocks * 512 < st.st_size)
		return 0;
	return st.st_ino;
}

/*
 * Our device of 8 MiB and a file ahead of 12, then free swap just over
 * the ceiling with 8 and under it with 4 (100 + 72 + 8 - 50 = 130).
 */
void
inject_shrink_with_a_larger_file_ahead(Bed &b)
{
	b.press();
	ASSERT_TRUE(eventually([&] {
		return b.largest_active() == 8 &&
		    whole_file(b.swap_file + ".ahead", 12) != 0;
	}));
	b.first_to_go = std::to_string(whole_file(b.swap_file + ".ahead", 12));
	b.host.ctl({ "set", "foreign_total", "172" });
}

/* One grow, to 8 MiB, of a file whole on disk: no second try. */
bool
grew_once_from_a_whole_file(Bed &bed)
{
	return bed.largest_active() == 8 && whole_8_mib(bed.swap_file) &&
	    bed.since_inject("mdconfig -a").size() == 1;
}

/* The daemon still holds a file ahead that no longer has a name. */
bool
holds_removed_file_ahead(const Bed &bed)
{
	std::error_code ec;
	auto fds = "/proc/" + std::to_string(bed.daemon->pid) + "/fd";
	for (auto &fd : std::filesystem::directory_iterator(fds, ec)) {
		auto target = std::filesystem::read_symlink(fd.path(), ec);
		if (target.string().ends_with(".ahead (deleted)"))
			return true;
	}
	return false;
}

/* Whether the log holds a line that starts so. */
bool
told_line(Bed &bed, const std::string &start)
{
	Lines told = bed.told();
	return std::any_of(told.begin(), told.end(),
	    [&](const std::string &line) { return line.starts_with(start); });
}

/* What the rows below do, a function a step where a step is more than one line. */

void
before_units_taken_by_others(Bed &b)
{
	b.taken = { "0", "1", "7" };
	b.host.ctl({ "take", "0", "1", "7" });
	/* As mdconfig refuses a unit that is taken. */
	b.host.ctl({ "fail", "attach", "9" });
}

bool
hit_units_taken_by_others(Bed &b)
{
	return b.largest_active() > 0 && attach_units(b).size() == 10;
}

bool
recovered_units_taken_by_others(Bed &b)
{
	std::size_t held = 0;
	for (auto &u : b.host.unit_list())
		held += !u.active && u.file == "(held by other software)";
	return held == b.taken.size() && b.largest_active() > 0;
}

void
inject_swapoff_refuses_at_stop_then_a_restart(Bed &b)
{
	b.stop_refused_then_restart([&] { b.inject_fault("swapoff"); },
	    [&] { b.clear_fault("swapoff"); });
}

void
inject_stop_refused_for_want_of_memory_then_a_restart(Bed &b)
{
	b.stop_refused_then_restart(
	    [&] {
		    b.host.ctl({ "set", "free_ram", "0" });
		    b.host.ctl({ "set", "used", "104" });
	    },
	    [&] {
		    b.host.ctl({ "set", "free_ram", "1024" });
		    b.host.ctl({ "set", "used", "40" });
	    });
}

void
inject_sigkill_then_a_restart(Bed &b)
{
	b.daemon->signal(SIGKILL);
	b.daemon->wait_exit();
	b.restart();
}

/* The device gone by hand, the next grow went through: one, of 8 MiB. */
bool
one_device_of_8(Bed &b)
{
	return b.largest_active() == 8 && b.ours().size() == 1;
}

void
inject_device_swapped_off_and_detached_by_hand(Bed &b)
{
	std::string device = b.our_device();
	b.by_hand({ "swapoff", device });
	b.by_hand({ "mdconfig", "-d", "-u", device });
}

void
inject_our_unit_detached_by_hand_and_taken_by_another_program(Bed &b)
{
	std::string device = b.our_device();
	b.taken = { device.substr(sizeof("/dev/md") - 1) };
	b.by_hand({ "swapoff", device });
	b.by_hand({ "mdconfig", "-d", "-u", device });
	b.host.ctl({ "take", b.taken[0] });
	b.commands_at_inject = b.host.commands().size();
}

bool
hit_our_unit_detached_by_hand_and_taken_by_another_program(Bed &b)
{
	return b.largest_active() == 8 && !b.ran_on(b.taken[0]);
}

bool
recovered_our_unit_detached_by_hand_and_taken_by_another_program(Bed &b)
{
	return b.none_of_ours() && !b.ran_on(b.taken[0]);
}

void
inject_a_second_daemon_on_the_same_swap_directory(Bed &b)
{
	/* Another swap file, but the same directory. */
	std::string other = b.host.path("other.conf");
	write_file(other,
	    read_file(b.config) + "SWAP_FILE " + b.host.path("swap/swap1") +
	        "\n");
	Daemon second(b.host, Lines{ "-c", other });
	EXPECT_EQ(second.wait_exit(5), 1);
	EXPECT_EQ(second.output(),
	    "morvend: another morvend holds " + b.host.path("swap") + "\n");
}

bool
hit_a_second_daemon_on_the_same_swap_directory(Bed &b)
{
	return b.host.looks() == 1 && b.quiet_cycles(2) &&
	    b.largest_active() == 4;
}

bool
hit_large_allocations_fail(Bed &b)
{
	return allocations_limited(b) && b.largest_active() == 8;
}

bool
recovered_mdconfig_d_is_busy(Bed &b)
{
	for (auto &u : b.ours())
		if (!u.active)
			return false;
	return b.largest_active() > 4;
}

void
clear_disk_full_during_the_fill(Bed &b)
{
	struct rlimit unlimited = { RLIM_INFINITY, RLIM_INFINITY };
	ASSERT_EQ(prlimit(b.daemon->pid, RLIMIT_FSIZE, &unlimited, nullptr), 0);
}

void
clear_directory_missing(Bed &b)
{
	std::filesystem::create_directories(b.host.path("gone/swap"));
}

void
inject_swapctl_prints_garbage(Bed &b)
{
	b.host.ctl({ "swapctl-prints", "swap: none\n" });
	b.press();
}

void
inject_swapctl_prints_nothing(Bed &b)
{
	b.host.ctl({ "swapctl-prints", "" });
	b.press();
}

void
inject_sigterm_during_a_fill(Bed &b)
{
	struct stat sb = {};
	ASSERT_TRUE(
	    eventually([&] { return stat(b.swap_file.c_str(), &sb) == 0; },
	        20));
	b.daemon->signal(SIGTERM);
	stat(b.swap_file.c_str(), &sb);
	EXPECT_LT(sb.st_size, 2048L << 20) << "the fill was over";
}

bool
hit_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest(Bed &b)
{
	return b.serving() == 4 && b.since_inject("swapoff").empty();
}

void
clear_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest(Bed &b)
{
	/* The third device holds nothing, the others a little. */
	auto mine = b.ours();
	for (std::size_t i = 0; i < mine.size(); i++)
		b.host.ctl(
		    { "use", mine[i].name.substr(2), i == 2 ? "0" : "1" });
	b.commands_at_inject = b.host.commands().size();
	b.relieve();
	b.first_to_go = mine[2].name;
}

bool
recovered_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest(Bed &b)
{
	Lines off = b.since_inject("swapoff");
	return b.none_of_ours() && !off.empty() &&
	    off[0] == "swapoff /dev/" + b.first_to_go;
}

bool
hit_max_devices_4_a_refused_swapon_leaves_the_others_serving(Bed &b)
{
	return b.fault_met("swapon", 2) && b.serving() == 1;
}

bool
hit_max_devices_4_sigkill_then_a_restart_keeps_every_device(Bed &b)
{
	return b.host.looks() >= 2 && b.quiet_cycles(2) && b.serving() == 4;
}

bool
hit_mdconfig_a_attaches_then_dies(Bed &b)
{
	return b.died("attach") && b.largest_active() == 8 &&
	    b.ours().size() == 1;
}

void
inject_swapon_activates_then_dies(Bed &b)
{
	ASSERT_TRUE(eventually([&] {
		return b.died("swapon") && b.serving() == 1 &&
		    b.daemon->waiting();
	}));
	EXPECT_EQ(b.since_inject("mdconfig -d"), Lines{})
	    << "the device that serves was given up";
	b.daemon->signal(SIGTERM);
}

void
inject_a_disk_attached_by_hand_over_the_swap_file_then_a_stop(Bed &b)
{
	b.by_hand({ "mdconfig", "-a", "-t", "vnode", "-f", b.swap_file, "-u",
	    "4242" });
	b.daemon->signal(SIGTERM);
}

void
inject_our_unit_handed_to_another_program_during_the_stop_s_retries(Bed &b)
{
	std::string device = b.our_device();
	b.inject_fault("swapoff");
	b.daemon->signal(SIGTERM);
	ASSERT_TRUE(eventually([&] { return b.fault_met("swapoff", 1); }));
	b.clear_fault("swapoff");
	b.by_hand({ "swapoff", device });
	b.by_hand({ "mdconfig", "-d", "-u", device });
	b.taken = { device.substr(sizeof("/dev/md") - 1) };
	b.host.ctl({ "take", b.taken[0] });
}

bool
hit_max_devices_4_a_restart_under_a_lower_max_size_keeps_within_it(Bed &b)
{
	return b.serving() == 2 && b.ours().size() == 2;
}

void
inject_max_devices_4_devices_freed_by_hand_stop_counting_against_max_size(
    Bed &b)
{
	b.press();
	ASSERT_TRUE(eventually([&] { return b.serving() == 4; }));
	b.free_two_by_hand();
	b.commands_at_inject = b.host.commands().size();
}

bool
hit_max_devices_4_devices_freed_by_hand_stop_counting_against_max_size(Bed &b)
{
	return b.serving() == 4 && b.since_inject("mdconfig -a").size() == 2;
}

void
before_started_with_the_stop_signals_blocked(Bed &b)
{
	b.in_child = [] {
		sigset_t stops;
		sigemptyset(&stops);
		sigaddset(&stops, SIGTERM);
		sigaddset(&stops, SIGINT);
		sigprocmask(SIG_BLOCK, &stops, nullptr);
	};
}

void
inject_sigterm_twice(Bed &b)
{
	b.daemon->signal(SIGTERM);
	b.daemon->signal(SIGTERM);
}

void
inject_a_stop_while_the_file_ahead_is_half_written(Bed &b)
{
	ASSERT_TRUE(eventually([&] { return partly_ahead(b); }));
	b.daemon->signal(SIGTERM);
	EXPECT_TRUE(eventually([&] { return !b.daemon->running(); }, 2))
	    << "the stop waited for the fill";
}

void
inject_killed_while_writing_ahead_then_a_grow_at_once(Bed &b)
{
	ASSERT_TRUE(eventually([&] { return partly_ahead(b); }));
	b.daemon->signal(SIGKILL);
	b.daemon->wait_exit();
	b.restart();
	/* The dead daemon's writer gives way within a piece. */
	EXPECT_TRUE(eventually(
	    [&] {
		    auto parents = parents_of_others_running_it(b);
		    return std::all_of(parents.begin(), parents.end(),
		        [&](pid_t p) { return p == b.daemon->pid; });
	    },
	    1))
	    << "an orphaned writer went on";
	b.press();
}

bool
hit_killed_while_writing_ahead_then_a_grow_at_once(Bed &b)
{
	return b.largest_active() == 8 && b.serving() == 1;
}

void
inject_a_grow_while_the_next_file_is_mid_write(Bed &b)
{
	ASSERT_TRUE(eventually([&] { return partly_ahead(b); }));
	b.press();
}

void
before_room_for_the_device_but_not_for_the_file_ahead(Bed &b)
{
	b.in_child = on_tmpfs(b, "6m");
	b.env = fills_at("1");
}

bool
hit_room_for_the_device_but_not_for_the_file_ahead(Bed &b)
{
	EXPECT_GE(room_mib(b), 1) << "the disk was filled";
	return b.quiet_cycles(3) && b.largest_active() == 4 &&
	    exists(daemons_view(b, b.swap_file)) &&
	    !exists(daemons_view(b, b.swap_file + ".ahead"));
}

void
inject_the_file_ahead_gives_way_when_others_fill_the_disk(Bed &b)
{
	ASSERT_TRUE(eventually([&] {
		return whole_8_mib(daemons_view(b, b.swap_file + ".ahead"));
	}));
	write_file(daemons_view(b, b.host.path("swap/filler")),
	    std::string(6 << 20, 'x'));
}

bool
hit_the_file_ahead_gives_way_when_others_fill_the_disk(Bed &b)
{
	return !exists(daemons_view(b, b.swap_file + ".ahead"));
}

void
clear_the_file_ahead_gives_way_when_others_fill_the_disk(Bed &b)
{
	std::filesystem::remove(daemons_view(b, b.host.path("swap/filler")));
}

bool
recovered_the_file_ahead_gives_way_when_others_fill_the_disk(Bed &b)
{
	return whole_8_mib(daemons_view(b, b.swap_file + ".ahead"));
}

void
inject_the_file_ahead_removed_by_hand_is_let_go(Bed &b)
{
	ASSERT_TRUE(
	    eventually([&] { return whole_8_mib(b.swap_file + ".ahead"); }));
	std::filesystem::remove(b.swap_file + ".ahead");
}

bool
hit_the_file_ahead_removed_by_hand_is_let_go(Bed &b)
{
	return !holds_removed_file_ahead(b) &&
	    whole_8_mib(b.swap_file + ".ahead");
}

void
inject_the_file_ahead_emptied_from_outside_is_never_attached(Bed &b)
{
	ASSERT_TRUE(
	    eventually([&] { return whole_8_mib(b.swap_file + ".ahead"); }));
	ASSERT_EQ(truncate((b.swap_file + ".ahead").c_str(), 0), 0);
	b.press();
}

void
inject_a_stop_never_waits_for_a_fill(Bed &b)
{
	ASSERT_TRUE(eventually([&] { return exists(b.swap_file); }));
	b.daemon->signal(SIGTERM);
	EXPECT_TRUE(eventually([&] { return !b.daemon->running(); }, 2))
	    << "the stop waited for the fill";
	EXPECT_FALSE(told_line(b, "<28>")) << "a stop told as a failure";
}

void
inject_the_swap_directory_removed_then_a_stop(Bed &b)
{
	std::filesystem::remove_all(b.host.path("swap"));
	b.daemon->signal(SIGTERM);
}

void
inject_the_swap_directory_made_anew_and_held_by_another_daemon(Bed &b)
{
	std::string dir = b.host.path("swap"), anew = b.host.path("anew");
	std::filesystem::create_directory(anew);
	b.other_lock = UniqueFd(open(anew.c_str(), O_RDONLY | O_DIRECTORY));
	ASSERT_EQ(flock(b.other_lock.get(), LOCK_EX), 0);
	std::filesystem::remove_all(dir);
	std::filesystem::rename(anew, dir);
	b.press();
}

bool
hit_the_swap_directory_made_anew_and_held_by_another_daemon(Bed &b)
{
	return told_line(b, "<28>another morvend holds SWAPDIR") &&
	    b.since_inject("").empty();
}

bool
hit_the_kernel_s_swap_limit_bounds_growth(Bed &b)
{
	return b.largest_active() == 8 &&
	    b.since_inject("mdconfig -a").size() == 1 &&
	    b.host.probes() >= b.probes_at_inject + 6;
}

void
before_sysctl_fails_growth_as_without_the_kernel_s_limit(Bed &b)
{
	b.host.ctl({ "set", "swap_maxpages", "55296" });
	b.host.ctl({ "sysctl-fails", "yes" });
}

bool
hit_sysctl_fails_growth_as_without_the_kernel_s_limit(Bed &b)
{
	return b.largest_active() == 16 && !told_line(b, "<30>keeps total");
}

void
before_standard_error_a_pipe_that_nobody_reads(Bed &b)
{
	auto tmpfs = on_tmpfs(b, "64m");
	b.in_child = [tmpfs] {
		int ends[2];
		if (pipe(ends) != 0 || dup2(ends[1], 2) != 2)
			_exit(97);
		close(ends[0]);
		close(ends[1]);
		tmpfs();
	};
}

void
before_a_swap_file_without_a_device_is_removed_at_start(Bed &b)
{
	b.host.ctl({ "set", "foreign_total", "300" });
	write_file(b.swap_file, std::string(8 << 20, '\0'));
}

bool
hit_a_swap_file_without_a_device_is_removed_at_start(Bed &b)
{
	return !exists(b.swap_file) && b.host.probes() >= 2;
}

bool
hit_a_file_size_limit_stops_the_file_ahead_told_once(Bed &b)
{
	return b.host.probes() >= b.probes_at_inject + 6 &&
	    !exists(b.swap_file + ".ahead") && b.largest_active() == 4;
}

/* The status line comes while the fill goes on, and the stop follows. */
void
inject_status_during_a_fill(Bed &b)
{
	ASSERT_TRUE(eventually([&] { return exists(b.swap_file); }));
	b.daemon->signal(SIGUSR1);
	EXPECT_TRUE(eventually([&] { return told_line(b, "<30>status: "); }, 1))
	    << "the status waited for the fill";
	struct stat st = {};
	stat(b.swap_file.c_str(), &st);
	EXPECT_LT(st.st_size, 32L << 20) << "the fill was over";
	b.daemon->signal(SIGTERM);
}

/* clang-format off */
const Fault faults[] = {
	{ .name = "attach fails ten times a cycle, three cycles",
	  .config = "SYSLOG 1\n",
	  .inject = [](Bed &b) { b.inject_fault("attach"); b.press(); },
	  .hit = [](Bed &b) { return b.fault_met("attach", 30); },
	  .clear = [](Bed &b) { b.clear_fault("attach"); },
	  .recovered = [](Bed &b) { return b.largest_active() > 4; },
	  .logged = { started,
		"<28>mdconfig -a -t vnode -f 'SWAP' -u #: exit status #: "
		"mdconfig: ioctl(/dev/mdctl): Device busy",
		recovered, "<30>released md# (# MiB)", stopped } },
	{ .name = "units taken by others",
	  .device_first = false,
	  .before = before_units_taken_by_others,
	  .hit = hit_units_taken_by_others,
	  .recovered = recovered_units_taken_by_others },
	{ .name = "swapon of the new device fails",
	  .encrypted_too = true,
	  .inject = [](Bed &b) { b.inject_fault("swapon"); b.press(); },
	  .hit = [](Bed &b) { return b.fault_met("swapon", 2); },
	  .clear = [](Bed &b) { b.clear_fault("swapon"); },
	  .recovered = [](Bed &b) { return b.largest_active() > 4; } },
	{ .name = "swapoff refuses on a shrink",
	  .every_format = true,
	  .config = "SYSLOG 1\n",
	  .inject = [](Bed &b) { b.inject_fault("swapoff"); b.relieve(); },
	  .hit = [](Bed &b) { return b.fault_met("swapoff", 2); },
	  .clear = [](Bed &b) { b.clear_fault("swapoff"); },
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, grew, "<28>swapoff /dev/md#: exit status #: swapoff: /dev/md#: "
		"Cannot allocate memory",
		shrank_to_none, recovered, stopped } },
	{ .name = "swapoff refuses at stop, then a restart",
	  .every_format = true,
	  .config = "SYSLOG 1\n",
	  .inject = inject_swapoff_refuses_at_stop_then_a_restart,
	  .hit = &Bed::took_back,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, grew, "<28>swapoff /dev/md#: exit status #: swapoff: /dev/md#: "
		"Cannot allocate memory",
		"<28>could not release md#: still in service as swap", stopped,
		started, took_back, shrank_to_none, stopped } },
	{ .name = "stop refused for want of memory, then a restart",
	  .encrypted_too = true,
	  .config = "MAX_SIZE 4\n",
	  .inject = inject_stop_refused_for_want_of_memory_then_a_restart,
	  .hit = &Bed::took_back,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "SIGKILL, then a restart",
	  .every_format = true,
	  .encrypted_too = true,
	  .inject = inject_sigkill_then_a_restart,
	  .hit = &Bed::took_back,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "device swapped off by hand",
	  .inject = [](Bed &b) { b.by_hand({"swapoff", b.our_device()}); },
	  .hit = one_device_of_8,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "device swapped off and detached by hand",
	  .inject = inject_device_swapped_off_and_detached_by_hand,
	  .hit = one_device_of_8,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "our unit detached by hand and taken by another program",
	  .inject = inject_our_unit_detached_by_hand_and_taken_by_another_program,
	  .hit = hit_our_unit_detached_by_hand_and_taken_by_another_program,
	  .clear = &Bed::relieve,
	  .recovered = recovered_our_unit_detached_by_hand_and_taken_by_another_program },
	{ .name = "a second daemon on the same swap directory",
	  .encrypted_too = true,
	  .inject = inject_a_second_daemon_on_the_same_swap_directory,
	  .hit = hit_a_second_daemon_on_the_same_swap_directory,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "swap directory on tmpfs",
	  .config = "SYSLOG 1\n",
	  .device_first = false,
	  .before = [](Bed &b) { b.in_child = on_tmpfs(b, "64m"); },
	  .hit = [](Bed &b) { return b.largest_active() > 0; },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, "<28>warning: SWAPDIR is on tmpfs: it is kept "
		"in memory and swap itself, so swapping to it frees nothing",
		stopped },
	  .said = { "morvend: warning: SWAPDIR is on tmpfs: it is kept in "
		"memory and swap itself, so swapping to it frees nothing" } },
	{ .name = "large allocations fail",
	  .before = [](Bed &b) { b.env = large_allocations_fail(b); },
	  .inject = &Bed::press,
	  .hit = hit_large_allocations_fail,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "mdconfig -d is busy",
	  .inject = [](Bed &b) { b.inject_fault("detach"); b.press(); },
	  .hit = [](Bed &b) { return b.fault_met("detach", 2); },
	  .clear = [](Bed &b) { b.clear_fault("detach"); },
	  .recovered = recovered_mdconfig_d_is_busy },
	{ .name = "disk full during the fill",
	  .device_first = false,
	  .before = [](Bed &b) { b.in_child = file_size_limit(2 << 20); },
	  .hit = [](Bed &b) { return b.host.probes() >= 6 && b.none_of_ours(); },
	  .clear = clear_disk_full_during_the_fill,
	  .recovered = [](Bed &b) { return b.largest_active() > 0; } },
	{ .name = "directory missing",
	  .device_first = false,
	  .before = [](Bed &b) { b.swap_file = b.host.path("gone/swap/swap0"); },
	  /* Nothing is touched, not even looked at, without the directory. */
	  .settle = 2.5,
	  .hit = [](Bed &b) { return b.host.probes() == 0 && b.host.looks() == 0; },
	  .clear = clear_directory_missing,
	  .recovered = [](Bed &b) { return b.largest_active() > 0; } },
	{ .name = "swapctl prints garbage",
	  .inject = inject_swapctl_prints_garbage,
	  .hit = [](Bed &b) { return b.quiet_cycles(3); },
	  .clear = [](Bed &b) { b.host.ctl({"swapctl-prints", "--real"}); },
	  .recovered = [](Bed &b) { return b.largest_active() > 4; } },
	{ .name = "swapctl prints nothing",
	  .inject = inject_swapctl_prints_nothing,
	  .hit = [](Bed &b) { return b.quiet_cycles(3); },
	  .clear = [](Bed &b) { b.host.ctl({"swapctl-prints", "--real"}); },
	  .recovered = [](Bed &b) { return b.largest_active() > 4; } },
	/* A stop during the cycle ends it without a pause, however long. */
	{ .name = "SIGTERM during a fill",
	  .config = "DELTA_SIZE 2048\nWAIT_TIME 60\n",
	  .device_first = false,
	  .inject = inject_sigterm_during_a_fill,
	  .inject_stops = true,
	  .needs_mib = 2048 },
	{ .name = "MAX_DEVICES 4: grows add devices, shrinks retire the emptiest",
	  .config = "MAX_DEVICES 4\n",
	  .inject = &Bed::press,
	  .hit = hit_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest,
	  .clear = clear_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest,
	  .recovered = recovered_max_devices_4_grows_add_devices_shrinks_retire_the_emptiest },
	{ .name = "MAX_DEVICES 4: a refused swapon leaves the others serving",
	  .config = "MAX_DEVICES 4\n",
	  .inject = [](Bed &b) { b.inject_fault("swapon"); b.press(); },
	  .hit = hit_max_devices_4_a_refused_swapon_leaves_the_others_serving,
	  .clear = [](Bed &b) { b.clear_fault("swapon"); },
	  .recovered = [](Bed &b) { return b.serving() == 4; } },
	{ .name = "MAX_DEVICES 4: SIGKILL, then a restart keeps every device",
	  .encrypted_too = true,
	  .config = "MAX_DEVICES 4\n",
	  .inject = [](Bed &b) { b.kill_with_four_and_restart(); },
	  .hit = hit_max_devices_4_sigkill_then_a_restart_keeps_every_device,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "mdconfig -a attaches, then dies",
	  .every_format = true,
	  .encrypted_too = true,
	  .inject = [](Bed &b) { b.die_after("attach"); b.press(); },
	  .hit = hit_mdconfig_a_attaches_then_dies,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	/* A stop before the next cycle finds the device serving as ours. */
	{ .name = "swapon activates, then dies",
	  .config = "WAIT_TIME 60\n",
	  .device_first = false,
	  .before = [](Bed &b) { b.die_after("swapon"); },
	  .inject = inject_swapon_activates_then_dies,
	  .inject_stops = true },
	{ .name = "a disk attached by hand over the swap file, then a stop",
	  .every_format = true,
	  .inject = inject_a_disk_attached_by_hand_over_the_swap_file_then_a_stop,
	  .inject_stops = true },
	/* taken: the one unit that must still be attached after the stop. */
	{ .name = "our unit handed to another program during the stop's retries",
	  .inject = inject_our_unit_handed_to_another_program_during_the_stop_s_retries,
	  .inject_stops = true },
	{ .name = "MAX_DEVICES 4: a restart under a lower MAX_SIZE keeps within it",
	  .config = "MAX_DEVICES 4\n",
	  .inject = [](Bed &b) { b.kill_with_four_and_restart("MAX_SIZE 8\n"); },
	  .hit = hit_max_devices_4_a_restart_under_a_lower_max_size_keeps_within_it,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "MAX_DEVICES 4: devices freed by hand stop counting against MAX_SIZE",
	  .config = "MAX_DEVICES 4\nMAX_SIZE 16\n",
	  .inject = inject_max_devices_4_devices_freed_by_hand_stop_counting_against_max_size,
	  .hit = hit_max_devices_4_devices_freed_by_hand_stop_counting_against_max_size,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "started with the stop signals blocked",
	  .before = before_started_with_the_stop_signals_blocked,
	  .inject = [](Bed &b) { b.daemon->signal(SIGTERM); },
	  .inject_stops = true },
	{ .name = "SIGTERM twice",
	  .inject = inject_sigterm_twice,
	  .inject_stops = true },
	/* The next grow's file (8 MiB) is written ahead at 1 MB/s. */
	{ .name = "a stop while the file ahead is half written",
	  .config = "WRITE_AHEAD 1\nWAIT_TIME 30\n",
	  .before = [](Bed &b) { b.env = fills_at("1"); },
	  .inject = inject_a_stop_while_the_file_ahead_is_half_written,
	  .inject_stops = true },
	{ .name = "killed while writing ahead, then a grow at once",
	  .config = "WRITE_AHEAD 1\n",
	  .before = [](Bed &b) { b.env = fills_at("1"); },
	  .inject = inject_killed_while_writing_ahead_then_a_grow_at_once,
	  /* Never the part written: a whole 8 MiB from the start. */
	  .hit = hit_killed_while_writing_ahead_then_a_grow_at_once,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "a grow while the next file is mid-write",
	  .config = "WRITE_AHEAD 1\n",
	  .before = [](Bed &b) { b.env = fills_at("2"); },
	  .inject = inject_a_grow_while_the_next_file_is_mid_write,
	  /* The writer's file, whole, with no fill of its own. */
	  .hit = &grew_once_from_a_whole_file,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	/* The file ahead, cut down to 4 MiB: the same inode, no fill. */
	{ .name = "a shrink takes a larger file ahead, cut to the new size",
	  .config = "WRITE_AHEAD 1\n",
	  .inject = inject_shrink_with_a_larger_file_ahead,
	  .hit = [](Bed &b) {
		return b.largest_active() == 4 &&
		    std::to_string(whole_file(b.swap_file, 4)) == b.first_to_go;
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "room for the device but not for the file ahead",
	  .config = "WRITE_AHEAD 1\n",
	  .before = before_room_for_the_device_but_not_for_the_file_ahead,
	  /* A file ahead begun would show: the disk fills at 1 MB/s. */
	  .hit = hit_room_for_the_device_but_not_for_the_file_ahead,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .said = { "morvend: warning: SWAPDIR is on tmpfs: it is kept in "
		"memory and swap itself, so swapping to it frees nothing" } },
	{ .name = "SIGUSR1 asks for a status line",
	  .config = "SYSLOG 1\n",
	  .inject = [](Bed &b) { b.daemon->signal(SIGUSR1); },
	  .hit = [](Bed &b) { return told_line(b, "<30>status: "); },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, "<30>status: # MiB of swap free; devices: #, # "
		"MiB: md# (# MiB); file ahead: none; last resize: grew from # "
		"to # MiB, # s ago; next grow: # MiB, allowed", stopped } },
	/* A 32 MiB step at 4 MB/s: the answer comes within the fill. */
	{ .name = "SIGUSR1 during a slow fill",
	  .config = "DELTA_SIZE 32\nWAIT_TIME 60\nSYSLOG 1\n",
	  .device_first = false,
	  .before = [](Bed &b) { b.env = fills_at("4"); },
	  .inject = inject_status_during_a_fill,
	  .inject_stops = true },
	{ .name = "SIGHUP reloads: a lowered MAX_SIZE holds, the device stays",
	  .config = "SYSLOG 1\n",
	  .inject = [](Bed &b) { b.reload_with("MAX_SIZE 4\n"); b.press(); },
	  .hit = [](Bed &b) {
		return told_line(b, "<30>reloaded ") && b.largest_active() == 4 &&
		    b.host.probes() >= b.probes_at_inject + 6 &&
		    b.since_inject("mdconfig -a").empty();
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "SIGHUP with SWAP_FILE changed keeps the swap file",
	  .config = "SYSLOG 1\n",
	  .inject = [](Bed &b) {
		b.reload_with("SWAP_FILE " + b.host.path("other/swap0") + "\n");
	  },
	  .hit = [](Bed &b) {
		return told_line(b, "<28>SWAP_FILE changed in ") &&
		    b.largest_active() == 4;
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "ENCRYPT left out follows the system's encrypted swap",
	  .config = "SYSLOG 1\n",
	  .before = [](Bed &b) { b.host.ctl({"set", "foreign_eli", "1"}); },
	  .hit = [](Bed &b) {
		Lines on = b.host.commands();
		return b.largest_active() == 4 && on.size() >= 2 &&
		    on[1].ends_with(".eli");
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, "<30>swaps on its devices encrypted, as "
		"/dev/mdN.eli: the system's own swap is encrypted", stopped } },
	/* geli's layer outlives the swapoff by 1.5 s: the detach waits. */
	{ .name = "geli's layer lingers after the swapoff of a replaced device",
	  .config = "ENCRYPT 1\n",
	  .before = [](Bed &b) { b.host.ctl({"set", "eli_linger_ms", "1500"}); },
	  .inject = &Bed::press,
	  /* Detached only once the layer went: refused first, retried. */
	  .hit = [](Bed &b) {
		return b.largest_active() == 16 && b.ours().size() == 1 &&
		    b.since_inject("mdconfig -d").size() >= 4;
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "geli's layer lingers after the swapoff of a stop",
	  .config = "ENCRYPT 1\n",
	  .before = [](Bed &b) { b.host.ctl({"set", "eli_linger_ms", "1500"}); },
	  .inject = [](Bed &b) { b.daemon->signal(SIGTERM); },
	  .inject_stops = true },
	/* Kept as it serves, .eli; the next device plain. */
	{ .name = "a restart under a changed ENCRYPT keeps what serves",
	  .config = "ENCRYPT 1\n",
	  .inject = [](Bed &b) {
		b.daemon->signal(SIGKILL);
		b.daemon->wait_exit();
		write_file(b.config, read_file(b.config) + "ENCRYPT 0\n");
		b.restart();
	  },
	  .hit = &Bed::took_back,
	  .clear = &Bed::press,
	  .recovered = [](Bed &b) {
		Lines on = b.since_inject("swapon");
		return b.largest_active() == 8 && !on.empty() &&
		    !on.back().ends_with(".eli");
	  } },
	/* 24 MiB: the device (4), the file ahead (8), 12 free beside it. */
	{ .name = "the file ahead gives way when others fill the disk",
	  .config = "WRITE_AHEAD 1\nSYSLOG 1\n",
	  .before = [](Bed &b) { b.in_child = on_tmpfs(b, "24m"); },
	  .inject = inject_the_file_ahead_gives_way_when_others_fill_the_disk,
	  .hit = hit_the_file_ahead_gives_way_when_others_fill_the_disk,
	  .clear = clear_the_file_ahead_gives_way_when_others_fill_the_disk,
	  .recovered = recovered_the_file_ahead_gives_way_when_others_fill_the_disk,
	  .logged = { started, "<28>no file written ahead at SWAP.ahead: it "
		"would leave less than its own size free beside it", stopped },
	  .said = { "morvend: warning: SWAPDIR is on tmpfs: it is kept in "
		"memory and swap itself, so swapping to it frees nothing" } },
	{ .name = "the file ahead removed by hand is let go",
	  .config = "WRITE_AHEAD 1\n",
	  .inject = inject_the_file_ahead_removed_by_hand_is_let_go,
	  .hit = hit_the_file_ahead_removed_by_hand_is_let_go,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	{ .name = "the file ahead emptied from outside is never attached",
	  .config = "WRITE_AHEAD 1\n",
	  .inject = inject_the_file_ahead_emptied_from_outside_is_never_attached,
	  .hit = &grew_once_from_a_whole_file,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	/* A 32 MiB step at 4 MB/s: eight seconds of fill. */
	{ .name = "a stop never waits for a fill",
	  .config = "DELTA_SIZE 32\nWAIT_TIME 60\nSYSLOG 1\n",
	  .device_first = false,
	  .before = [](Bed &b) { b.env = fills_at("4"); },
	  .inject = inject_a_stop_never_waits_for_a_fill,
	  .inject_stops = true },
	{ .name = "the swap directory removed, then a stop",
	  .every_format = true,
	  .inject = inject_the_swap_directory_removed_then_a_stop,
	  .inject_stops = true },
	/* Made anew, already locked, as by a second daemon. */
	{ .name = "the swap directory made anew and held by another daemon",
	  .config = "SYSLOG 1\n",
	  .inject = inject_the_swap_directory_made_anew_and_held_by_another_daemon,
	  .hit = hit_the_swap_directory_made_anew_and_held_by_another_daemon,
	  .clear = [](Bed &b) { b.other_lock = UniqueFd(); },
	  .recovered = [](Bed &b) { return b.largest_active() > 4; },
	  .logged = { started, "<28>another morvend holds SWAPDIR", stopped } },
	/* Half of what the kernel tracks: 108 MiB, 100 of them not ours. */
	{ .name = "the kernel's swap limit bounds growth",
	  .config = "SYSLOG 1\n",
	  .before = [](Bed &b) { b.host.ctl({"set", "swap_maxpages", "55296"}); },
	  .inject = &Bed::press,
	  .hit = hit_the_kernel_s_swap_limit_bounds_growth,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, "<30>keeps total swap within # MiB, half of "
		"what the kernel can track", "<28>not growing: total swap would "
		"pass # MiB, half of what the kernel can track",
		"<30>the kernel's limit no longer refuses a grow", stopped } },
	/* The start line names the bound; the refusal is told once, its end once. */
	{ .name = "MAX_SIZE refuses a grow, told once and once more when it ends",
	  .config = "MAX_SIZE 8\nSYSLOG 1\n",
	  .inject = &Bed::press,
	  .hit = [](Bed &b) {
		return b.largest_active() == 8 &&
		    told_line(b, "<28>not growing: our swap would pass MAX_SIZE");
	  },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { "<30>morvend #.# started with HOST/morvend.conf: swap file "
		"SWAP, grows below # MiB free, shrinks above # MiB free, steps of "
		"# MiB, at most # MiB, every # s",
		"<28>not growing: our swap would pass MAX_SIZE, # MiB",
		"<30>MAX_SIZE no longer refuses a grow", stopped } },
	{ .name = "sysctl fails: growth as without the kernel's limit",
	  .config = "SYSLOG 1\n",
	  .before = before_sysctl_fails_growth_as_without_the_kernel_s_limit,
	  .inject = &Bed::press,
	  .hit = hit_sysctl_fails_growth_as_without_the_kernel_s_limit,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	/* A foreground run whose reader went away: the warning meets EPIPE. */
	{ .name = "standard error a pipe that nobody reads",
	  .device_first = false,
	  .before = before_standard_error_a_pipe_that_nobody_reads,
	  .hit = [](Bed &b) { return b.largest_active() > 0; },
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours },
	/* Killed between writing it and attaching it, say. */
	{ .name = "a swap file without a device is removed at start",
	  .device_first = false,
	  .before = before_a_swap_file_without_a_device_is_removed_at_start,
	  .hit = hit_a_swap_file_without_a_device_is_removed_at_start,
	  .clear = [](Bed &b) { b.host.ctl({"set", "foreign_total", "100"}); },
	  .recovered = [](Bed &b) { return b.largest_active() > 0; } },
	{ .name = "a file-size limit stops the file ahead, told once",
	  .config = "WRITE_AHEAD 1\nSYSLOG 1\n",
	  .before = [](Bed &b) { b.in_child = file_size_limit(6 << 20); },
	  .hit = hit_a_file_size_limit_stops_the_file_ahead_told_once,
	  .clear = &Bed::relieve,
	  .recovered = &Bed::none_of_ours,
	  .logged = { started, "<28>cannot write SWAP.ahead: File too large",
		stopped } },
};
/* clang-format on */

/*
 * The rows that read the listings to recover, under every release's, and
 * those that swap devices on and off, under ENCRYPT 1 too.
 */
std::vector<Fault>
under_every_format()
{
	std::vector<Fault> rows(std::begin(faults), std::end(faults));

	for (const Fault &fault : faults) {
		for (const char *format : { "15", "old" }) {
			Fault row = fault;
			row.name += std::string(", format ") + format;
			row.format = format;
			if (fault.every_format)
				rows.push_back(row);
		}
		if (fault.encrypted_too) {
			Fault row = fault;
			row.name += ", under ENCRYPT 1";
			row.config += "ENCRYPT 1\n";
			rows.push_back(row);
		}
	}
	return rows;
}

/*
 * The phases of a row: start (with a device when the row wants one),
 * inject, wait until the fault is met, expect recovery once it clears,
 * stop and expect everything released.
 */
void
start(Bed &bed, const Fault &fault)
{
	bed.host.ctl({ "set", "foreign_total", "100" });
	bed.host.ctl({ "set", "used", "40" });
	if (!fault.format.empty())
		bed.host.ctl({ "mdconfig-format", fault.format });
	if (fault.before)
		fault.before(bed);
	bed.config = bed.host.small_config(
	    fault.config + "SWAP_FILE " + bed.swap_file + "\n");
	bed.start();
	if (fault.device_first) {
		ASSERT_TRUE(
		    eventually([&] { return bed.largest_active() > 0; }));
	}
}

void
inject(Bed &bed, const Fault &fault)
{
	bed.probes_at_inject = bed.host.probes();
	bed.commands_at_inject = bed.host.commands().size();
	if (fault.inject)
		fault.inject(bed);
}

void
expect_hit(Bed &bed, const Fault &fault)
{
	/* Nothing happening, for a while, is a hit of its own. */
	if (fault.settle > 0)
		usleep(static_cast<useconds_t>(fault.settle * 1e6));
	ASSERT_TRUE(
	    eventually([&] { return bed.drained() && fault.hit(bed); }, 20));
	check_invariants(bed, fault.device_first);
	/* Under ENCRYPT 1 every device goes in service through geli. */
	if (fault.name.ends_with("under ENCRYPT 1")) {
		for (auto &line : bed.host.commands()) {
			if (line.starts_with("swapon ")) {
				EXPECT_TRUE(line.ends_with(".eli")) << line;
			}
		}
	}
}

void
expect_recovery(Bed &bed, const Fault &fault)
{
	if (fault.clear)
		fault.clear(bed);
	ASSERT_TRUE(
	    eventually([&] { return bed.drained() && fault.recovered(bed); },
	        20))
	    << "no recovery";
	check_invariants(bed, false);
}

/* What the daemon said on its own account, the tools' words left out. */
Lines
said_by_morvend(const Bed &bed)
{
	Lines said;
	std::istringstream output(bed.daemon->output());
	const std::string dir = bed.host.path("swap");

	for (std::string line; std::getline(output, line);) {
		/* The tools' own words, and sh's for a tool killed. */
		if (line.starts_with("mdconfig: ") ||
		    line.starts_with("swapon: ") ||
		    line.starts_with("swapoff: ") ||
		    line.starts_with("sysctl: ") || line == "Killed")
			continue;
		if (auto at = line.find(dir); at != std::string::npos)
			line.replace(at, dir.size(), "SWAPDIR");
		said.push_back(line);
	}
	return said;
}

void
expect_release(Bed &bed, const Fault &fault)
{
	EXPECT_EQ(bed.daemon->wait_exit(20), 0);
	EXPECT_EQ(parents_of_others_running_it(bed), std::vector<pid_t>{})
	    << "a writer outlived the daemon";
	EXPECT_EQ(bed.ours().size(), 0u) << "a device was left behind";
	EXPECT_FALSE(exists(bed.swap_file));
	EXPECT_FALSE(exists(bed.swap_file + ".ahead"));
	EXPECT_EQ(bed.host.units().size(), bed.taken.size());
	if (fault.config.find("SYSLOG 1") == std::string::npos) {
		EXPECT_EQ(bed.told(), Lines{}) << "told without SYSLOG 1";
	} else {
		Lines expected;
		for (auto &line : bed.told())
			if (std::count(fault.logged.begin(), fault.logged.end(),
			        line) != 0)
				expected.push_back(line);
		EXPECT_EQ(expected, fault.logged);
	}
	EXPECT_EQ(said_by_morvend(bed), fault.said) << "what morvend said";
}

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, KeepSwapAndRecover)
{
	const Fault &fault = GetParam();
	Bed bed;
	struct statvfs fs;

	if (statvfs(bed.host.path("").c_str(), &fs) == 0 &&
	    fs.f_bavail * fs.f_frsize / (1 << 20) < 2 * fault.needs_mib)
		GTEST_SKIP()
		    << "no room for a fill of " << fault.needs_mib << " MiB";
	ASSERT_NO_FATAL_FAILURE(start(bed, fault));
	ASSERT_NO_FATAL_FAILURE(inject(bed, fault));
	if (!fault.inject_stops) {
		ASSERT_NO_FATAL_FAILURE(expect_hit(bed, fault));
		ASSERT_NO_FATAL_FAILURE(expect_recovery(bed, fault));
		bed.daemon->signal(SIGTERM);
	}
	expect_release(bed, fault);
}

std::string
row_name(const ::testing::TestParamInfo<Fault> &info)
{
	std::string name;
	for (char c : info.param.name)
		name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
	return name;
}

INSTANTIATE_TEST_SUITE_P(Table, Faults,
    ::testing::ValuesIn(under_every_format()), row_name);

}
