/*
 * Numbers as the configuration file and the probes give them: the one
 * scanner both readers share, and the unit every size is counted in.
 */
#ifndef MORVEND_CORE_NUMBER_H
#define MORVEND_CORE_NUMBER_H

#include <cstdint>
#include <optional>

/* Sizes are MiB: 1024 times 1024 bytes. */
inline constexpr std::int64_t bytes_per_mib = std::int64_t{ 1024 } * 1024;

/*
 * Reads a decimal integer as "%d" does: leading white space, an optional
 * sign, digits; whatever follows is ignored.  No digits, or a number that
 * does not fit 32 bits, yields nothing.
 */
std::optional<std::int32_t> scan_int(const char *text);

#endif
