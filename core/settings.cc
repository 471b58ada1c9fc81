#include "core/settings.h"

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
