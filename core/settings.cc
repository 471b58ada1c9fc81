#include "core/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

void
settings_destroy(Settings *settings)
{
	delete settings;
}

SettingsRecord
settings_create()
{
	Settings *settings;

	/* The default paths are copied too; keep bad_alloc from escaping. */
	try {
		settings = new Settings;
	} catch (const std::bad_alloc &) {
		settings = nullptr;
	}
	return SettingsRecord(settings, &settings_destroy);
}

std::optional<std::int32_t>
scan_int(const char *text)
{
	char *end;
	long value;

	errno = 0;
	value = std::strtol(text, &end, 10);
	if (end == text || errno == ERANGE || value < INT32_MIN ||
	    value > INT32_MAX)
		return std::nullopt;
	return static_cast<std::int32_t>(value);
}
