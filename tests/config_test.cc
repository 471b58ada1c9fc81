/* The configuration file, read from real files. */
#include <gtest/gtest.h>

#include <climits>

#include "daemon/config.h"
#include "tests/testbed.h"

namespace {

/* What a file sets; a field left out keeps its default. */
struct Expect {
	std::optional<std::string> swap_file = {};
	std::optional<std::int32_t> grow_buffer = {}, reduce_buffer = {},
	                            delta_size = {}, wait_time = {},
	                            max_size = {}, use_syslog = {},
	                            quick_wait = {}, max_devices = {},
	                            write_ahead = {}, encrypt = {};
};

struct Row {
	const char *what;
	std::string text;
	Expect expect;
};

/* The file read; load_config says whether the row leaves a swap file. */
Settings
load(const SimHost &host, const Row &row)
{
	Settings settings;
	settings.config_file = host.path("morvend.conf");
	write_file(settings.config_file, row.text);
	const bool swap_file_expected =
	    !row.expect.swap_file.value_or(default_swap_file).empty();
	EXPECT_EQ(load_config(settings), swap_file_expected) << row.what;
	return settings;
}

/* Each number the file may set, and where a row expects it. */
/* clang-format off */
constexpr struct {
	std::int32_t Settings::*field;
	std::optional<std::int32_t> Expect::*expected;
} numbers[] = {
	{ &Settings::grow_buffer, &Expect::grow_buffer },
	{ &Settings::reduce_buffer, &Expect::reduce_buffer },
	{ &Settings::delta_size, &Expect::delta_size },
	{ &Settings::wait_time, &Expect::wait_time },
	{ &Settings::max_size, &Expect::max_size },
	{ &Settings::use_syslog, &Expect::use_syslog },
	{ &Settings::quick_wait, &Expect::quick_wait },
	{ &Settings::max_devices, &Expect::max_devices },
	{ &Settings::write_ahead, &Expect::write_ahead },
	{ &Settings::encrypt, &Expect::encrypt },
};
/* clang-format on */

void
check(const Row &row, const Settings &s)
{
	const Settings d;
	const Expect &e = row.expect;
	EXPECT_EQ(s.swap_file, e.swap_file.value_or(d.swap_file)) << row.what;
	for (auto &number : numbers)
		EXPECT_EQ(s.*number.field,
		    (e.*number.expected).value_or(d.*number.field))
		    << row.what << ", field " << &number - numbers;
}

TEST(Config, Separator)
{
	SimHost host;
	/* clang-format off */
	const Row rows[] = {
		{ "equals sign", "MAX_SIZE=768\n", {.max_size = 768} },
		{ "blank", "MAX_SIZE 768\n", {.max_size = 768} },
		{ "no separator: the 7 is one", "MAX_SIZE768\n", {.max_size = 68} },
		{ "blank, equals sign", "GROW_BUFFER = 512\n", {} },
		{ "equals sign, blank", "GROW_BUFFER= 512\n", {.grow_buffer = 512} },
		{ "path keeps all after one character",
		  "SWAP_FILE = /s/w\n", {.swap_file = "= /s/w"} },
		{ "a letter as separator", "SWAP_FILEx/s/w\n", {.swap_file = "/s/w"} },
		{ "tab", "WAIT_TIME\t9\n", {.wait_time = 9} },
	};
	/* clang-format on */
	for (const Row &row : rows)
		check(row, load(host, row));
}

TEST(Config, KeysAndValues)
{
	SimHost host;
	/* clang-format off */
	const Row rows[] = {
		{ "every key", "SWAP_FILE /a b\nGROW_BUFFER 1\nREDUCE_BUFFER 2\n"
		  "DELTA_SIZE 3\nWAIT_TIME 4\nMAX_SIZE 5\nSYSLOG 1\n"
		  "QUICK_WAIT 6\nMAX_DEVICES 7\nWRITE_AHEAD 1\nENCRYPT 1\n",
		  {"/a b", 1, 2, 3, 4, 5, 1, 6, 7, 1, 1} },
		{ "ENCRYPT 0 is plain; left out, -1, as the system's swap",
		  "ENCRYPTED 1\nENCRYPT=0\n", {.encrypt = 0} },
		{ "no key swallows another: MAX_ and WAIT_",
		  "MAX_DEVICES=4\nMAX_SIZE=9\nQUICK_WAIT:250\nWAIT_TIME 3\n",
		  {.wait_time = 3, .max_size = 9, .quick_wait = 250, .max_devices = 4} },
		{ "the new keys by prefix, as the others",
		  "MAX_DEVICES16\nQUICK_WAIT_TIME 9\n", {.max_devices = 6} },
		{ "WRITE_AHEAD by prefix; the last line wins",
		  "WRITE_AHEAD_FILES 1\nWRITE_AHEAD=1\nWRITE_AHEAD 0 # off\n",
		  {.write_ahead = 0} },
		{ "WRITE_AHEAD by prefix, a letter as separator",
		  "WRITE_AHEADx1\n", {.write_ahead = 1} },
		{ "SYSLOG is read as the other numbers are",
		  "SYSLOG=1 # on\nSYSLOGGING 1\n", {.use_syslog = 1} },
		{ "lower case and indented keys are comments",
		  "max_size 5\n MAX_SIZE 5\n# MAX_SIZE 5\n\n", {} },
		{ "prefix match", "DELTA_SIZES8\nREDUCE_BUFFERING 9\n",
		  {.delta_size = 8} },
		{ "last converting value wins",
		  "WAIT_TIME 3\nWAIT_TIME x\nSWAP_FILE /a\nSWAP_FILE /b\n",
		  {.swap_file = "/b", .wait_time = 3} },
		{ "signs and carriage returns",
		  "DELTA_SIZE -5\r\nMAX_SIZE +7\r\nSWAP_FILE /x\r\n",
		  {.swap_file = "/x\r", .delta_size = -5, .max_size = 7} },
		{ "beyond 32 bits does not convert",
		  "MAX_SIZE 2147483648\nGROW_BUFFER -2147483649\n"
		  "WAIT_TIME 2147483647\n", {.wait_time = INT32_MAX} },
		{ "a bare key at the end without newline",
		  "SWAP_FILE /a/much/longer/path/than/the/last/line\n"
		  "WAIT_TIME 7\nWAIT_TIME", {.swap_file = "/a/much/longer/path/"
		  "than/the/last/line", .wait_time = 7} },
		{ "a bare SWAP_FILE at the end without newline",
		  "SWAP_FILE /a/much/longer/path\nSWAP_FILE", {.swap_file = ""} },
		{ "NUL ends the line's text", std::string("MAX_SIZE 1\0 9\nWAIT_TIME 2\n", 25),
		  {.wait_time = 2, .max_size = 1} },
		{ "empty file", "", {} },
	};
	/* clang-format on */
	for (const Row &row : rows)
		check(row, load(host, row));
}

/*
 * What the start says of a value that is no number: the file, the line,
 * the key, the value as read, and what stays.  A key matched by prefix
 * counts: "REDUCE_BUFFERING 9" sets REDUCE_BUFFER to "NG 9".
 */
TEST(Config, ValuesThatAreNoNumberAreTold)
{
	SimHost host;
	/* clang-format off */
	const struct {
		std::string text;
		std::vector<std::string> said;
	} rows[] = {
		{ "GROW_BUFFER = 512\n",
		  { "FILE:1: GROW_BUFFER: \"= 512\" is not a 32-bit number, 256 stays" } },
		{ "WAIT_TIME 3\nWAIT_TIME x\n",
		  { "FILE:2: WAIT_TIME: \"x\" is not a 32-bit number, 3 stays" } },
		{ "MAX_SIZE 2147483648\nGROW_BUFFER -2147483649\n",
		  { "FILE:1: MAX_SIZE: \"2147483648\" is not a 32-bit number, 0 stays",
		    "FILE:2: GROW_BUFFER: \"-2147483649\" is not a 32-bit number, 256 stays" } },
		{ "# comment\nREDUCE_BUFFERING 9\n",
		  { "FILE:2: REDUCE_BUFFER: \"NG 9\" is not a 32-bit number, 1024 stays" } },
		{ std::string(300, '#') + "\nWAIT_TIME", /* a long line is one */
		  { "FILE:2: WAIT_TIME: \"\" is not a 32-bit number, 5 stays" } },
		{ "MAX_SIZE 768\nSYSLOG=1 # on\n", {} },
	};
	/* clang-format on */
	for (auto &row : rows) {
		Settings settings;
		settings.config_file = host.path("morvend.conf");
		write_file(settings.config_file, row.text);
		load_config(settings);
		std::vector<std::string> said;
		for (std::string line : settings.config_warnings)
			said.push_back(line.replace(0,
			    settings.config_file.size(), "FILE"));
		EXPECT_EQ(said, row.said) << row.text;
	}
}

/* Lines are read in pieces of 255 bytes; the rest is a line of its own. */
TEST(Config, LongLines)
{
	SimHost host;
	const std::string p245(245, 'p');
	/* clang-format off */
	const Row rows[] = {
		{ "255 characters keep the whole path",
		  "SWAP_FILE " + p245 + "\n", {.swap_file = p245} },
		{ "256 characters lose one",
		  "SWAP_FILE " + p245 + "q\n", {.swap_file = p245} },
		{ "the rest of a long line can set a key",
		  "SWAP_FILE " + p245 + "MAX_SIZE 9\n", {.swap_file = p245, .max_size = 9} },
		{ "a long comment line",
		  std::string(255, '#') + "WAIT_TIME 6\n" + std::string(3000, 'x') +
		  "\nDELTA_SIZE 1\n", {.delta_size = 1, .wait_time = 6} },
	};
	/* clang-format on */
	for (const Row &row : rows)
		check(row, load(host, row));
}

/*
 * The shipped sample spells out the defaults of the keys it sets, turns on
 * the three that keep up with fast growth and SYSLOG, each with its
 * default in its comment; every field starts poisoned, so a key the
 * reader skipped shows.
 */
TEST(Config, SampleSetsEveryKey)
{
	const Settings d;
	/* clang-format off */
	const struct {
		const char *key;
		std::int32_t Settings::*field;
		std::optional<std::int32_t> value; /* none: commented out */
	} keys[] = {
		{ "GROW_BUFFER", &Settings::grow_buffer, d.grow_buffer },
		{ "REDUCE_BUFFER", &Settings::reduce_buffer, d.reduce_buffer },
		{ "DELTA_SIZE", &Settings::delta_size, d.delta_size },
		{ "WAIT_TIME", &Settings::wait_time, d.wait_time },
		{ "MAX_SIZE", &Settings::max_size, d.max_size },
		{ "QUICK_WAIT", &Settings::quick_wait, 250 },
		{ "MAX_DEVICES", &Settings::max_devices, 8 },
		{ "WRITE_AHEAD", &Settings::write_ahead, 1 },
		{ "ENCRYPT", &Settings::encrypt, std::nullopt },
		{ "SYSLOG", &Settings::use_syslog, 1 },
	};
	/* clang-format on */
	const std::string sample = read_file(SAMPLE_CONFIG);
	Settings settings;
	settings.config_file = SAMPLE_CONFIG;
	settings.swap_file.clear();
	for (auto &key : keys)
		settings.*key.field = -99;

	ASSERT_TRUE(load_config(settings));
	EXPECT_EQ(settings.swap_file, d.swap_file);
	for (auto &key : keys) {
		EXPECT_EQ(settings.*key.field, key.value.value_or(-99))
		    << key.key;
		const std::string commented = std::string("\n#") + key.key +
		    " ";
		EXPECT_EQ(sample.find(commented) != std::string::npos,
		    !key.value)
		    << key.key << " is not there to uncomment";
		/* An admin sees what leaving the key out would give. */
		if (key.value && *key.value != d.*key.field) {
			const std::string said = "Default: " +
			    std::to_string(d.*key.field) + ", ";
			const std::size_t line = sample.find(
			    std::string("\n") + key.key + " ");
			const std::size_t comment = sample.rfind("\n\n", line);
			EXPECT_NE(sample.substr(comment, line - comment)
			              .find(said),
			    std::string::npos)
			    << key.key << "'s comment does not say its default";
		}
	}
}

TEST(Config, UnreadableFilesLeaveTheDefaults)
{
	SimHost host;
	/* clang-format off */
	const struct {
		std::string path;
		bool opened;
	} rows[] = {
		{ host.path("missing"), false },
		{ "", false },
		{ host.path("swap"), true },	/* a directory: nothing to read */
	};
	/* clang-format on */
	for (auto &row : rows) {
		Settings settings;
		settings.config_file = row.path;
		EXPECT_EQ(load_config(settings), row.opened) << row.path;
		check({ row.path.c_str(), "", {} }, settings);
	}
}

}
