#include "swap/shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "core/settings.h"

namespace {

struct PipeCloser {
	void operator()(FILE *pipe) const { pclose(pipe); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

bool
exited_zero(int status)
{
	return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

CommandLine
unit_command(std::string_view prefix, int unit)
{
	return CommandLine().text(prefix).number(unit);
}

}

CommandLine &
CommandLine::text(std::string_view text)
{
	for (char c : text) {
		if (length_ == command_line_max) {
			fits_ = false;
			break;
		}
		text_[length_++] = c;
	}
	text_[length_] = '\0';
	return *this;
}

CommandLine &
CommandLine::quoted(std::string_view word)
{
	/* Inside single quotes only the quote itself needs care. */
	text("'");
	for (std::size_t start = 0, quote; start <= word.size(); start = quote + 1) {
		quote = word.find('\'', start);
		if (quote == std::string_view::npos)
			quote = word.size();
		text(word.substr(start, quote - start));
		if (quote < word.size())
			text("'\\''");
	}
	return text("'");
}

CommandLine &
CommandLine::number(long long number)
{
	char digits[24];

	std::snprintf(digits, sizeof(digits), "%lld", number);
	return text(digits);
}

CommandLine
attach_command(std::string_view file, int unit)
{
	return CommandLine().text("mdconfig -a -t vnode -f ").quoted(file)
	    .text(" -u ").number(unit);
}

CommandLine
activate_command(int unit)
{
	return unit_command("swapon /dev/md", unit);
}

CommandLine
deactivate_command(int unit)
{
	return unit_command("swapoff /dev/md", unit);
}

CommandLine
detach_command(int unit)
{
	return unit_command("mdconfig -d -u ", unit);
}

bool
run_command(const CommandLine &command)
{
	return command.fits() && exited_zero(std::system(command.c_str()));
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

std::optional<std::string>
read_output(const char *command)
{
	char chunk[512];
	std::string output;
	FILE *pipe = popen(command, "r");

	if (pipe == nullptr)
		return std::nullopt;
	bool complete = true;
	try {
		for (std::size_t n; (n = std::fread(chunk, 1, sizeof(chunk),
		    pipe)) > 0;)
			output.append(chunk, n);
	} catch (const std::bad_alloc &) {
		complete = false;
	}
	if (!exited_zero(pclose(pipe)) || !complete)
		return std::nullopt;
	return output;
}
