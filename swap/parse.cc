/*
 * The pure parsers of the two listings, as swapctl and mdconfig print them.
 */
#include "swap/parse.h"

#include "core/number.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <system_error>

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

/* A whole line of decimal digits, within 63 bits. */
std::optional<std::int64_t>
whole_line_number(std::string_view &text)
{
	std::string_view line;
	std::int64_t value;

	if (!next_line(text, line) || line.empty() || line[0] < '0' ||
	    line[0] > '9')
		return std::nullopt;
	const char *end = line.data() + line.size();
	auto [stop, error] = std::from_chars(line.data(), end, value);
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
		/* swapon NAME.eli swaps on geli's layer over NAME. */
		const bool encrypted = device.ends_with(".eli");
		if (encrypted)
			device.remove_suffix(sizeof(".eli") - 1);
		areas.push_back({ unit_of(device, "/dev/md").value_or(-1), *mib,
		    *used, encrypted });
	}
	return areas;
}

/*
 * One line per disk, its fields set apart by tabs: name, type, size, then
 * the file ("-" for none) on every release since the file was listed, and
 * after it nothing (older releases), the label (13.x, 14.x), or the label
 * and the options (15.0 on).  The file is the fourth field, whatever follows.
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
		if (!unit || type.empty() || size.empty())
			return std::nullopt;
		disks.push_back({ *unit, std::string(type),
		    std::string(next_field(line, '\t')) });
	}
	return disks;
}

std::optional<std::int64_t>
parse_kernel_swap_limit(std::string_view text)
{
	auto pages = whole_line_number(text);
	auto page_size = whole_line_number(text);

	if (!pages || !page_size || *page_size == 0 || !text.empty() ||
	    *pages > INT64_MAX / 2 / *page_size)
		return std::nullopt;
	return *pages / 2 * *page_size / bytes_per_mib;
}

const char *
unlistable_because(std::string_view path)
{
	constexpr std::string_view escaped = "&<>'\"";

	for (std::size_t i = 0; i < path.size(); i++) {
		auto byte = static_cast<unsigned char>(path[i]);
		if (byte < 0x20 || byte == 0x7f)
			return "has a control character";
		if (byte > 0x7e)
			return "has a byte above 0x7e";
		if (byte != ' ')
			continue;
		if (i == 0 || i + 1 == path.size())
			return "has a blank at one end";
		if (escaped.find(path[i - 1]) != std::string_view::npos ||
		    escaped.find(path[i + 1]) != std::string_view::npos)
			return "has a blank next to one of & < > ' \"";
	}
	return nullptr;
}

std::string
printable(std::string_view text)
{
	std::string out;

	for (char c : text) {
		auto byte = static_cast<unsigned char>(c);
		if (c == '\\' || c == '"') {
			out += '\\';
			out += c;
		} else if (c == '\r') {
			out += "\\r";
		} else if (c == '\n') {
			out += "\\n";
		} else if (c == '\t') {
			out += "\\t";
		} else if (byte < 0x20 || byte > 0x7e) {
			char hex[8];
			std::snprintf(hex, sizeof(hex), "\\x%02x", byte);
			out += hex;
		} else {
			out += c;
		}
	}
	return out;
}
