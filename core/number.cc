#include "core/number.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

std::optional<std::int32_t>
scan_int(const char *text)
{
	char *end;
	long value;

	errno = 0;
	value = std::strtol(text, &end, 10);
	if (end == text || errno == ERANGE || value < INT32_MIN ||
	    value > INT32_MAX)
		return std::nullopt;
	return static_cast<std::int32_t>(value);
}
