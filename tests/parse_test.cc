/* The pure parsers of the tools' listings, as a table of texts. */
#include <gtest/gtest.h>

#include "swap/parse.h"

namespace {

/* Each listing as the tool prints it, or no reading at all. */
TEST(SwapctlListing, ReadAsPrintedOrNotAtAll)
{
	const char header[] = "Device:       1MB-blocks      Used:\n";
	/* clang-format off */
	const struct {
		std::string swapctl, expected;
	} swap_rows[] = {
		{ header, "" },
		{ std::string(header) + "/dev/ada0p3          100         40\n"
		  "/dev/md5                4          0\n"
		  "/dev/md2147483647          4          4\n",
		  "-1:100:40 5:4:0 2147483647:4:4 " },
		/* geli's one-time layer: NAME.eli, ours or the system's. */
		{ std::string(header) + "/dev/ada0p3.eli      100         40\n"
		  "/dev/md5.eli            4          1\n",
		  "-1:100:40:eli 5:4:1:eli " },
		{ std::string(header) + "/dev/md5.elix  4  0\n", "-1:4:0 " },
		{ "", "none" },
		{ "/dev/md5                4          0\n", "none" },
		{ std::string(header) + "/dev/md5     lots    0\n", "none" },
		{ std::string(header) + "/dev/md5  4  0  extra\n", "none" },
		{ std::string(header) + "/dev/md5  4294967296  0\n", "none" },
		{ std::string(header) + "Total:  4  0\n", "none" },
	};
	/* clang-format on */
	for (auto &row : swap_rows) {
		std::string got = "none";
		if (auto areas = parse_swap_areas(row.swapctl)) {
			got.clear();
			for (auto &area : *areas)
				got += std::to_string(area.unit) + ":" +
				    std::to_string(area.mib) + ":" +
				    std::to_string(area.used) +
				    (area.encrypted ? ":eli " : " ");
		}
		EXPECT_EQ(got, row.expected) << row.swapctl;
	}
}

/* Every release's mdconfig -l -v: the file is the fourth field. */
TEST(MdconfigListing, ReadAsPrintedOrNotAtAll)
{
	/* clang-format off */
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
	/* clang-format on */
	for (auto &row : disk_rows) {
		std::string got = "none";
		if (auto disks = parse_memory_disks(row.mdconfig)) {
			got.clear();
			for (auto &disk : *disks)
				got += std::to_string(disk.unit) + " " +
				    disk.type + " [" + disk.file + "] ";
		}
		EXPECT_EQ(got, row.expected) << row.mdconfig;
	}
}

/* sysctl -n vm.swap_maxpages hw.pagesize: half of it, in MiB. */
TEST(KernelSwapLimit, HalfOfWhatTheKernelTracks)
{
	/* clang-format off */
	const struct {
		std::string sysctl;
		std::optional<std::int64_t> expected;
	} limit_rows[] = {
		{ "55296\n4096\n", 108 },
		{ "49367432\n4096\n", 96420 },
		{ "9223372036854775807\n4096\n", std::nullopt },
		{ "55296\n", std::nullopt },
		{ "55296\n4096\n1\n", std::nullopt },
		{ "55296\n0\n", std::nullopt },
		{ "vm.swap_maxpages: 55296\nhw.pagesize: 4096\n", std::nullopt },
		{ "", std::nullopt },
	};
	/* clang-format on */
	for (auto &row : limit_rows)
		EXPECT_EQ(parse_kernel_swap_limit(row.sysctl), row.expected)
		    << row.sysctl;
}

}
