/* The grow/shrink decision, as a table of readings and settings. */
#include <gtest/gtest.h>

#include <climits>

#include "core/settings.h"

namespace {

struct Row {
	const char		*what;
	std::int64_t		 free_swap;
	std::int32_t		 current_size;
	std::int32_t		 grow_buffer;
	std::int32_t		 reduce_buffer;
	std::optional<Direction> expected;
};

const Row rows[] = {
	{ "just below the floor", 255, 0, 256, 1024, GROW },
	{ "equal to the floor", 256, 0, 256, 1024, std::nullopt },
	{ "equal to the floor, owning swap", 256, 512, 256, 1024, std::nullopt },
	{ "equal to the ceiling", 1024, 512, 256, 1024, std::nullopt },
	{ "just above the ceiling", 1025, 512, 256, 1024, SHRINK },
	{ "above the ceiling, owning nothing", 1025, 0, 256, 1024, std::nullopt },
	{ "huge free swap, owning nothing", INT32_MAX, 0, 256, 1024, std::nullopt },
	{ "no swap at all", 0, 0, 256, 1024, GROW },
	{ "a floor above the ceiling grows first", 600, 512, 1024, 256, GROW },
	{ "negative free swap", -5, 0, 0, 1024, GROW },
	{ "beyond 32 bits", std::int64_t{INT32_MAX} + 10, 1, 256, 1024, SHRINK },
};

TEST(ChooseResize, Table)
{
	for (const Row &row : rows) {
		Settings settings;
		settings.current_size = row.current_size;
		settings.grow_buffer = row.grow_buffer;
		settings.reduce_buffer = row.reduce_buffer;
		EXPECT_EQ(choose_resize(row.free_swap, settings), row.expected)
		    << row.what;
	}
}

TEST(Settings, FreshRecordOwnsNoSwap)
{
	SettingsRecord settings = settings_create();

	ASSERT_TRUE(settings);
	EXPECT_EQ(settings->current_size, 0);
	EXPECT_EQ(settings->md_unit, -1);
	EXPECT_EQ(settings->swap_file, "/usr/swap/swap0");
	EXPECT_EQ(settings->config_file, MORVEND_CONFIG_FILE);
	EXPECT_EQ(settings->grow_buffer, 256);
	EXPECT_EQ(settings->reduce_buffer, 1024);
	EXPECT_EQ(settings->delta_size, 256);
	EXPECT_EQ(settings->wait_time, 5);
	EXPECT_EQ(settings->max_size, 0);
}

}
