/*
 * Preloaded into morvend: large writes (64 KiB or more, as a swap file's
 * fill makes them) take as long as on a disk that writes
 * PACE_WRITES_MBPS megabytes (10^6 bytes) a second, and that has run out
 * of dirty buffers, so each write waits for the disk.  Writes queue
 * behind each other as on one disk, each against a deadline booked before
 * it is made.  Small writes (logs, PID files) and
 * reads are left alone, and the tools morvend runs do not inherit it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static const size_t large = 64 * 1024;
static double bytes_per_second;
/* When the disk is done with what it was given so far. */
static struct timespec disk_free;

static double
seconds(const struct timespec *t)
{
	return (double)t->tv_sec + (double)t->tv_nsec / 1e9;
}

static void
set_time(struct timespec *t, double at)
{
	t->tv_sec = (time_t)at;
	t->tv_nsec = (long)((at - (double)t->tv_sec) * 1e9);
}

/*
 * Books a large write on the disk before it is made: it ends bytes/rate
 * after the disk is free, or after now, less what an idle disk may have
 * got ahead (50 ms at most).  The real write's own time counts within
 * that budget, so the pace is the rate, not the rate plus the real cost.
 */
static int
book_disk(size_t bytes)
{
	struct timespec now;
	double start;

	if (bytes < large || bytes_per_second <= 0)
		return 0;
	clock_gettime(CLOCK_MONOTONIC, &now);
	start = seconds(&now) - 0.05;
	if (seconds(&disk_free) > start)
		start = seconds(&disk_free);
	set_time(&disk_free, start + (double)bytes / bytes_per_second);
	return 1;
}

/* A disk write is not cut short by a signal: the wait goes on to its end. */
static void
wait_for_disk(void)
{
	while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &disk_free,
	           NULL) == EINTR)
		;
}

ssize_t
write(int fd, const void *buf, size_t count)
{
	static ssize_t (*real)(int, const void *, size_t);
	int booked = book_disk(count);
	ssize_t done;

	if (real == NULL)
		real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT,
		    "write");
	done = real(fd, buf, count);
	if (booked)
		wait_for_disk();
	return done;
}

ssize_t
pwrite(int fd, const void *buf, size_t count, off_t offset)
{
	static ssize_t (*real)(int, const void *, size_t, off_t);
	int booked = book_disk(count);
	ssize_t done;

	if (real == NULL)
		real = (ssize_t(*)(int, const void *, size_t,
		    off_t))dlsym(RTLD_NEXT, "pwrite");
	done = real(fd, buf, count, offset);
	if (booked)
		wait_for_disk();
	return done;
}

__attribute__((constructor)) static void
take_effect(void)
{
	const char *rate = getenv("PACE_WRITES_MBPS");

	if (rate != NULL)
		bytes_per_second = strtod(rate, NULL) * 1e6;
	unsetenv("LD_PRELOAD");
}
