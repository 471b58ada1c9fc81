#include "swap/shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/settings.h"

namespace {

struct PipeCloser {
	void operator()(FILE *pipe) const { pclose(pipe); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

std::string
unit_command(const char *prefix, int unit)
{
	return prefix + std::to_string(unit);
}

}

std::string
shell_quote(std::string_view word)
{
	std::string quoted = "'";

	for (char c : word) {
		if (c == '\'')
			quoted += "'\\''";
		else
			quoted += c;
	}
	return quoted + "'";
}

std::string
attach_command(std::string_view file, int unit)
{
	return "mdconfig -a -t vnode -f " + shell_quote(file) + " -u " +
	    std::to_string(unit);
}

std::string
activate_command(int unit)
{
	return unit_command("swapon /dev/md", unit);
}

std::string
deactivate_command(int unit)
{
	return unit_command("swapoff /dev/md", unit);
}

std::string
detach_command(int unit)
{
	return unit_command("mdconfig -d -u ", unit);
}

bool
run_command(const std::string &command)
{
	if (command.size() > command_line_max)
		return false;
	int status = std::system(command.c_str());
	return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<std::int32_t>
read_number(const char *command)
{
	char line[512];
	Pipe pipe(popen(command, "r"));

	if (!pipe || std::fgets(line, sizeof(line), pipe.get()) == nullptr)
		return std::nullopt;
	return scan_int(line);
}
