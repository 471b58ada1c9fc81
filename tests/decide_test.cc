/* The resize policy, as a table of readings and settings. */
#include <gtest/gtest.h>

#include <climits>

#include "swap/policy.h"

namespace {

struct Row {
	const char		*what;
	std::int64_t		 free_swap;
	std::int32_t		 current_size;
	std::int32_t		 grow_buffer = 256;
	std::int32_t		 reduce_buffer = 1024;
	std::int32_t		 delta_size = 256;
	std::int32_t		 max_size = 0;
	std::optional<Resize>	 expected;
};

constexpr auto none = std::nullopt;
constexpr auto grow = Direction::grow;
constexpr auto shrink = Direction::shrink;

const Row rows[] = {
	{ .what = "just below the floor",
	  .free_swap = 255, .current_size = 0,
	  .expected = Resize{ grow, 256 } },
	{ .what = "equal to the floor",
	  .free_swap = 256, .current_size = 0,
	  .expected = none },
	{ .what = "equal to the floor, owning swap",
	  .free_swap = 256, .current_size = 512,
	  .expected = none },
	{ .what = "equal to the ceiling",
	  .free_swap = 1024, .current_size = 512,
	  .expected = none },
	{ .what = "just above the ceiling",
	  .free_swap = 1025, .current_size = 512,
	  .expected = Resize{ shrink, 256 } },
	{ .what = "above the ceiling, owning nothing",
	  .free_swap = 1025, .current_size = 0,
	  .expected = none },
	{ .what = "huge free swap, owning nothing",
	  .free_swap = INT32_MAX, .current_size = 0,
	  .expected = none },
	{ .what = "no swap at all",
	  .free_swap = 0, .current_size = 0,
	  .expected = Resize{ grow, 256 } },
	{ .what = "a floor above the ceiling grows first",
	  .free_swap = 600, .current_size = 512, .grow_buffer = 1024, .reduce_buffer = 256,
	  .expected = Resize{ grow, 768 } },
	{ .what = "negative free swap",
	  .free_swap = -5, .current_size = 0, .grow_buffer = 0,
	  .expected = Resize{ grow, 256 } },
	{ .what = "beyond 32 bits",
	  .free_swap = std::int64_t{INT32_MAX} + 10, .current_size = 1,
	  .expected = Resize{ shrink, 0 } },
	{ .what = "a shrink by more than we own ends at none",
	  .free_swap = 2000, .current_size = 100,
	  .expected = Resize{ shrink, 0 } },
	{ .what = "growth that lands on MAX_SIZE",
	  .free_swap = 0, .current_size = 256, .max_size = 512,
	  .expected = Resize{ grow, 512 } },
	{ .what = "growth past MAX_SIZE, even by one",
	  .free_swap = 0, .current_size = 257, .max_size = 512,
	  .expected = none },
	{ .what = "a negative MAX_SIZE refuses all growth",
	  .free_swap = 0, .current_size = 0, .max_size = -1,
	  .expected = none },
	{ .what = "MAX_SIZE never holds back a shrink",
	  .free_swap = 2000, .current_size = 1024, .max_size = 512,
	  .expected = Resize{ shrink, 768 } },
	{ .what = "growth past 32 bits",
	  .free_swap = 0, .current_size = INT32_MAX - 2, .delta_size = 4,
	  .expected = none },
};

TEST(ChooseResize, Table)
{
	for (const Row &row : rows) {
		Settings settings;
		settings.current_size = row.current_size;
		settings.grow_buffer = row.grow_buffer;
		settings.reduce_buffer = row.reduce_buffer;
		settings.delta_size = row.delta_size;
		settings.max_size = row.max_size;
		auto got = choose_resize(row.free_swap, settings);
		EXPECT_EQ(got, row.expected) << row.what;
	}
}

}
