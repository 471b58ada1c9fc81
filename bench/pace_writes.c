/*
 * Preloaded into morvend: large writes (64 KiB or more, as a swap file's
 * fill makes them) take as long as on a disk that writes
 * PACE_WRITES_MBPS megabytes (10^6 bytes) a second, and that has run out
 * of dirty buffers, so each write waits for the disk.  Writes queue
 * behind each other as on one disk.  Small writes (logs, PID files) and
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

/* A disk write is not cut short by a signal: the wait goes on to its end. */
static void
wait_for_disk(size_t bytes)
{
	struct timespec now;
	double until;

	if (bytes < large || bytes_per_second <= 0)
		return;
	clock_gettime(CLOCK_MONOTONIC, &now);
	until = seconds(&disk_free) > seconds(&now) ? seconds(&disk_free) :
	                                              seconds(&now);
	until += (double)bytes / bytes_per_second;
	disk_free.tv_sec = (time_t)until;
	disk_free.tv_nsec = (long)((until - (double)disk_free.tv_sec) * 1e9);
	while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &disk_free,
	           NULL) == EINTR)
		;
}

ssize_t
write(int fd, const void *buf, size_t count)
{
	static ssize_t (*real)(int, const void *, size_t);
	ssize_t done;

	if (real == NULL)
		real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT,
		    "write");
	done = real(fd, buf, count);
	if (done > 0)
		wait_for_disk((size_t)done);
	return done;
}

ssize_t
pwrite(int fd, const void *buf, size_t count, off_t offset)
{
	static ssize_t (*real)(int, const void *, size_t, off_t);
	ssize_t done;

	if (real == NULL)
		real = (ssize_t(*)(int, const void *, size_t,
		    off_t))dlsym(RTLD_NEXT, "pwrite");
	done = real(fd, buf, count, offset);
	if (done > 0)
		wait_for_disk((size_t)done);
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
