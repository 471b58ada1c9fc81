/*
 * What the system reports: the swap totals, which devices are in service
 * as swap, and which memory disks exist.
 */
#include <algorithm>
#include <charconv>
#include <climits>
#include <new>

#include "swap/shell.h"
#include "swap/swap_device.h"

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

template <typename Listing>
std::optional<Listing>
read_listing(Journal &journal, const char *command,
    std::optional<Listing> (*parse)(std::string_view))
{
	std::optional<Listing> listing;

	try {
		auto text = read_output(journal, command);
		if (!text)
			return std::nullopt;
		listing = parse(*text);
	} catch (const std::bad_alloc &) {
		/* told below, as a listing not read */
	}
	if (!listing)
		journal_failure(journal, "%s: listing not understood", command);
	return listing;
}

}

std::optional<std::int32_t>
probe_swap_total(Journal &journal)
{
	return read_number(journal, total_swap_command);
}

std::optional<std::int32_t>
probe_swap_used(Journal &journal)
{
	return read_number(journal, used_swap_command);
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

std::optional<std::vector<SwapArea>>
list_swap_areas(Journal &journal)
{
	return read_listing(journal, swap_devices_command, parse_swap_areas);
}

std::optional<std::vector<MemoryDisk>>
list_memory_disks(Journal &journal)
{
	return read_listing(journal, memory_disks_command, parse_memory_disks);
}

std::optional<bool>
device_in_service(Journal &journal, int unit)
{
	auto areas = list_swap_areas(journal);
	if (!areas)
		return std::nullopt;
	return std::any_of(areas->begin(), areas->end(),
	    [&](const SwapArea &area) { return area.unit == unit; });
}

std::optional<bool>
device_attached(Journal &journal, int unit)
{
	auto disks = list_memory_disks(journal);
	if (!disks)
		return std::nullopt;
	return std::any_of(disks->begin(), disks->end(),
	    [&](const MemoryDisk &disk) { return disk.unit == unit; });
}
