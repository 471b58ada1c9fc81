#include "swap/shell.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "core/number.h"
#include "core/stdio_file.h"

namespace {

/* A command's output, read through popen(3); closing yields its status. */
class Pipe {
public:
	explicit Pipe(const char *command) : file_(popen(command, "r")) {}
	~Pipe() { close(); }
	Pipe(const Pipe &) = delete;
	Pipe &operator=(const Pipe &) = delete;

	FILE *get() const { return file_; }
	explicit operator bool() const { return file_ != nullptr; }
	/* The command's status as pclose(3) gives it; -1 if never opened. */
	int close()
	{
		return file_ ? pclose(std::exchange(file_, nullptr)) : -1;
	}

private:
	FILE *file_;
};

bool
exited_zero(int status)
{
	return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/*
 * Tells the journal what became of a command that did not exit 0, with
 * the first line the tool said on standard error, if any.
 */
void
tell_status(Journal &journal, const char *command, int status,
    const std::string &said = "")
{
	if (status == -1)
		journal_failure(journal, "%s: cannot run: %s", command,
		    std::strerror(errno));
	else if (WIFSIGNALED(status))
		journal_failure(journal, "%s: killed by signal %d", command,
		    WTERMSIG(status));
	else if (!said.empty())
		journal_failure(journal, "%s: exit status %d: %s", command,
		    WEXITSTATUS(status), said.c_str());
	else
		journal_failure(journal, "%s: exit status %d", command,
		    WEXITSTATUS(status));
}

/* The most of a tool's standard error that goes into a log line. */
constexpr std::size_t said_max = 200;

/*
 * What a tool wrote to its standard error (an unnamed temporary file, which
 * never blocks it, however much it says).  Without a log it is passed on
 * to the daemon's own standard error, where it went before; the first line
 * is returned for the log line of a failure.
 */
std::string
first_line_said(Journal &journal, FILE *said)
{
	char text[said_max + 1] = {};
	std::string line;

	std::rewind(said);
	if (journal.sink == nullptr) {
		for (std::size_t n;
		     (n = std::fread(text, 1, said_max, said)) > 0;)
			std::fwrite(text, 1, n, stderr);
		std::rewind(said);
	}
	if (std::fgets(text, sizeof(text), said) != nullptr)
		line.assign(text, std::strcspn(text, "\r\n"));
	return line;
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
	for (std::size_t start = 0, quote; start <= word.size();
	     start = quote + 1) {
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
	return CommandLine()
	    .text("mdconfig -a -t vnode -f ")
	    .quoted(file)
	    .text(" -u ")
	    .number(unit);
}

CommandLine
activate_command(int unit, bool encrypted)
{
	return unit_command("swapon /dev/md", unit)
	    .text(encrypted ? ".eli" : "");
}

CommandLine
deactivate_command(int unit, bool encrypted)
{
	return unit_command("swapoff /dev/md", unit)
	    .text(encrypted ? ".eli" : "");
}

CommandLine
detach_command(int unit)
{
	return unit_command("mdconfig -d -u ", unit);
}

bool
run_command(Journal &journal, const CommandLine &command)
{
	if (!command.fits()) {
		journal_failure(journal, "%s...: command line too long",
		    command.c_str());
		return false;
	}
	/* The tool's standard error, for the log line of its failure. */
	StdioFile said(std::tmpfile());
	CommandLine captured = command;
	if (said)
		captured.text(" 2>&").number(fileno(said.get()));
	int status = std::system(
	    said && captured.fits() ? captured.c_str() : command.c_str());
	const std::string line = said ? first_line_said(journal, said.get()) :
	                                "";
	if (exited_zero(status))
		return true;
	tell_status(journal, command.c_str(), status, line);
	return false;
}

std::optional<std::int32_t>
read_number(Journal &journal, const char *command)
{
	char line[512];
	Pipe pipe(command);

	if (!pipe) {
		tell_status(journal, command, -1);
		return std::nullopt;
	}
	std::optional<std::int32_t> number;
	if (std::fgets(line, sizeof(line), pipe.get()) != nullptr)
		number = scan_int(line);
	if (!number)
		journal_failure(journal, "%s: printed no number", command);
	return number;
}

std::optional<std::string>
read_output(Journal &journal, const char *command)
{
	char chunk[512];
	std::string output;
	Pipe pipe(command);

	if (!pipe) {
		tell_status(journal, command, -1);
		return std::nullopt;
	}
	bool complete = true;
	try {
		for (std::size_t n;
		     (n = std::fread(chunk, 1, sizeof(chunk), pipe.get())) > 0;)
			output.append(chunk, n);
	} catch (const std::bad_alloc &) {
		complete = false;
	}
	int status = pipe.close();
	if (!exited_zero(status)) {
		tell_status(journal, command, status);
		return std::nullopt;
	}
	if (!complete) {
		journal_failure(journal, "%s: no memory for its output",
		    command);
		return std::nullopt;
	}
	return output;
}
