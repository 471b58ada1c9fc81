/*
 * The configuration file: KEY, one separator character of any kind, value.
 * Keys are matched by prefix at the start of a line; any other line is a
 * comment.  Lines are read in pieces of at most 255 bytes, so a longer line
 * goes on as a line of its own.
 */
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "daemon/config.h"
#include "core/stdio_file.h"
#include "core/number.h"

namespace {

struct NumericKey {
	const char *name;
	std::int32_t Settings::*field;
};

constexpr const char swap_file_key[] = "SWAP_FILE";

constexpr NumericKey numeric_keys[] = {
	{ "GROW_BUFFER", &Settings::grow_buffer },
	{ "REDUCE_BUFFER", &Settings::reduce_buffer },
	{ "DELTA_SIZE", &Settings::delta_size },
	{ "WAIT_TIME", &Settings::wait_time },
	{ "MAX_SIZE", &Settings::max_size },
	{ "SYSLOG", &Settings::use_syslog },
	{ "QUICK_WAIT", &Settings::quick_wait },
	{ "MAX_DEVICES", &Settings::max_devices },
	{ "WRITE_AHEAD", &Settings::write_ahead },
};

/* The value starts one past the key, but never past the end of the line. */
const char *
value_after(const char *line, const char *key)
{
	std::size_t start = std::strlen(key) + 1;

	return line + std::min(start, std::strlen(line));
}

bool
starts_with(const char *line, const char *key)
{
	return std::strncmp(line, key, std::strlen(key)) == 0;
}

void
apply_line(Settings &settings, const char *line)
{
	if (starts_with(line, swap_file_key)) {
		settings.swap_file = value_after(line, swap_file_key);
		return;
	}
	for (const NumericKey &key : numeric_keys) {
		if (starts_with(line, key.name)) {
			if (auto value = scan_int(value_after(line, key.name)))
				settings.*key.field = *value;
			return;
		}
	}
}

}

bool
load_config(Settings &settings)
{
	char piece[256];

	if (settings.config_file.empty())
		return false;
	StdioFile file(std::fopen(settings.config_file.c_str(), "r"));
	if (!file)
		return false;

	while (std::fgets(piece, sizeof(piece), file.get()) != nullptr) {
		if (char *newline = std::strchr(piece, '\n'))
			*newline = '\0';
		apply_line(settings, piece);
	}
	return !settings.swap_file.empty();
}
