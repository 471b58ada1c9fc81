/*
 * Resizing the daemon's device on the simulated host, in process: the
 * commands that really run, the units they leave, the file on disk.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "swap/swap_device.h"
#include "tests/testbed.h"

namespace {

using Lines = std::vector<std::string>;

struct Resize : ::testing::Test {
	SimHost host;
	Settings settings;

	Resize()
	{
		host.enter();
		settings.swap_file = host.swap_file;
		settings.delta_size = 4;
		std::srand(1);
	}

	std::string attach(int unit) const {
		return "mdconfig -a -t vnode -f " + host.swap_file + " -u " +
		    std::to_string(unit);
	}
	std::string unit_line(int unit, int mib) const {
		return "md" + std::to_string(unit) + " " +
		    std::to_string(mib * 1048576) + " swap " + host.swap_file;
	}
	std::string swap_file_line(int mib) const {
		return host.swap_file + " " + std::to_string(mib);
	}
	/* Path and size in MiB of the file at swap_file, or "". */
	std::string swap_file_state() const {
		struct stat sb;
		if (stat(host.swap_file.c_str(), &sb) != 0)
			return "";
		return host.swap_file + " " + std::to_string(sb.st_size >> 20);
	}
};

std::string
on(int unit)
{
	return "swapon /dev/md" + std::to_string(unit);
}

std::string
off(int unit)
{
	return "swapoff /dev/md" + std::to_string(unit);
}

std::string
detach(int unit)
{
	return "mdconfig -d -u " + std::to_string(unit);
}

TEST_F(Resize, FirstGrowthAttachesAndActivates)
{
	ASSERT_TRUE(resize_swap(settings, GROW));
	int unit = settings.md_unit;
	EXPECT_GE(unit, 0);
	EXPECT_EQ(settings.current_size, 4);
	EXPECT_EQ(host.commands(), (Lines{attach(unit), on(unit)}));
	EXPECT_EQ(host.units(), (Lines{unit_line(unit, 4)}));
	EXPECT_EQ(swap_file_state(), swap_file_line(4));
}

TEST_F(Resize, NewDeviceServesBeforeTheOldOneIsRetired)
{
	ASSERT_TRUE(resize_swap(settings, GROW));
	int old_unit = settings.md_unit;
	ASSERT_TRUE(resize_swap(settings, GROW));
	int new_unit = settings.md_unit;

	EXPECT_EQ(host.commands(), (Lines{attach(old_unit), on(old_unit),
	    attach(new_unit), on(new_unit), off(old_unit), detach(old_unit)}));
	EXPECT_EQ(settings.current_size, 8);
	EXPECT_EQ(host.units(), (Lines{unit_line(new_unit, 8)}));
	EXPECT_EQ(swap_file_state(), swap_file_line(8));

	ASSERT_TRUE(resize_swap(settings, SHRINK));
	EXPECT_EQ(settings.current_size, 4);
	EXPECT_EQ(host.units(), (Lines{unit_line(settings.md_unit, 4)}));
	EXPECT_EQ(swap_file_state(), swap_file_line(4));
}

TEST_F(Resize, ShrinkingToNothingWritesNoFile)
{
	settings.delta_size = 6;
	ASSERT_TRUE(resize_swap(settings, GROW));
	int unit = settings.md_unit;
	settings.delta_size = 8;	/* more than we own */
	ASSERT_TRUE(resize_swap(settings, SHRINK));

	EXPECT_EQ(host.commands(), (Lines{attach(unit), on(unit), off(unit),
	    detach(unit)}));
	EXPECT_EQ(settings.current_size, 0);
	EXPECT_EQ(settings.md_unit, -1);
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_EQ(swap_file_state(), "");
}

TEST_F(Resize, GrowthStaysWithinMaxSizeAndThirtyTwoBits)
{
	struct {
		std::int32_t current, delta, max;
		bool allowed;
	} rows[] = {
		{ 4, 4, 0, true },	/* no bound */
		{ 4, 4, 8, true },	/* lands exactly on it */
		{ 4, 4, 7, false },
		{ 0, 4, -1, false },	/* a negative bound refuses all */
		{ INT32_MAX - 2, 4, 0, false },
	};
	for (auto &row : rows) {
		SimHost fresh;
		fresh.enter();
		settings = Settings{};
		settings.swap_file = fresh.swap_file;
		settings.current_size = row.current;
		settings.delta_size = row.delta;
		settings.max_size = row.max;
		write_file(fresh.swap_file, "left by an earlier run");

		EXPECT_EQ(resize_swap(settings, GROW), row.allowed)
		    << row.current << "+" << row.delta << " max " << row.max;
		if (!row.allowed) {
			EXPECT_EQ(settings.current_size, row.current);
			EXPECT_EQ(fresh.commands(), Lines{});
			EXPECT_EQ(read_file(fresh.swap_file),
			    "left by an earlier run");
		}
	}
}

TEST_F(Resize, AttachDrawsAnotherUnitWhenOneIsRefused)
{
	host.ctl({"fail", "attach", "9"});
	ASSERT_TRUE(resize_swap(settings, GROW));
	Lines commands = host.commands();
	ASSERT_EQ(commands.size(), 11u);
	EXPECT_EQ(commands[9], attach(settings.md_unit));
	EXPECT_EQ(commands[10], on(settings.md_unit));

	/* A unit that other software holds is met the same way. */
	std::srand(7);
	int taken = std::rand();
	std::srand(7);
	host.ctl({"take", std::to_string(taken)});
	settings = Settings{};
	settings.swap_file = host.swap_file;
	settings.delta_size = 4;
	ASSERT_TRUE(resize_swap(settings, GROW));
	EXPECT_NE(settings.md_unit, taken);
}

TEST_F(Resize, SwapFileIsOneShellWordThatRunsNothing)
{
	const std::string dir = host.path("it's a \"dir\"; $(touch pwned) `x`");
	ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
	settings.swap_file = dir + "/swap0";

	ASSERT_TRUE(resize_swap(settings, GROW));
	EXPECT_EQ(host.units(), (Lines{"md" + std::to_string(settings.md_unit) +
	    " " + std::to_string(4 << 20) + " swap " + settings.swap_file}));
	EXPECT_FALSE(exists("pwned"));
	EXPECT_FALSE(exists(host.path("pwned")));
}

TEST_F(Resize, ACommandLinePastItsBufferIsNotRun)
{
	std::string dir = host.path(std::string(200, 'd'));
	for (int level = 0; level < 4; level++) {
		ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
		dir += "/" + std::string(200, 'd');
	}
	ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
	settings.swap_file = dir + "/swap0";

	EXPECT_FALSE(resize_swap(settings, GROW));
	EXPECT_EQ(host.commands(), Lines{});
	EXPECT_EQ(settings.current_size, 0);
	EXPECT_FALSE(exists(settings.swap_file));
}

TEST_F(Resize, ReleaseRetiresTheDeviceAndRemovesTheName)
{
	ASSERT_TRUE(resize_swap(settings, GROW));
	int unit = settings.md_unit;
	release_swap(settings);
	EXPECT_EQ(host.commands(), (Lines{attach(unit), on(unit), off(unit),
	    detach(unit)}));
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_FALSE(exists(host.swap_file));
}

TEST_F(Resize, ProbesReadTheirFieldOrNothing)
{
	EXPECT_EQ(probe_swap_total(settings.journal), 0) << "no swap at all is a reading";
	host.ctl({"set", "foreign_total", "512"});
	host.ctl({"set", "used", "100"});
	EXPECT_EQ(probe_swap_total(settings.journal), 512);
	EXPECT_EQ(probe_swap_used(settings.journal), 100);

	host.ctl({"swapctl-prints", "Total: lots of swap\n"});
	EXPECT_EQ(probe_swap_total(settings.journal), std::nullopt);
	host.ctl({"swapctl-prints", ""});
	EXPECT_EQ(probe_swap_used(settings.journal), std::nullopt);
	host.ctl({"swapctl-prints", "Total: 99999999999 -7\n"});
	EXPECT_EQ(probe_swap_total(settings.journal), std::nullopt) << "beyond 32 bits";
	EXPECT_EQ(probe_swap_used(settings.journal), -7);
}

/* Each listing as the tool prints it, or no reading at all. */
TEST(Listings, ReadAsTheToolsPrintThemOrNotAtAll)
{
	const char header[] = "Device:       1MB-blocks      Used:\n";
	const struct {
		std::string swapctl, expected;
	} swap_rows[] = {
		{ header, "" },
		{ std::string(header) + "/dev/ada0p3          100         40\n"
		  "/dev/md5                4          0\n"
		  "/dev/md2147483647          4          4\n",
		  "-1:100 5:4 2147483647:4 " },
		{ "", "none" },
		{ "/dev/md5                4          0\n", "none" },
		{ std::string(header) + "/dev/md5     lots    0\n", "none" },
		{ std::string(header) + "/dev/md5  4  0  extra\n", "none" },
		{ std::string(header) + "/dev/md5  4294967296  0\n", "none" },
		{ std::string(header) + "Total:  4  0\n", "none" },
	};
	for (auto &row : swap_rows) {
		std::string got = "none";
		if (auto areas = parse_swap_areas(row.swapctl)) {
			got.clear();
			for (auto &area : *areas)
				got += std::to_string(area.unit) + ":" +
				    std::to_string(area.mib) + " ";
		}
		EXPECT_EQ(got, row.expected) << row.swapctl;
	}

	const struct {
		std::string mdconfig, expected;
	} disk_rows[] = {
		{ "", "" },
		/* 13.x and 14.x: the file, a tab, the label. */
		{ "md5\tvnode\t  4.0M\t/a b/swap0\t\nmd7\tmalloc\t   64M\t-\t\n",
		  "5 vnode [/a b/swap0] 7 malloc [-] " },
		{ "md3\tvnode\t  1.0G\t/x\tmy label\n", "3 vnode [/x] " },
		/* 15.0 on: the file, the label or "-", the options. */
		{ "md7\tvnode\t  256M\t/usr/swap/swap0\t-\t\n"
		  "md8\tvnode\t  1.0G\t/x\ty\treadonly,compress\n"
		  "md1\tswap\t   64M\t-\t-\t\n",
		  "7 vnode [/usr/swap/swap0] 8 vnode [/x] 1 swap [-] " },
		/* Older releases: the file only for vnode, nothing after it. */
		{ "md7\tvnode\t  256M\t/usr/swap/swap0\nmd1\tswap\t   64M\n"
		  "md2\tpreload\t  4.0M\n",
		  "7 vnode [/usr/swap/swap0] 1 swap [] 2 preload [] " },
		{ "md0 md5 \n", "none" },
		{ "mdx\tvnode\t  4.0M\t/a\t\n", "none" },
		{ "md5\tvnode\n", "none" },
		{ "md5\tvnode\t\t/a\t\n", "none" },
		{ "md5\tvnode\t  4.0M\t/a\t\ngarbage\n", "none" },
	};
	for (auto &row : disk_rows) {
		std::string got = "none";
		if (auto disks = parse_memory_disks(row.mdconfig)) {
			got.clear();
			for (auto &disk : *disks)
				got += std::to_string(disk.unit) + " " + disk.type +
				    " [" + disk.file + "] ";
		}
		EXPECT_EQ(got, row.expected) << row.mdconfig;
	}
}

}
