/*
 * Resizing the daemon's device on the simulated host, in process: the
 * commands that really run, the units they leave, the file on disk.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "swap/probe.h"
#include "swap/swap_device.h"
#include "tests/testbed.h"

namespace {

using Lines = std::vector<std::string>;

struct Resizing : ::testing::Test {
	SimHost host;
	Settings settings;

	Resizing()
	{
		host.enter();
		settings.swap_file = host.swap_file;
		settings.delta_size = 4;
	}

	/* Our one device, if any. */
	int our_unit() const
	{
		return settings.devices.empty() ? -1 : settings.devices[0].unit;
	}
	bool grow_to(std::int32_t mib)
	{
		return resize_swap(settings,
		    { Direction::grow, our_unit(), mib });
	}
	bool shrink_to(std::int32_t mib)
	{
		return resize_swap(settings,
		    { Direction::shrink, our_unit(), mib });
	}

	std::string attach(int unit) const
	{
		return "mdconfig -a -t vnode -f " + host.swap_file + " -u " +
		    std::to_string(unit);
	}
	std::string unit_line(int unit, int mib) const
	{
		return "md" + std::to_string(unit) + " " +
		    std::to_string(mib * 1048576) + " swap " + host.swap_file;
	}
	std::string swap_file_line(int mib) const
	{
		return host.swap_file + " " + std::to_string(mib);
	}
	/* Path and size in MiB of the file at swap_file, or "". */
	std::string swap_file_state() const
	{
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

TEST_F(Resizing, FirstGrowthAttachesAndActivates)
{
	ASSERT_TRUE(grow_to(4));
	int unit = our_unit();
	EXPECT_GE(unit, 0);
	EXPECT_EQ(current_size(settings), 4);
	EXPECT_EQ(host.commands(), (Lines{ attach(unit), on(unit) }));
	EXPECT_EQ(host.units(), (Lines{ unit_line(unit, 4) }));
	EXPECT_EQ(swap_file_state(), swap_file_line(4));
}

TEST_F(Resizing, NewDeviceServesBeforeTheOldOneIsRetired)
{
	ASSERT_TRUE(grow_to(4));
	int old_unit = our_unit();
	ASSERT_TRUE(grow_to(8));
	int new_unit = our_unit();

	EXPECT_EQ(host.commands(),
	    (Lines{ attach(old_unit), on(old_unit), attach(new_unit),
	        on(new_unit), off(old_unit), detach(old_unit) }));
	EXPECT_EQ(current_size(settings), 8);
	EXPECT_EQ(host.units(), (Lines{ unit_line(new_unit, 8) }));
	EXPECT_EQ(swap_file_state(), swap_file_line(8));

	ASSERT_TRUE(shrink_to(4));
	EXPECT_EQ(current_size(settings), 4);
	EXPECT_EQ(host.units(), (Lines{ unit_line(our_unit(), 4) }));
	EXPECT_EQ(swap_file_state(), swap_file_line(4));
}

TEST_F(Resizing, ShrinkingToNothingWritesNoFile)
{
	ASSERT_TRUE(grow_to(6));
	int unit = our_unit();
	ASSERT_TRUE(shrink_to(0));

	EXPECT_EQ(host.commands(),
	    (Lines{ attach(unit), on(unit), off(unit), detach(unit) }));
	EXPECT_EQ(current_size(settings), 0);
	EXPECT_EQ(settings.devices.size(), 0u);
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_EQ(swap_file_state(), "");
}

/*
 * A cycle whose resize the policy refuses touches nothing: no command, and
 * the swap file keeps its name and its contents.
 */
TEST_F(Resizing, ARefusedResizeTouchesNothing)
{
	settings.max_size = 7; /* 4 fits, 8 would not */
	poll_cycle(settings);
	ASSERT_EQ(current_size(settings), 4);
	Lines before = host.commands();
	struct stat was;
	ASSERT_EQ(stat(host.swap_file.c_str(), &was), 0);

	poll_cycle(settings);
	EXPECT_EQ(host.probes(), 4) << "the second cycle did not look";
	EXPECT_EQ(host.commands(), before);
	EXPECT_EQ(current_size(settings), 4);
	struct stat is;
	ASSERT_EQ(stat(host.swap_file.c_str(), &is), 0);
	EXPECT_EQ(is.st_ino, was.st_ino);
	EXPECT_EQ(swap_file_state(), swap_file_line(4));
}

TEST_F(Resizing, AttachDrawsAnotherUnitWhenOneIsRefused)
{
	host.ctl({ "fail", "attach", "9" });
	ASSERT_TRUE(grow_to(4));
	Lines commands = host.commands();
	ASSERT_EQ(commands.size(), 11u);
	EXPECT_EQ(commands[9], attach(our_unit()));
	EXPECT_EQ(commands[10], on(our_unit()));
}

TEST_F(Resizing, SwapFileIsOneShellWordThatRunsNothing)
{
	const std::string dir = host.path("it's a \"dir\"; $(touch pwned) `x`");
	ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
	settings.swap_file = dir + "/swap0";

	ASSERT_TRUE(grow_to(4));
	EXPECT_EQ(host.units(),
	    (Lines{ "md" + std::to_string(our_unit()) + " " +
	        std::to_string(4 << 20) + " swap " + settings.swap_file }));
	EXPECT_FALSE(exists("pwned"));
	EXPECT_FALSE(exists(host.path("pwned")));
}

TEST_F(Resizing, ACommandLinePastItsBufferIsNotRun)
{
	std::string dir = host.path(std::string(200, 'd'));
	for (int level = 0; level < 4; level++) {
		ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
		dir += "/" + std::string(200, 'd');
	}
	ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
	settings.swap_file = dir + "/swap0";

	EXPECT_FALSE(grow_to(4));
	EXPECT_EQ(host.commands(), Lines{});
	EXPECT_EQ(current_size(settings), 0);
	EXPECT_FALSE(exists(settings.swap_file));
}

TEST_F(Resizing, ReleaseRetiresTheDeviceAndRemovesTheName)
{
	ASSERT_TRUE(grow_to(4));
	int unit = our_unit();
	release_swap(settings);
	EXPECT_EQ(host.commands(),
	    (Lines{ attach(unit), on(unit), off(unit), detach(unit) }));
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_FALSE(exists(host.swap_file));
}

TEST_F(Resizing, ProbesReadTheirFieldOrNothing)
{
	EXPECT_EQ(probe_swap_total(settings.journal), 0)
	    << "no swap at all is a reading";
	host.ctl({ "set", "foreign_total", "512" });
	host.ctl({ "set", "used", "100" });
	EXPECT_EQ(probe_swap_total(settings.journal), 512);
	EXPECT_EQ(probe_swap_used(settings.journal), 100);

	host.ctl({ "swapctl-prints", "Total: lots of swap\n" });
	EXPECT_EQ(probe_swap_total(settings.journal), std::nullopt);
	host.ctl({ "swapctl-prints", "" });
	EXPECT_EQ(probe_swap_used(settings.journal), std::nullopt);
	host.ctl({ "swapctl-prints", "Total: 99999999999 -7\n" });
	EXPECT_EQ(probe_swap_total(settings.journal), std::nullopt)
	    << "beyond 32 bits";
	EXPECT_EQ(probe_swap_used(settings.journal), -7);
}

}
