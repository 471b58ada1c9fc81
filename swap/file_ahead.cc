/*
 * The file ahead is renamed over the swap file's path only once whole and
 * synced, so disks over our swap file are still found by that path, and a
 * partly written file is never attached.  The daemon stays one thread: a
 * piece is small enough that neither a stop nor the next look waits long
 * for it.  The file is ours only while the path still names it as we left
 * it: one removed, replaced or cut down from outside is let go.
 */
#include "swap/file_ahead.h"

#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/journal.h"
#include "core/stop_flag.h"
#include "swap/backing_file.h"
#include "swap/policy.h"

namespace {

constexpr std::int64_t bytes_per_mib = std::int64_t{ 1024 } * 1024;
/* What a stop or a quick look may have to wait for, at disk speed. */
constexpr std::int64_t piece = std::int64_t{ 256 } * 1024;
/* Synced this often, so that no sync has much to write out at once. */
constexpr std::int64_t sync_span = 8 * bytes_per_mib;

std::int64_t
target_bytes(const FileAhead &ahead)
{
	return std::int64_t{ ahead.mib } * bytes_per_mib;
}

/*
 * Creates the file, or cuts it down to a smaller size at once; a larger
 * one is reached piece by piece, extending what is there.
 */
bool
aim_at(Settings &settings, std::int32_t mib)
{
	FileAhead &ahead = settings.file_ahead;

	if (!ahead.fd) {
		ahead.fd = create_swap_file(
		    file_ahead_path(settings.swap_file));
		ahead.written = 0;
		if (!ahead.fd)
			return false;
	}
	ahead.mib = mib;
	if (ahead.written > target_bytes(ahead)) {
		if (ftruncate(ahead.fd.get(), target_bytes(ahead)) != 0)
			return false;
		ahead.written = target_bytes(ahead);
	}
	return true;
}

bool
whole(const FileAhead &ahead)
{
	return ahead.fd && ahead.written == target_bytes(ahead);
}

bool
write_piece(FileAhead &ahead)
{
	const std::int64_t size = std::min(target_bytes(ahead) - ahead.written,
	    piece);

	if (!write_zeros(ahead.fd.get(), ahead.written, size))
		return false;
	ahead.written += size;
	if (whole(ahead) || ahead.written % sync_span == 0)
		return fsync(ahead.fd.get()) == 0;
	return true;
}

/*
 * Whether the path still names the file we write, with all we wrote: not
 * removed (rm), replaced, nor emptied (": > file", the usual way to free
 * space), which would leave a file with holes.
 */
bool
still_ours(const Settings &settings)
{
	const FileAhead &ahead = settings.file_ahead;
	struct stat open_file, at_path;

	return fstat(ahead.fd.get(), &open_file) == 0 &&
	    stat(file_ahead_path(settings.swap_file).c_str(), &at_path) == 0 &&
	    open_file.st_dev == at_path.st_dev &&
	    open_file.st_ino == at_path.st_ino && open_file.st_nlink > 0 &&
	    open_file.st_size >= ahead.written;
}

/* Whole on disk, as the file itself says: no device over a hole. */
bool
allocated_whole(const FileAhead &ahead)
{
	struct stat file;

	return fstat(ahead.fd.get(), &file) == 0 &&
	    file.st_size == target_bytes(ahead) &&
	    std::int64_t{ file.st_blocks } * 512 >= target_bytes(ahead);
}

/*
 * Told once, until the file is whole again: a write that failed (error),
 * or no room left beside it (0).
 */
void
tell_trouble(Settings &settings, int error)
{
	FileAhead &ahead = settings.file_ahead;

	if (ahead.trouble_told)
		return;
	ahead.trouble_told = true;
	const std::string path = file_ahead_path(settings.swap_file);
	if (error != 0)
		journal_tell(settings.journal, Priority::warning,
		    "cannot write %s: %s", path.c_str(), std::strerror(error));
	else
		journal_tell(settings.journal, Priority::warning,
		    "no file written ahead at %s: it would leave less than "
		    "its own size free beside it",
		    path.c_str());
}

}

std::string
file_ahead_path(const std::string &swap_file)
{
	return swap_file + ".ahead";
}

bool
write_ahead(Settings &settings)
{
	FileAhead &ahead = settings.file_ahead;

	/* Until the record is sure, the next grow's size is not. */
	if (settings.write_ahead != 1 || ahead.given_up ||
	    !settings.swap_lock || !settings.record_matches_system)
		return false;
	if (ahead.fd && !still_ours(settings))
		let_go_of_file_ahead(settings);
	const std::int32_t mib = file_ahead_size(settings);
	if (mib == 0) {
		drop_file_ahead(settings);
		return false;
	}
	const std::int64_t free_mib = room_for_swap_files(settings.swap_file) /
	    bytes_per_mib;
	if (!room_for_file_ahead(mib, free_mib,
	        ahead.written / bytes_per_mib)) {
		drop_file_ahead(settings);
		tell_trouble(settings, 0);
		return false;
	}
	if (ahead.mib == mib && whole(ahead))
		return false;
	/* A file system that refuses now is not asked again before a step. */
	if (!aim_at(settings, mib) || (!whole(ahead) && !write_piece(ahead))) {
		const int error = errno;
		drop_file_ahead(settings);
		ahead.given_up = true;
		tell_trouble(settings, error);
		return false;
	}
	if (whole(ahead))
		ahead.trouble_told = false;
	return !whole(ahead);
}

bool
place_file_ahead(Settings &settings, std::int32_t mib)
{
	FileAhead &ahead = settings.file_ahead;

	if (!ahead.fd)
		return false;
	bool ready = still_ours(settings) && aim_at(settings, mib) &&
	    target_bytes(ahead) - ahead.written <=
	        room_for_swap_files(settings.swap_file);
	/* A stop does not wait for the rest: the fill is abandoned. */
	while (ready && running && !whole(ahead))
		ready = write_piece(ahead);
	if (ready)
		ready = whole(ahead) && allocated_whole(ahead) &&
		    std::rename(file_ahead_path(settings.swap_file).c_str(),
		        settings.swap_file.c_str()) == 0;
	if (!ready) {
		drop_file_ahead(settings);
		return false;
	}
	let_go_of_file_ahead(settings);
	return true;
}

void
drop_file_ahead(Settings &settings)
{
	if (!settings.swap_file.empty())
		remove_swap_file_name(file_ahead_path(settings.swap_file));
	let_go_of_file_ahead(settings);
}

void
let_go_of_file_ahead(Settings &settings)
{
	FileAhead &ahead = settings.file_ahead;

	ahead.fd = UniqueFd();
	ahead.mib = 0;
	ahead.written = 0;
}

void
file_ahead_after_step(Settings &settings)
{
	settings.file_ahead.given_up = false;
}
