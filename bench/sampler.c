/*
 * The survival benchmark's eyes: every 0.2 s, one line of what a run looks
 * like, from one process that reads /proc itself, so that looking costs
 * the machine under test little (a shell loop would fork twice a sample).
 * Columns: seconds since the start, the hog's memory (resident and in
 * swap), total swap, used swap, the hog's memory in swap; all in MiB.
 * It ends when the hog does, and says on standard error what it cost.
 * usage: morvend_sampler PID
 */
#include <sys/resource.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double
now(void)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* The hog's resident and swapped KiB; false once it is gone. */
static int
read_hog(const char *status, long *resident, long *swapped)
{
	char line[256];
	FILE *file = fopen(status, "r");

	if (file == NULL)
		return 0;
	*resident = *swapped = 0;
	while (fgets(line, sizeof(line), file) != NULL) {
		if (strncmp(line, "VmRSS:", 6) == 0)
			*resident = strtol(line + 6, NULL, 10);
		else if (strncmp(line, "VmSwap:", 7) == 0)
			*swapped = strtol(line + 7, NULL, 10);
	}
	fclose(file);
	return 1;
}

/* Sizes and use of every swap area, in KiB. */
static void
read_swaps(long *total, long *used)
{
	char line[512], name[256], type[32];
	long size, in_use;
	FILE *file = fopen("/proc/swaps", "r");

	*total = *used = 0;
	if (file == NULL)
		return;
	while (fgets(line, sizeof(line), file) != NULL) {
		if (sscanf(line, "%255s %31s %ld %ld", name, type, &size,
		        &in_use) == 4) {
			*total += size;
			*used += in_use;
		}
	}
	fclose(file);
}

int
main(int argc, char *argv[])
{
	char status[64];
	const double start = now();
	long resident, swapped, total, used, samples = 0;
	struct rusage cost;

	if (argc != 2 || atoi(argv[1]) <= 0) {
		fprintf(stderr, "usage: morvend_sampler PID\n");
		return 2;
	}
	snprintf(status, sizeof(status), "/proc/%s/status", argv[1]);
	while (read_hog(status, &resident, &swapped)) {
		read_swaps(&total, &used);
		printf("%.2f %ld %ld %ld %ld\n", now() - start,
		    (resident + swapped) / 1024, total / 1024, used / 1024,
		    swapped / 1024);
		fflush(stdout);
		samples++;
		usleep(200 * 1000);
	}
	getrusage(RUSAGE_SELF, &cost);
	fprintf(stderr, "sampler: %ld samples in %.1f s, %.1f ms of CPU\n",
	    samples, now() - start,
	    (double)cost.ru_utime.tv_sec * 1e3 +
	        (double)cost.ru_utime.tv_usec / 1e3 +
	        (double)cost.ru_stime.tv_sec * 1e3 +
	        (double)cost.ru_stime.tv_usec / 1e3);
	return 0;
}
