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

#include "core/journal.h"
#include "core/number.h"
#include "core/stdio_file.h"

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
	{ "ENCRYPT", &Settings::encrypt },
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

/*
 * A key whose value is not a number keeps its value, as it always did;
 * the admin is told where ("MAX_SIZE = 768": the separator is one
 * character, so the value is "= 768").
 */
void
apply_line(Settings &settings, const char *line, int number)
{
	if (starts_with(line, swap_file_key)) {
		settings.swap_file = value_after(line, swap_file_key);
		return;
	}
	for (const NumericKey &key : numeric_keys) {
		if (!starts_with(line, key.name))
			continue;
		const char *text = value_after(line, key.name);
		if (auto value = scan_int(text)) {
			settings.*key.field = *value;
		} else {
			char said[512];
			std::snprintf(said, sizeof(said),
			    "%s:%d: %s: \"%.80s\" is not a 32-bit number, "
			    "%d stays",
			    settings.config_file.c_str(), number, key.name,
			    text, settings.*key.field);
			settings.config_warnings.emplace_back(said);
		}
		return;
	}
}

}

void
reload_config(Settings &settings)
{
	const char *file = settings.config_file.c_str();
	Settings fresh;

	fresh.config_file = settings.config_file;
	if (!load_config(fresh)) {
		journal_tell(settings.journal, Priority::warning,
		    "cannot read %s again: the settings in force stay", file);
		return;
	}
	for (const std::string &warning : fresh.config_warnings)
		journal_tell(settings.journal, Priority::warning, "%s",
		    warning.c_str());
	if (fresh.swap_file != settings.swap_file)
		journal_tell(settings.journal, Priority::warning,
		    "SWAP_FILE changed in %s: it takes a restart", file);
	if (fresh.delta_size <= 0) {
		journal_tell(settings.journal, Priority::warning,
		    "DELTA_SIZE is %d in %s: the step in force stays",
		    fresh.delta_size, file);
		fresh.delta_size = settings.delta_size;
	}
	for (const NumericKey &key : numeric_keys)
		settings.*key.field = fresh.*key.field;
	set_journal(settings.journal, settings.use_syslog);
	journal_tell(settings.journal, Priority::info, "reloaded %s", file);
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

	/* A piece of a longer line carries the number of the line. */
	for (int number = 1;
	     std::fgets(piece, sizeof(piece), file.get()) != nullptr;) {
		char *newline = std::strchr(piece, '\n');
		if (newline != nullptr)
			*newline = '\0';
		apply_line(settings, piece, number);
		number += newline != nullptr;
	}
	return !settings.swap_file.empty();
}
