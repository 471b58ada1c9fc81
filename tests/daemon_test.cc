/*
 * The real morvend binary against the simulated host: what it runs, when
 * it stops, what it leaves behind.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "tests/testbed.h"

namespace {

using Lines = std::vector<std::string>;

struct Running : ::testing::Test {
	SimHost host;
};

TEST_F(Running, GrowsUnderPressureAndShrinksWhenItPasses)
{
	std::string config = host.small_config();
	host.ctl({ "set", "foreign_total", "100" });
	host.ctl({ "set", "used", "40" }); /* 60 free: below the floor */
	Daemon daemon(host, { "-c", config });

	ASSERT_TRUE(eventually([&] { return host.largest_active() == 4; }));
	ASSERT_TRUE(eventually([&] { return host.probes() >= 4; }));
	EXPECT_EQ(host.commands().size(), 2u) << "64 free is not below 64";

	host.ctl({ "set", "used", "0" }); /* 104 free: not above 128 */
	int probes = host.probes();
	ASSERT_TRUE(eventually([&] { return host.probes() >= probes + 4; }));
	EXPECT_EQ(host.commands().size(), 2u);

	host.ctl({ "set", "foreign_total", "200" }); /* 204 free */
	ASSERT_TRUE(eventually([&] { return host.units().empty(); }));
	EXPECT_FALSE(exists(host.swap_file));
	EXPECT_EQ(host.looks(), 2)
	    << "the devices are listed at start and "
	       "before the shrink takes the old device out, and only then";

	daemon.signal(SIGTERM);
	EXPECT_EQ(daemon.wait_exit(), 0);
	EXPECT_EQ(daemon.output(), "");
}

/* Now, as the stand-in tools stamp their calls. */
double
now()
{
	return std::chrono::duration<double>(
	    std::chrono::system_clock::now().time_since_epoch())
	    .count();
}

/*
 * The pauses between cycles that began after a time: from one cycle's
 * last call to the next cycle's first probe.  Each cycle reads the totals
 * twice.
 */
std::vector<double>
pauses_since(const SimHost &host, double since)
{
	std::vector<double> pauses;
	auto calls = host.timed_calls();
	int probes = 0;

	for (std::size_t i = 0; i < calls.size(); i++) {
		if (calls[i].line != "swapctl -s -m" || probes++ % 2 != 0)
			continue;
		if (i > 0 && calls[i - 1].at >= since)
			pauses.push_back(calls[i].at - calls[i - 1].at);
	}
	return pauses;
}

/*
 * QUICK_WAIT shortens the pause only while free swap is under twice the
 * floor (64 MiB here) and a grow is still allowed; else it is WAIT_TIME's
 * second.  The pause itself is measured, so a slow machine only makes
 * the cycles longer.
 */
TEST(QuickWait, OnlyWhileSwapRunsShortAndCanGrow)
{
	/* clang-format off */
	const struct {
		const char *what;
		std::string config;
		std::string foreign_total;
		bool quick;
	} rows[] = {
		{ "absent", "", "100", false },
		{ "under twice the floor", "QUICK_WAIT 250\n", "100", true },
		{ "above twice the floor", "QUICK_WAIT 250\n", "200", false },
		{ "at MAX_SIZE", "QUICK_WAIT 250\nMAX_SIZE 4\n", "100", false },
	};
	/* clang-format on */
	for (auto &row : rows) {
		SimHost host;
		host.ctl({ "set", "foreign_total", row.foreign_total });
		host.ctl({ "set", "used", "40" });
		Daemon daemon(host,
		    { "-c",
		        host.small_config(
		            row.config + "REDUCE_BUFFER 256\n") });
		/* Settled: 64 MiB free once the first device serves. */
		ASSERT_TRUE(eventually([&] {
			return host.probes() > 0 &&
			    (row.foreign_total != "100" ||
			        host.largest_active() == 4);
		})) << row.what;
		const double settled = now();
		ASSERT_TRUE(eventually([&] {
			return pauses_since(host, settled).size() >= 3;
		})) << row.what;
		for (double pause : pauses_since(host, settled)) {
			if (row.quick) {
				EXPECT_GE(pause, 0.24) << row.what;
				EXPECT_LT(pause, 0.9) << row.what;
			} else {
				EXPECT_GE(pause, 0.99) << row.what;
			}
		}
		daemon.signal(SIGTERM);
		EXPECT_EQ(daemon.wait_exit(), 0) << row.what;
	}
}

/*
 * With the next step's file written ahead, the grow's mdconfig -a follows
 * the probe that called for it with no fill between them.  Fills are
 * slowed to 4 MB/s, so one of 4 MiB takes a second.
 */
TEST(WriteAhead, GrowsWithoutWaitingForAFill)
{
	for (bool ahead : { false, true }) {
		SimHost host;
		host.ctl({ "set", "foreign_total", "100" });
		const std::string config = host.small_config(
		    ahead ? "WRITE_AHEAD 1\n" : "");
		Daemon daemon(host, { "-c", config }, nullptr,
		    { "LD_PRELOAD=" PACE_WRITES_SHIM, "PACE_WRITES_MBPS=4",
		        "ASAN_OPTIONS=verify_asan_link_order=0" });
		const std::string file_ahead = host.swap_file + ".ahead";
		ASSERT_TRUE(eventually([&] {
			struct stat st;
			return host.probes() >= 2 &&
			    (!ahead ||
			        (stat(file_ahead.c_str(), &st) == 0 &&
			            st.st_size == 4 << 20));
		})) << ahead;
		/* Written whole and synced: its writer is gone. */
		ASSERT_TRUE(eventually([&] { return daemon.waiting(); }))
		    << ahead;

		host.ctl({ "set", "used", "40" });
		ASSERT_TRUE(eventually([&] {
			return host.largest_active() == 4;
		})) << ahead;
		double probed = 0, attached = 0;
		for (auto &call : host.timed_calls()) {
			if (call.line == "swapctl -s -m" && attached == 0)
				probed = call.at;
			if (call.line.starts_with("mdconfig -a ") &&
			    attached == 0)
				attached = call.at;
		}
		if (ahead) {
			EXPECT_LT(attached - probed, 0.5);
		} else {
			EXPECT_GE(attached - probed, 1.0) << "not slowed";
		}
		daemon.signal(SIGTERM);
		EXPECT_EQ(daemon.wait_exit(), 0) << ahead;
		EXPECT_FALSE(exists(file_ahead)) << ahead;
	}
}

/*
 * What the daemon cannot run with is refused before anything is touched: a
 * swap file that mdconfig -l -v would list otherwise could never be found
 * again, and a step of 0 or less never resizes.
 */
TEST_F(Running, RefusesWhatItCannotRunWith)
{
	/* clang-format off */
	const struct {
		std::string line, said;
	} rows[] = {
		{ "SWAP_FILE " + host.path("swap/swap0\r"), "swap file \"" +
		    host.path("swap/swap0\\r\" has a control character") },
		{ "SWAP_FILE " + host.path("swap/sw\xc3\xa4p"), "swap file \"" +
		    host.path("swap/sw\\xc3\\xa4p\" has a byte above 0x7e") },
		{ "SWAP_FILE " + host.path("new/swap0 "), "swap file \"" +
		    host.path("new/swap0 \" has a blank at one end") },
		{ "SWAP_FILE " + host.path("new/a & b"), "swap file \"" +
		    host.path("new/a & b\" has a blank next to one of & < > ' \"") },
		{ "DELTA_SIZE 0", "DELTA_SIZE is 0: a step must be at least 1 MiB" },
		{ "DELTA_SIZE -1", "DELTA_SIZE is -1: a step must be at least 1 MiB" },
	};
	/* clang-format on */
	for (auto &row : rows) {
		std::string config = host.small_config(row.line + "\n");
		Daemon daemon(host, { "-d", "-c", config });
		EXPECT_EQ(daemon.wait_exit(), 1) << row.line;
		std::string said = "morvend: " + row.said;
		if (row.line.starts_with("SWAP_FILE"))
			said +=
			    ", which mdconfig -l -v would not list as it is";
		EXPECT_EQ(daemon.output(), said + "\n");
		EXPECT_EQ(read_file(host.state + "/log"), "");
		EXPECT_FALSE(exists(host.path("new")));
	}
}

class StopSignal : public Running, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, DuringTheWaitReleasesEverythingAndExitsZero)
{
	Daemon daemon(host, { "-c", host.small_config("WAIT_TIME 60\n") });

	ASSERT_TRUE(eventually(
	    [&] { return host.largest_active() > 0 && daemon.waiting(); }));
	int probes = host.probes();
	std::string unit = host.commands().back().substr(
	    sizeof("swapon /dev/md") - 1);

	daemon.signal(GetParam());
	EXPECT_EQ(daemon.wait_exit(5), 0) << "the wait was not cut short";
	EXPECT_EQ(host.probes(), probes) << "another cycle ran";
	Lines commands = host.commands();
	ASSERT_GE(commands.size(), 2u);
	EXPECT_EQ(commands[commands.size() - 2], "swapoff /dev/md" + unit);
	EXPECT_EQ(commands.back(), "mdconfig -d -u " + unit);
	EXPECT_EQ(host.units(), Lines{});
	EXPECT_FALSE(exists(host.swap_file));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, StopSignal,
    ::testing::Values(SIGTERM, SIGINT));

}
