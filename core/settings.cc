#include "core/settings.h"

#include <new>

std::int64_t
current_size(const Settings &settings)
{
	std::int64_t sum = 0;

	for (const SwapDevice &device : settings.devices)
		sum += device.mib;
	return sum;
}

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
