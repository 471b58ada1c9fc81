/*
 * The backing file: zeros written out in full, so the memory disk never
 * has to find blocks while the system is already short of memory.
 */
#if defined(__FreeBSD__)
#include <sys/param.h>
#include <sys/mount.h>
#else
#include <sys/vfs.h>
#endif
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "core/stop_flag.h"
#include "swap/backing_file.h"

namespace {

/* Synced this often, so that no sync has much to write out at once. */
constexpr std::int64_t sync_span = 8 * bytes_per_mib;

bool
has_room(const std::string &path, std::int64_t bytes)
{
	struct statvfs fs;

	if (statvfs(swap_directory(path).c_str(), &fs) != 0)
		return false;
	return fits_in_free_space(fs.f_bavail, fs.f_blocks, fs.f_frsize, bytes);
}

#if defined(__FreeBSD__)
/* The name of the file system dir lies on, as the system names it. */
std::string
file_system_type(const std::string &dir)
{
	struct statfs fs;

	return statfs(dir.c_str(), &fs) == 0 ? fs.f_fstypename : "";
}
#else
/* Linux has only magic numbers: the names of those we warn about. */
std::string
file_system_type(const std::string &dir)
{
	struct statfs fs;

	if (statfs(dir.c_str(), &fs) != 0)
		return "";
	switch (fs.f_type) {
	case 0x2fc12fc1:
		return "zfs";
	case 0x6969:
		return "nfs";
	case 0x01021994:
		return "tmpfs";
	}
	return "";
}
#endif

/* Why swapping to a file on this file system is asking for trouble. */
const char *
swap_trouble_on(std::string_view type)
{
	if (type == "zfs")
		return "a zero-filled file there reserves no space, so every "
		       "page swapped out allocates in the file system while "
		       "memory is short";
	if (type == "nfs")
		return "every page swapped out must cross the network while "
		       "memory is short";
	if (type == "tmpfs")
		return "it is kept in memory and swap itself, so swapping to "
		       "it frees nothing";
	return nullptr;
}

}

/*
 * Space left to us, not to root's reserve.  FreeBSD's statvfs copies a UFS
 * that is already into the reserve as a negative count into this unsigned
 * field: a count above the total is no room at all.
 */
bool
fits_in_free_space(std::uint64_t free_blocks, std::uint64_t total_blocks,
    std::uint64_t block_size, std::int64_t bytes)
{
	if (block_size == 0 || bytes < 0 || free_blocks > total_blocks)
		return false;
	auto size = static_cast<std::uint64_t>(bytes);
	auto blocks = size / block_size + (size % block_size != 0);
	return free_blocks >= blocks;
}

std::string
unsound_file_system(const std::string &swap_file)
{
	std::string directory = swap_directory(swap_file);
	std::string type = file_system_type(directory);
	const char *trouble = swap_trouble_on(type);

	if (trouble == nullptr)
		return "";
	return directory + " is on " + type + ": " + trouble;
}

std::string
swap_directory(const std::string &swap_file)
{
	auto slash = swap_file.rfind('/');

	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : swap_file.substr(0, slash);
}

std::optional<std::string>
resolve_swap_file(const std::string &swap_file)
{
	char directory[PATH_MAX];

	if (realpath(swap_directory(swap_file).c_str(), directory) == nullptr)
		return std::nullopt;
	std::string resolved = directory;
	if (resolved != "/")
		resolved += '/';
	return resolved + swap_file.substr(swap_file.rfind('/') + 1);
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

/*
 * From a buffer of zeros that is never written: it takes no memory from
 * the heap and, its pages all being the zero page, none at all.  A piece
 * keeps the fill at dd bs=1M's pace while staying in the cache.
 */
std::int64_t
write_zero_piece(int fd, std::int64_t at, std::int64_t end, bool synced)
{
	static char zeros[fill_piece];
	const std::int64_t stop = std::min(end, at + fill_piece);

	while (at < stop) {
		ssize_t written = pwrite(fd, zeros,
		    static_cast<std::size_t>(stop - at),
		    static_cast<off_t>(at));
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return -1;
		at += written;
	}
	if (synced && (at == end || at % sync_span == 0) && fsync(fd) != 0)
		return -1;
	return at;
}

std::int64_t
room_for_swap_files(const std::string &swap_file)
{
	struct statvfs fs;

	if (statvfs(swap_directory(swap_file).c_str(), &fs) != 0 ||
	    fs.f_bavail > fs.f_blocks)
		return 0;
	const std::uint64_t bytes = std::uint64_t{ fs.f_bavail } * fs.f_frsize;
	return static_cast<std::int64_t>(
	    std::min<std::uint64_t>(bytes, INT64_MAX));
}

/*
 * Always a fresh inode with mode 0600: a descriptor opened on an older
 * file at this path must never read what gets swapped out here.
 */
UniqueFd
create_swap_file(const std::string &path)
{
	remove_swap_file_name(path);
	UniqueFd fd(
	    open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
	if (fd)
		fchmod(fd.get(), 0600); /* the umask may have taken bits away */
	return fd;
}

bool
fill_swap_file(const std::string &path, std::int32_t mib,
    const std::function<void()> &between_pieces)
{
	const std::int64_t bytes = std::int64_t{ mib } * bytes_per_mib;

	if (mib <= 0 || path.empty()) {
		errno = EINVAL;
		return false;
	}
	if (!has_room(path, bytes)) {
		errno = ENOSPC;
		return false;
	}

	int fd = create_swap_file(path).release();
	if (fd < 0)
		return false;
	bool written = true;
	int error = 0;
	/* A stop never waits for a fill: rc.shutdown would not either. */
	for (std::int64_t at = 0; written && at < bytes;) {
		if (!running) {
			written = false;
			error = ECANCELED;
		} else if ((at = write_zero_piece(fd, at, bytes, false)) < 0) {
			written = false;
			error = errno;
		} else if (between_pieces) {
			between_pieces();
		}
	}
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
