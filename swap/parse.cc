/*
 * The pure parsers: numbers as "%d" reads them, and the two listings as
 * swapctl and mdconfig print them.
 */
#include "swap/parse.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

namespace {

/* The next line of text, without its newline; false at the end. */
bool
next_line(std::string_view &text, std::string_view &line)
{
	if (text.empty())
		return false;
	std::size_t end = std::min(text.find('\n'), text.size());
	line = text.substr(0, end);
	text.remove_prefix(std::min(end + 1, text.size()));
	return true;
}

/* The next field up to a separator, which is consumed too. */
std::string_view
next_field(std::string_view &line, char separator)
{
	std::size_t end = std::min(line.find(separator), line.size());
	std::string_view field = line.substr(0, end);
	line.remove_prefix(std::min(end + 1, line.size()));
	return field;
}

/* A whole field of decimal digits, within 32 bits. */
std::optional<std::int32_t>
whole_number(std::string_view field)
{
	std::int32_t value;
	const char *end = field.data() + field.size();

	if (field.empty() || field[0] < '0' || field[0] > '9')
		return std::nullopt;
	auto [stop, error] = std::from_chars(field.data(), end, value);
	if (error != std::errc() || stop != end)
		return std::nullopt;
	return value;
}

/* The unit of a name such as "md5" or "/dev/md5". */
std::optional<std::int32_t>
unit_of(std::string_view name, std::string_view prefix)
{
	if (!name.starts_with(prefix))
		return std::nullopt;
	return whole_number(name.substr(prefix.size()));
}

/* The next word of a line whose words are set apart by blanks. */
std::string_view
next_word(std::string_view &line)
{
	line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
	return next_field(line, ' ');
}

}

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

/*
 * "Device:       1MB-blocks      Used:", then one line per device: the
 * device node padded to 13 columns, its size and use in MiB.
 */
std::optional<std::vector<SwapArea>>
parse_swap_areas(std::string_view text)
{
	std::vector<SwapArea> areas;
	std::string_view line;

	if (!next_line(text, line) || !line.starts_with("Device:"))
		return std::nullopt;
	while (next_line(text, line)) {
		std::string_view device = next_word(line);
		auto mib = whole_number(next_word(line));
		auto used = whole_number(next_word(line));
		if (!device.starts_with("/dev/") || !mib || !used ||
		    !next_word(line).empty())
			return std::nullopt;
		areas.push_back({ unit_of(device, "/dev/md").value_or(-1), *mib });
	}
	return areas;
}

/*
 * One line per disk: name, type, size, file ("-" for none) and label, each
 * ended by a tab but the label.  The label is usually empty, so the file
 * runs up to the last tab.
 */
std::optional<std::vector<MemoryDisk>>
parse_memory_disks(std::string_view text)
{
	std::vector<MemoryDisk> disks;
	std::string_view line;

	while (next_line(text, line)) {
		auto unit = unit_of(next_field(line, '\t'), "md");
		std::string_view type = next_field(line, '\t');
		std::string_view size = next_field(line, '\t');
		std::size_t label = line.rfind('\t');
		if (!unit || type.empty() || size.empty() ||
		    label == std::string_view::npos)
			return std::nullopt;
		disks.push_back({ *unit, std::string(type),
		    std::string(line.substr(0, label)) });
	}
	return disks;
}
