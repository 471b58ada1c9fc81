/*
 * The one place that talks to the shell.  Every command line the daemon
 * runs is built here, with the swap file's path quoted for sh, and run by
 * the three functions below.
 */
#ifndef MORVEND_SWAP_SHELL_H
#define MORVEND_SWAP_SHELL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/journal.h"

/* The longest command line the daemon runs; a longer one is refused. */
inline constexpr std::size_t command_line_max = 1023;

inline constexpr const char total_swap_command[] =
    "swapctl -s -m | awk '{ print $2 }'";
inline constexpr const char used_swap_command[] =
    "swapctl -s -m | awk '{ print $3 }'";
/* Which devices are in service as swap, and which memory disks exist. */
inline constexpr const char swap_devices_command[] = "swapctl -l -m";
inline constexpr const char memory_disks_command[] = "mdconfig -l -v";
/* How much swap the kernel can track, in pages, and a page's size. */
inline constexpr const char kernel_swap_limit_command[] =
    "sysctl -n vm.swap_maxpages hw.pagesize";

/*
 * A command line in a buffer of its own: building one takes no memory from
 * the heap, so it cannot fail when the machine is short of it.
 */
class CommandLine {
public:
	CommandLine &text(std::string_view text);
	/* One word for sh, whatever it holds. */
	CommandLine &quoted(std::string_view word);
	CommandLine &number(long long number);

	const char *c_str() const { return text_; }
	bool fits() const { return fits_; }

private:
	char text_[command_line_max + 1] = {};
	std::size_t length_ = 0;
	bool fits_ = true;
};

CommandLine attach_command(std::string_view file, int unit);
/* The device's node: /dev/mdN, or /dev/mdN.eli for geli's layer. */
CommandLine activate_command(int unit, bool encrypted);
CommandLine deactivate_command(int unit, bool encrypted);
CommandLine detach_command(int unit);

/*
 * The three ways to run a command.  Each tells the journal when the
 * command could not run, failed or printed nothing usable.
 */

/* True when the command line ran and exited with status 0. */
bool run_command(Journal &journal, const CommandLine &command);

/* The number on the first line of a command's output, if there is one. */
std::optional<std::int32_t> read_number(Journal &journal, const char *command);

/*
 * A command's whole output, when it ran and exited with status 0; nothing
 * otherwise, also when there was no memory to hold the output.
 */
std::optional<std::string> read_output(Journal &journal, const char *command);

#endif
