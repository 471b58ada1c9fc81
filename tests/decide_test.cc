/* The resize policy, as a table of readings and settings. */
#include <gtest/gtest.h>

#include <climits>

#include "swap/policy.h"

namespace {

using Devices = std::vector<SwapDevice>;

struct Row {
	const char *what;
	std::int64_t free_swap;
	Devices devices; /* ours, oldest first */
	std::int32_t grow_buffer = 256;
	std::int32_t reduce_buffer = 1024;
	std::int32_t delta_size = 256;
	std::int32_t max_size = 0;
	std::int32_t max_devices = 1;
	std::int64_t system_swap = 0; /* MiB in service, ours included */
	std::int64_t kernel_swap_limit = 0;
	std::vector<SwapArea> areas = {}; /* what each device holds */
	bool needs_use = false; /* asks for areas: a shrink among several */
	std::optional<Resize> expected;
	GrowBound refused_by = GrowBound::none;
};

constexpr auto none = std::nullopt;
constexpr auto grow = Direction::grow;
constexpr auto shrink = Direction::shrink;
constexpr auto max_size = GrowBound::max_size;
constexpr auto kernel_limit = GrowBound::kernel_limit;

/* Our one device, md5, of that many MiB; none for 0. */
Devices
one(std::int32_t mib)
{
	return mib > 0 ? Devices{ { 5, mib } } : Devices{};
}

/* clang-format off */
const Row rows[] = {
	{ .what = "just below the floor",
	  .free_swap = 255, .devices = one(0),
	  .expected = Resize{ grow, -1, 256 } },
	{ .what = "equal to the floor",
	  .free_swap = 256, .devices = one(0),
	  .expected = none },
	{ .what = "equal to the floor, owning swap",
	  .free_swap = 256, .devices = one(512),
	  .expected = none },
	{ .what = "equal to the ceiling",
	  .free_swap = 1024, .devices = one(512),
	  .expected = none },
	{ .what = "just above the ceiling",
	  .free_swap = 1025, .devices = one(512),
	  .expected = Resize{ shrink, 5, 256 } },
	{ .what = "above the ceiling, owning nothing",
	  .free_swap = 1025, .devices = one(0),
	  .expected = none },
	{ .what = "huge free swap, owning nothing",
	  .free_swap = INT32_MAX, .devices = one(0),
	  .expected = none },
	{ .what = "no swap at all",
	  .free_swap = 0, .devices = one(0),
	  .expected = Resize{ grow, -1, 256 } },
	{ .what = "a floor above the ceiling grows first",
	  .free_swap = 600, .devices = one(512), .grow_buffer = 1024, .reduce_buffer = 256,
	  .expected = Resize{ grow, 5, 768 } },
	{ .what = "negative free swap",
	  .free_swap = -5, .devices = one(0), .grow_buffer = 0,
	  .expected = Resize{ grow, -1, 256 } },
	{ .what = "beyond 32 bits",
	  .free_swap = std::int64_t{INT32_MAX} + 10, .devices = one(1),
	  .expected = Resize{ shrink, 5, 0 } },
	{ .what = "a shrink by more than we own ends at none",
	  .free_swap = 2000, .devices = one(100),
	  .expected = Resize{ shrink, 5, 0 } },
	{ .what = "growth that lands on MAX_SIZE",
	  .free_swap = 0, .devices = one(256), .max_size = 512,
	  .expected = Resize{ grow, 5, 512 } },
	{ .what = "growth past MAX_SIZE, even by one",
	  .free_swap = 0, .devices = one(257), .max_size = 512,
	  .expected = none, .refused_by = max_size },
	{ .what = "a negative MAX_SIZE refuses all growth",
	  .free_swap = 0, .devices = one(0), .max_size = -1,
	  .expected = none, .refused_by = max_size },
	{ .what = "MAX_SIZE never holds back a shrink",
	  .free_swap = 2000, .devices = one(1024), .max_size = 512,
	  .expected = Resize{ shrink, 5, 768 } },
	{ .what = "growth past 32 bits",
	  .free_swap = 0, .devices = one(INT32_MAX - 2), .delta_size = 4,
	  .expected = none, .refused_by = max_size },

	/* MAX_DEVICES: 1 is all of the above. */
	{ .what = "a grow adds a device while a slot is free",
	  .free_swap = 0, .devices = { { 5, 256 }, { 6, 256 } }, .max_devices = 4,
	  .expected = Resize{ grow, -1, 256 } },
	{ .what = "with every slot taken, the smallest is replaced",
	  .free_swap = 0, .devices = { { 5, 512 }, { 6, 256 }, { 7, 512 } },
	  .max_devices = 3,
	  .expected = Resize{ grow, 6, 512 } },
	{ .what = "MAX_SIZE bounds the sum of our devices",
	  .free_swap = 0, .devices = { { 5, 256 }, { 6, 256 } }, .max_size = 700,
	  .max_devices = 4,
	  .expected = none, .refused_by = max_size },
	{ .what = "MAX_DEVICES of 0 or less counts as 1",
	  .free_swap = 0, .devices = one(256), .max_devices = -3,
	  .expected = Resize{ grow, 5, 512 } },
	{ .what = "a shrink retires the device that holds least",
	  .free_swap = 2000, .devices = { { 5, 256 }, { 6, 256 }, { 7, 256 } },
	  .max_devices = 4,
	  .areas = { { 5, 256, 30 }, { 6, 256, 2 }, { 7, 256, 9 } },
	  .needs_use = true,
	  .expected = Resize{ shrink, 6, 0 } },
	{ .what = "a device no longer listed holds nothing",
	  .free_swap = 2000, .devices = { { 5, 256 }, { 6, 256 } },
	  .max_devices = 4, .areas = { { 5, 256, 30 } }, .needs_use = true,
	  .expected = Resize{ shrink, 6, 0 } },
	{ .what = "no retirement that would fall under the floor",
	  .free_swap = 1100, .devices = { { 5, 256 }, { 6, 1024 } },
	  .max_devices = 4, .areas = { { 5, 256, 3 }, { 6, 1024, 0 } },
	  .needs_use = true,
	  .expected = none },
	{ .what = "down to the floor exactly is allowed",
	  .free_swap = 1280, .devices = { { 5, 256 }, { 6, 1024 } },
	  .max_devices = 4, .areas = { { 5, 256, 3 }, { 6, 1024, 0 } },
	  .needs_use = true,
	  .expected = Resize{ shrink, 6, 0 } },

	/* The kernel's limit bounds the system's total, not only ours. */
	{ .what = "a replacing grow that lands on the kernel's limit",
	  .free_swap = 0, .devices = one(256), .system_swap = 1256,
	  .kernel_swap_limit = 1512,
	  .expected = Resize{ grow, 5, 512 } },
	{ .what = "a replacing grow past the kernel's limit",
	  .free_swap = 0, .devices = one(256), .system_swap = 1256,
	  .kernel_swap_limit = 1511,
	  .expected = none, .refused_by = kernel_limit },
	{ .what = "an added device counts whole against the kernel's limit",
	  .free_swap = 0, .devices = one(256), .max_devices = 4,
	  .system_swap = 1256, .kernel_swap_limit = 1511,
	  .expected = none, .refused_by = kernel_limit },
	{ .what = "the kernel's limit never holds back a shrink",
	  .free_swap = 2000, .devices = one(1024), .system_swap = 9000,
	  .kernel_swap_limit = 512,
	  .expected = Resize{ shrink, 5, 768 } },
};
/* clang-format on */

Settings
settings_of(const Row &row)
{
	Settings settings;
	settings.devices = row.devices;
	settings.grow_buffer = row.grow_buffer;
	settings.reduce_buffer = row.reduce_buffer;
	settings.delta_size = row.delta_size;
	settings.max_size = row.max_size;
	settings.max_devices = row.max_devices;
	settings.system_swap = row.system_swap;
	settings.kernel_swap_limit = row.kernel_swap_limit;
	return settings;
}

TEST(ChooseResize, Table)
{
	for (const Row &row : rows) {
		Settings settings = settings_of(row);
		EXPECT_EQ(needs_device_use(row.free_swap, settings),
		    row.needs_use)
		    << row.what;
		const Decision decision = choose_resize(row.free_swap, settings,
		    row.areas);
		EXPECT_EQ(decision.resize, row.expected) << row.what;
		EXPECT_EQ(decision.refused_by, row.refused_by) << row.what;
	}
}

/* What a fresh look at the system keeps of our devices in service. */
TEST(ChooseDevicesToKeep, Table)
{
	/* clang-format off */
	const struct {
		const char *what;
		Devices record, serving;
		std::int32_t max_size, max_devices;
		std::vector<int> expected;
	} keeps[] = {
		{ "all that MAX_DEVICES allows, largest first", {},
		    { { 5, 64 }, { 6, 256 }, { 7, 128 } }, 0, 2, { 6, 7 } },
		{ "the largest that fit under MAX_SIZE", {},
		    { { 5, 64 }, { 6, 256 }, { 7, 128 } }, 192, 4, { 7, 5 } },
		{ "a restart under a lower MAX_SIZE", {},
		    { { 5, 64 }, { 6, 64 }, { 7, 64 }, { 8, 64 } }, 128, 4,
		    { 5, 6 } },
		{ "the record's own before larger ones", { { 7, 64 } },
		    { { 5, 256 }, { 7, 64 } }, 0, 1, { 7 } },
		{ "a negative MAX_SIZE keeps none", {}, { { 5, 64 } }, -1, 4,
		    {} },
	};
	/* clang-format on */
	for (auto &row : keeps) {
		Settings settings;
		settings.devices = row.record;
		settings.max_size = row.max_size;
		settings.max_devices = row.max_devices;
		std::vector<int> kept;
		for (auto &device :
		    choose_devices_to_keep(settings, row.serving))
			kept.push_back(device.unit);
		EXPECT_EQ(kept, row.expected) << row.what;
	}
}

/* The file written ahead is the next grow's, while one is allowed. */
TEST(FileAheadSize, Table)
{
	/* clang-format off */
	const struct {
		const char *what;
		Devices devices;
		std::int32_t write_ahead, max_devices, max_size;
		std::int64_t kernel_swap_limit;
		std::int32_t expected;
	} files[] = {
		{ "off by default", one(256), 0, 1, 0, 0, 0 },
		{ "only 1 turns it on", one(256), 2, 1, 0, 0, 0 },
		{ "no device yet: the first step", {}, 1, 1, 0, 0, 256 },
		{ "replacing the only device", one(256), 1, 1, 0, 0, 512 },
		{ "replacing the smallest of a full set",
		  { { 5, 512 }, { 6, 256 } }, 1, 2, 0, 0, 512 },
		{ "a free slot: one step", one(512), 1, 4, 0, 0, 256 },
		{ "MAX_SIZE reached", one(256), 1, 1, 256, 0, 0 },
		{ "MAX_SIZE allows one step more", one(256), 1, 1, 512, 0, 512 },
		{ "the kernel's limit refuses the grow", one(256), 1, 1, 0, 511,
		  0 },
	};
	/* clang-format on */
	for (auto &row : files) {
		Settings settings;
		settings.devices = row.devices;
		settings.write_ahead = row.write_ahead;
		settings.max_devices = row.max_devices;
		settings.max_size = row.max_size;
		settings.system_swap = current_size(settings);
		settings.kernel_swap_limit = row.kernel_swap_limit;
		EXPECT_EQ(file_ahead_size(settings), row.expected) << row.what;
	}
}

/* Once whole, a file ahead leaves at least its own size free beside it. */
TEST(RoomForFileAhead, Table)
{
	/* clang-format off */
	const struct {
		const char *what;
		std::int32_t mib;
		std::int64_t free_mib, held_mib;
		bool expected;
	} rooms[] = {
		{ "none written, room for twice its size", 512, 1024, 0, true },
		{ "none written, one MiB short", 512, 1023, 0, false },
		{ "room for itself alone is not enough", 512, 512, 0, false },
		{ "whole, as much free beside it", 512, 512, 512, true },
		{ "whole, others took the rest", 512, 511, 512, false },
		{ "half written counts what it holds", 512, 768, 256, true },
		{ "a larger one cut down frees room", 256, 100, 512, true },
	};
	/* clang-format on */
	for (auto &row : rooms)
		EXPECT_EQ(room_for_file_ahead(row.mib, row.free_mib,
		              row.held_mib),
		    row.expected)
		    << row.what;
}

/* ENCRYPT 1 encrypts, any other value not; left out, as the system does. */
TEST(ChooseEncryption, Table)
{
	/* clang-format off */
	const struct {
		std::int32_t encrypt;
		bool system_swap_encrypted, expected;
	} choices[] = {
		{ 1, false, true }, { 1, true, true },
		{ 0, true, false }, { 2, true, false },
		{ -1, true, true }, { -1, false, false },
	};
	/* clang-format on */
	for (auto &row : choices)
		EXPECT_EQ(choose_encryption(row.encrypt,
		              row.system_swap_encrypted),
		    row.expected)
		    << row.encrypt << " " << row.system_swap_encrypted;
}

/* QUICK_WAIT while swap runs short and a grow is still allowed. */
TEST(PauseAfter, Table)
{
	/* clang-format off */
	const struct {
		const char *what;
		std::optional<std::int64_t> free_swap;
		std::int32_t quick_wait, wait_time, max_size;
		std::int64_t expected;
	} pauses[] = {
		{ "off by default", 0, 0, 5, 0, 5000 },
		{ "short of swap", 511, 250, 5, 0, 250 },
		{ "twice the floor is not short", 512, 250, 5, 0, 5000 },
		{ "no reading", std::nullopt, 250, 5, 0, 5000 },
		{ "MAX_SIZE allows no more", 0, 250, 5, 256, 5000 },
		{ "never longer than WAIT_TIME", 0, 9000, 2, 0, 2000 },
		{ "WAIT_TIME of 0 or less waits a second", 2000, 250, 0, 0, 1000 },
	};
	/* clang-format on */
	for (auto &row : pauses) {
		Settings settings;
		settings.devices = one(256);
		settings.quick_wait = row.quick_wait;
		settings.wait_time = row.wait_time;
		settings.max_size = row.max_size;
		EXPECT_EQ(pause_after(row.free_swap, settings), row.expected)
		    << row.what;
	}
}

}
