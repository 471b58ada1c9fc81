/* The log's repeat rule, as a table of cycles and what they tell. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/journal.h"

namespace {

using Lines = std::vector<std::string>;

Lines told;

void
record(Priority priority, const char *message)
{
	told.push_back((priority == Priority::info ? "info: " : "warning: ") +
	    std::string(message));
}

/* A failure as its text, or "" for the end of a cycle. */
struct Row {
	const char *what;
	Lines cycles;
	Lines expected;
};

const std::string swapon_5 = "swapon /dev/md5: exit status 1";
const std::string swapon_9 = "swapon /dev/md9: exit status 1";
const std::string no_room = "cannot write /s (4 MiB): No space left on device";

/* clang-format off */
const Row rows[] = {
	{ "a clean cycle tells nothing", { "", "" }, {} },
	{ "the same failure with another unit is told once",
	  { swapon_5, "", swapon_9, "", "" },
	  { "warning: " + swapon_5, "info: recovered after 2 cycles" } },
	{ "a different failure is told too",
	  { swapon_5, no_room, "", "" },
	  { "warning: " + swapon_5, "warning: " + no_room,
	    "info: recovered after 1 cycle" } },
	{ "after recovery the same failure is new again",
	  { swapon_5, "", "", swapon_9, "" },
	  { "warning: " + swapon_5, "info: recovered after 1 cycle",
	    "warning: " + swapon_9 } },
};
/* clang-format on */

TEST(Journal, ToldOnceARunAndOnceMoreAtItsEnd)
{
	for (const Row &row : rows) {
		Journal journal;
		journal.sink = record;
		told.clear();
		for (const std::string &failure : row.cycles) {
			if (failure.empty())
				journal_cycle_done(journal);
			else
				journal_failure(journal, "%s", failure.c_str());
		}
		EXPECT_EQ(told, row.expected) << row.what;
	}
}

}
