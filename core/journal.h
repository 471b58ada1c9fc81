/*
 * The log of what the daemon does, for the admin who asks: syslog(3) as
 * "morvend", facility daemon, when SYSLOG is 1; otherwise nothing is
 * written anywhere.  A machine that is broken stays broken for many
 * cycles, so a failure is told when it starts and when it ends, not each
 * time it recurs.  And the few lines said on standard error, where the
 * one who started the daemon sees them.
 */
#ifndef MORVEND_CORE_JOURNAL_H
#define MORVEND_CORE_JOURNAL_H

#include <cstdint>
#include <string>
#include <vector>

/*
 * As FreeBSD's default syslog.conf files them: info in daemon.log alone,
 * notice (each resize) and warning (each failure) in messages too.
 */
enum class Priority { info, notice, warning };

/* Where told lines go; the journal tells nothing while it has none. */
using JournalSink = void (*)(Priority priority, const char *message);

/*
 * What the log has told in the current run of cycles with failures, so a
 * failure that repeats is told once, and its end once more.
 */
struct Journal {
	JournalSink sink = nullptr;
	std::vector<std::string> told; /* failures, numbers left out */
	bool failed_this_cycle = false;
	int failed_cycles = 0;
};

/* Only a SYSLOG setting of 1 opens syslog. */
void open_journal(Journal &journal, std::int32_t use_syslog);
/* After a reload: opens or closes syslog as SYSLOG now says, silently. */
void set_journal(Journal &journal, std::int32_t use_syslog);
/* Tells "stopped" and closes syslog. */
void close_journal(Journal &journal);

void journal_tell(const Journal &journal, Priority priority, const char *format,
    ...) __attribute__((format(printf, 3, 4)));

/* A failed step: told as a warning, unless told already in this run. */
void journal_failure(Journal &journal, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* The end of a cycle: one without a failure ends a run of failures. */
void journal_cycle_done(Journal &journal);

/* "morvend: " and the message, as one line on standard error. */
void complain(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
