/*
 * The backing file: zeros written out in full, so the memory disk never
 * has to find blocks while the system is already short of memory.
 */
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "swap/swap_device.h"

namespace {

constexpr std::int64_t mib = 1024 * 1024;
constexpr std::size_t zero_block = 1024;
/* Keeps the fill at dd bs=1M's pace while staying in the cache. */
constexpr std::size_t stream_buffer = 256 * 1024;

std::string
directory_of(const std::string &path)
{
	auto slash = path.rfind('/');

	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : path.substr(0, slash);
}

/* Space left to us (not to root's reserve) on the file's file system. */
bool
has_room(const std::string &path, std::int64_t bytes)
{
	struct statvfs fs;

	if (statvfs(directory_of(path).c_str(), &fs) != 0 || fs.f_frsize == 0)
		return false;
	std::uint64_t blocks = (bytes + fs.f_frsize - 1) / fs.f_frsize;
	return fs.f_bavail >= blocks;
}

bool
write_zeros(FILE *stream, std::int64_t bytes)
{
	static const char zeros[zero_block] = {};

	for (std::int64_t done = 0; done < bytes; done += zero_block) {
		if (std::fwrite(zeros, zero_block, 1, stream) != 1)
			return false;
	}
	return true;
}

}

bool
prepare_swap_directory(const Settings &settings)
{
	auto slash = settings.swap_file.rfind('/');

	/* A bare file name lies in the current directory. */
	if (slash == std::string::npos)
		return false;
	return mkdir(settings.swap_file.substr(0, slash).c_str(), 0755) == 0;
}

bool
fill_swap_file(const Settings &settings)
{
	const std::string &path = settings.swap_file;
	const std::int64_t bytes = std::int64_t{settings.current_size} * mib;

	if (settings.current_size <= 0 || path.empty() || !has_room(path, bytes))
		return false;

	/*
	 * Always a fresh inode with mode 0600: a descriptor opened on an older
	 * file at this path must never read what gets swapped out here.
	 */
	unlink(path.c_str());
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
	    0600);
	if (fd < 0)
		return false;
	fchmod(fd, 0600);	/* the umask may have taken bits away */

	auto buffer = std::make_unique<char[]>(stream_buffer);
	FILE *stream = fdopen(fd, "w");
	if (stream == nullptr) {
		close(fd);
		unlink(path.c_str());
		return false;
	}
	std::setvbuf(stream, buffer.get(), _IOFBF, stream_buffer);
	bool written = write_zeros(stream, bytes);
	written = std::fflush(stream) == 0 && written;
	written = std::fclose(stream) == 0 && written;

	/* A short file is never attached. */
	if (!written)
		unlink(path.c_str());
	return written;
}
