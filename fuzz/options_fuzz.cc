/* Any argument vector: the bytes split at NUL into arguments. */
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "daemon/options.h"

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string> args{ "morvend" };
	std::vector<char *> argv;

	args.emplace_back();
	for (std::size_t i = 0; i < size; i++) {
		if (data[i] == '\0')
			args.emplace_back();
		else
			args.back() += static_cast<char>(data[i]);
	}
	for (auto &arg : args)
		argv.push_back(arg.data());
	argv.push_back(nullptr);

	Settings settings;
	parse_options(settings, static_cast<int>(args.size()), argv.data());
	for (int flag : { settings.daemon_mode, settings.show_help,
	         settings.show_version, settings.write_pid })
		if (flag != 0 && flag != 1)
			std::abort();
	return 0;
}
