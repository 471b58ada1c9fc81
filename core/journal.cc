#include "core/journal.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

namespace {

/* Room for the longest command line and what became of it. */
constexpr std::size_t message_max = 1280;

void
write_to_syslog(Priority priority, const char *message)
{
	static const int levels[] = { LOG_INFO, LOG_NOTICE, LOG_WARNING };

	syslog(levels[static_cast<int>(priority)], "%s", message);
}

void
tell(const Journal &journal, Priority priority, const char *format,
    va_list args)
{
	char message[message_max];

	if (journal.sink == nullptr)
		return;
	std::vsnprintf(message, sizeof(message), format, args);
	journal.sink(priority, message);
}

/* A failure that differs only in a unit or a count is the same failure. */
std::string
without_numbers(const char *message)
{
	std::string kind;

	for (const char *c = message; *c != '\0'; c++) {
		if (*c < '0' || *c > '9')
			kind += *c;
	}
	return kind;
}

/* Whether the failure is new to this run of failing cycles. */
bool
first_time(Journal &journal, const char *message)
{
	try {
		std::string kind = without_numbers(message);
		for (const std::string &told : journal.told) {
			if (told == kind)
				return false;
		}
		journal.told.push_back(std::move(kind));
	} catch (const std::bad_alloc &) {
		/* Better told twice than not at all. */
	}
	return true;
}

}

void
open_journal(Journal &journal, std::int32_t use_syslog)
{
	if (use_syslog != 1)
		return;
	openlog("morvend", LOG_PID, LOG_DAEMON);
	journal.sink = write_to_syslog;
}

void
set_journal(Journal &journal, std::int32_t use_syslog)
{
	if (use_syslog == 1 && journal.sink == nullptr)
		open_journal(journal, use_syslog);
	if (use_syslog != 1 && journal.sink == write_to_syslog) {
		closelog();
		journal.sink = nullptr;
	}
}

void
close_journal(Journal &journal)
{
	if (journal.sink != write_to_syslog)
		return;
	journal_tell(journal, Priority::info, "stopped");
	closelog();
	journal.sink = nullptr;
}

void
journal_tell(const Journal &journal, Priority priority, const char *format, ...)
{
	va_list args;

	va_start(args, format);
	tell(journal, priority, format, args);
	va_end(args);
}

void
journal_failure(Journal &journal, const char *format, ...)
{
	char message[message_max];
	va_list args;

	journal.failed_this_cycle = true;
	if (journal.sink == nullptr)
		return;
	va_start(args, format);
	std::vsnprintf(message, sizeof(message), format, args);
	va_end(args);
	if (first_time(journal, message))
		journal.sink(Priority::warning, message);
}

void
journal_cycle_done(Journal &journal)
{
	if (journal.failed_this_cycle) {
		journal.failed_cycles++;
		journal.failed_this_cycle = false;
		return;
	}
	if (journal.failed_cycles > 0) {
		journal_tell(journal, Priority::info,
		    "recovered after %d cycle%s", journal.failed_cycles,
		    journal.failed_cycles == 1 ? "" : "s");
		journal.failed_cycles = 0;
		journal.told.clear();
	}
}

void
complain(const char *format, ...)
{
	char message[message_max];
	va_list args;

	va_start(args, format);
	std::vsnprintf(message, sizeof(message), format, args);
	va_end(args);
	std::fprintf(stderr, "morvend: %s\n", message);
}
