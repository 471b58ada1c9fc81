/*
 * The log of what the daemon does, for the admin who asks.  It is written
 * only when SYSLOG is 1; otherwise nothing is written anywhere.  A machine
 * that is broken stays broken for many cycles, so a failure is told when
 * it starts and when it ends, not each time it recurs.
 */
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <new>

#include "swap/swap_device.h"

namespace {

/* Room for the longest command line and what became of it. */
constexpr std::size_t message_max = 1280;

void
tell(const Journal &journal, int priority, const char *format, va_list args)
{
	char message[message_max];

	if (!journal.open)
		return;
	std::vsnprintf(message, sizeof(message), format, args);
	syslog(priority, "%s", message);
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
open_journal(Settings &settings)
{
	if (settings.use_syslog != 1)
		return;
	openlog("morvend", LOG_PID, LOG_DAEMON);
	settings.journal.open = true;
}

void
close_journal(Settings &settings)
{
	if (!settings.journal.open)
		return;
	journal_info(settings.journal, "stopped");
	closelog();
	settings.journal.open = false;
}

void
journal_info(const Journal &journal, const char *format, ...)
{
	va_list args;

	va_start(args, format);
	tell(journal, LOG_INFO, format, args);
	va_end(args);
}

void
journal_warning(const Journal &journal, const char *format, ...)
{
	va_list args;

	va_start(args, format);
	tell(journal, LOG_WARNING, format, args);
	va_end(args);
}

void
journal_failure(Journal &journal, const char *format, ...)
{
	char message[message_max];
	va_list args;

	journal.failed_this_cycle = true;
	if (!journal.open)
		return;
	va_start(args, format);
	std::vsnprintf(message, sizeof(message), format, args);
	va_end(args);
	if (first_time(journal, message))
		syslog(LOG_WARNING, "%s", message);
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
		journal_info(journal, "recovered after %d cycle%s",
		    journal.failed_cycles, journal.failed_cycles == 1 ? "" : "s");
		journal.failed_cycles = 0;
		journal.told.clear();
	}
}
