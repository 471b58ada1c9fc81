/*
 * Preloaded into morvend: every allocation of 64 KiB or more fails, as on
 * a machine out of memory.  The tools morvend runs do not inherit it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);
extern void *__libc_memalign(size_t, size_t);

static const size_t large = 64 * 1024;

static int
refused(size_t size)
{
	if (size < large)
		return 0;
	errno = ENOMEM;
	return 1;
}

void *
malloc(size_t size)
{
	return refused(size) ? NULL : __libc_malloc(size);
}

void *
calloc(size_t count, size_t size)
{
	return count != 0 &&
	        refused(size > large / count ? large : count * size) ?
	    NULL :
	    __libc_calloc(count, size);
}

void *
realloc(void *old, size_t size)
{
	return refused(size) ? NULL : __libc_realloc(old, size);
}

void *
aligned_alloc(size_t alignment, size_t size)
{
	return refused(size) ? NULL : __libc_memalign(alignment, size);
}

int
posix_memalign(void **out, size_t alignment, size_t size)
{
	if (refused(size))
		return ENOMEM;
	*out = __libc_memalign(alignment, size);
	return *out != NULL ? 0 : ENOMEM;
}

/* Leaves a mark that it is in place, and keeps out of the children. */
__attribute__((constructor)) static void
take_effect(void)
{
	const char *mark = getenv("FAIL_ALLOC_MARK");

	if (mark != NULL)
		close(open(mark, O_WRONLY | O_CREAT, 0600));
	unsetenv("FAIL_ALLOC_MARK");
	unsetenv("LD_PRELOAD");
}
