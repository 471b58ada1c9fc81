/* Any bytes at all as a configuration file. */
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "daemon/config.h"
#include "core/settings.h"

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	static const std::string path = "/tmp/morvend-config-fuzz." +
	    std::to_string(getpid());
	FILE *file = std::fopen(path.c_str(), "wb");

	if (file == nullptr)
		std::abort();
	std::fwrite(data, 1, size, file);
	std::fclose(file);

	Settings settings;
	settings.config_file = path;
	bool has_swap_file = load_config(settings);
	if (has_swap_file == settings.swap_file.empty() ||
	    settings.swap_file.size() > 245 ||
	    settings.swap_file.find('\n') != std::string::npos ||
	    current_size(settings) != 0 || !settings.stale_devices.empty())
		std::abort();
	unlink(path.c_str());
	return 0;
}
