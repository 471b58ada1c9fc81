/*
 * The one place that talks to the shell.  Every command line the daemon
 * runs is built here, with the swap file's path quoted for sh.
 */
#ifndef MORVEND_SWAP_SHELL_H
#define MORVEND_SWAP_SHELL_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/* A longer command line is not run at all: a cut one could do anything. */
inline constexpr std::size_t command_line_max = 1023;

inline constexpr const char total_swap_command[] =
    "swapctl -s -m | awk '{ print $2 }'";
inline constexpr const char used_swap_command[] =
    "swapctl -s -m | awk '{ print $3 }'";

std::string shell_quote(std::string_view word);
std::string attach_command(std::string_view file, int unit);
std::string activate_command(int unit);
std::string deactivate_command(int unit);
std::string detach_command(int unit);

/* True when the command line ran and exited with status 0. */
bool run_command(const std::string &command);

/* The number on the first line of a command's output, if there is one. */
std::optional<std::int32_t> read_number(const char *command);

#endif
