/*
 * The backing file: zeros written out in full, so the memory disk never
 * has to find blocks while the system is already short of memory.
 */
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "swap/swap_device.h"

namespace {

constexpr std::int64_t mib = 1024 * 1024;
/* Keeps the fill at dd bs=1M's pace while staying in the cache. */
constexpr std::size_t zero_chunk = 256 * 1024;

/* Space left to us (not to root's reserve) on the file's file system. */
bool
has_room(const std::string &path, std::int64_t bytes)
{
	struct statvfs fs;

	if (statvfs(swap_directory(path).c_str(), &fs) != 0 || fs.f_frsize == 0)
		return false;
	auto blocks = static_cast<std::uint64_t>(bytes) / fs.f_frsize +
	    (static_cast<std::uint64_t>(bytes) % fs.f_frsize != 0);
	return fs.f_bavail >= blocks;
}

/*
 * From a buffer of zeros that is never written: it takes no memory from
 * the heap and, its pages all being the zero page, none at all.
 */
bool
write_zeros(int fd, std::int64_t bytes)
{
	static char zeros[zero_chunk];

	while (bytes > 0) {
		auto chunk = static_cast<std::size_t>(
		    std::min<std::int64_t>(bytes, zero_chunk));
		ssize_t written = write(fd, zeros, chunk);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return false;
		bytes -= written;
	}
	return true;
}

}

std::string
swap_directory(const std::string &swap_file)
{
	auto slash = swap_file.rfind('/');

	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : swap_file.substr(0, slash);
}

void
remove_swap_file_name(const std::string &swap_file)
{
	if (!swap_file.empty())
		unlink(swap_file.c_str());
}

bool
prepare_swap_directory(const std::string &swap_file)
{
	/* "." and "/" are there already: the creation fails, as it should. */
	return mkdir(swap_directory(swap_file).c_str(), 0755) == 0;
}

bool
fill_swap_file(const std::string &path, std::int32_t size)
{
	const std::int64_t bytes = std::int64_t{size} * mib;

	if (size <= 0 || path.empty()) {
		errno = EINVAL;
		return false;
	}
	if (!has_room(path, bytes)) {
		errno = ENOSPC;
		return false;
	}

	/*
	 * Always a fresh inode with mode 0600: a descriptor opened on an older
	 * file at this path must never read what gets swapped out here.
	 */
	remove_swap_file_name(path);
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
	    0600);
	if (fd < 0)
		return false;
	fchmod(fd, 0600);	/* the umask may have taken bits away */
	bool written = write_zeros(fd, bytes);
	int error = errno;
	if (close(fd) != 0 && written) {
		written = false;
		error = errno;
	}

	/* A short file is never attached. */
	if (!written) {
		remove_swap_file_name(path);
		errno = error;
	}
	return written;
}
