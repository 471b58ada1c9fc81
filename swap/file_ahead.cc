/*
 * The file ahead is renamed over the swap file's path only once whole and
 * synced, so disks over our swap file are still found by that path, and a
 * partly written file is never attached.  The file is ours only while the
 * path still names it as we left it: one removed, replaced or cut down
 * from outside is let go.
 *
 * A writer child writes it, so that it grows at the disk's pace while the
 * loop looks, decides and resizes.  The daemon stays one thread and the
 * record its own: the writer owns nothing but its copy of the descriptor
 * and the bytes it writes, and the daemon learns its progress from the
 * file's size, its end from its exit status.  Where no child can be had,
 * the loop writes a piece at a time in its pauses, small enough that
 * neither a stop nor the next look waits long for it.
 */
#include "swap/file_ahead.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <signal.h>
#include <time.h>
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
	const std::int64_t at = write_zero_piece(ahead.fd.get(), ahead.written,
	    target_bytes(ahead), true);

	if (at < 0)
		return false;
	ahead.written = at;
	return true;
}

/* The writer's exit status for a stop or a daemon gone: no failure. */
constexpr int writer_gave_way = 255;

/*
 * The writer child: the rest of the file, a piece at a time.  It keeps no
 * lock alive for a successor to meet, and gives way within a piece when
 * the daemon is told to stop or is gone (killed, its child adopted).
 */
[[noreturn]] void
run_writer(int fd, int lock, std::int64_t from, std::int64_t to)
{
	const pid_t daemon = getppid();

	close(lock);
	while (from < to) {
		if (!running || getppid() != daemon)
			_exit(writer_gave_way);
		from = write_zero_piece(fd, from, to, true);
		if (from < 0)
			_exit(
			    errno > 0 && errno < writer_gave_way ? errno : EIO);
	}
	_exit(0);
}

/* Starts the writer on what is left; false when no child can be had. */
bool
start_writer(Settings &settings)
{
	FileAhead &ahead = settings.file_ahead;
	const pid_t child = fork();

	if (child == 0)
		run_writer(ahead.fd.get(), settings.swap_lock.get(),
		    ahead.written, target_bytes(ahead));
	if (child < 0)
		return false;
	ahead.writer = child;
	return true;
}

/*
 * What is written: as the record has it, or, while a writer writes, the
 * file's size, as it writes in order.
 */
std::int64_t
written_by_now(const FileAhead &ahead)
{
	struct stat file;

	if (ahead.writer < 0 || fstat(ahead.fd.get(), &file) != 0)
		return ahead.written;
	return std::min<std::int64_t>(file.st_size, target_bytes(ahead));
}

/* Stops the writer, if one runs, keeping what it wrote. */
void
stop_writer(FileAhead &ahead)
{
	if (ahead.writer < 0)
		return;
	kill(ahead.writer, SIGKILL);
	while (waitpid(ahead.writer, nullptr, 0) < 0 && errno == EINTR)
		;
	ahead.written = written_by_now(ahead);
	ahead.writer = -1;
}

/*
 * Takes in the writer's end, if it came: true while it writes or once it
 * is done, false, errno set, when it failed (or gave way to a stop).
 */
bool
follow_writer(FileAhead &ahead)
{
	int status = 0;

	if (ahead.writer < 0)
		return true;
	const pid_t ended = waitpid(ahead.writer, &status, WNOHANG);
	if (ended == 0) {
		ahead.written = written_by_now(ahead);
		return true;
	}
	ahead.writer = -1;
	if (ended > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
		ahead.written = target_bytes(ahead);
		return true;
	}
	const int code = ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) :
	                                                  EIO;
	errno = code == writer_gave_way ? ECANCELED : code;
	return false;
}

/* A grow waits for the writer, but not past a stop. */
bool
wait_for_writer(FileAhead &ahead, const std::function<void()> &meanwhile)
{
	const struct timespec moment = { 0, 5000000L }; /* 5 ms */
	bool going = follow_writer(ahead);

	while (going && ahead.writer >= 0 && running) {
		if (meanwhile)
			meanwhile();
		nanosleep(&moment, nullptr);
		going = follow_writer(ahead);
	}
	stop_writer(ahead); /* one that a stop cut short */
	return going && running;
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

/*
 * A file system that refuses now is not asked again before a step; a
 * writer that gave way to a stop failed nothing.
 */
void
give_up(Settings &settings, int error)
{
	drop_file_ahead(settings);
	settings.file_ahead.given_up = true;
	if (error != ECANCELED)
		tell_trouble(settings, error);
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
	if (!follow_writer(ahead)) {
		give_up(settings, errno);
		return false;
	}
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
	if (ahead.mib != mib || (!whole(ahead) && ahead.writer < 0)) {
		stop_writer(ahead); /* another size: on from what it wrote */
		if (!aim_at(settings, mib) ||
		    (!whole(ahead) && !start_writer(settings) &&
		        !write_piece(ahead))) {
			give_up(settings, errno);
			return false;
		}
	}
	if (whole(ahead))
		ahead.trouble_told = false;
	/* More for the pause to write, where no writer does it. */
	return !whole(ahead) && ahead.writer < 0;
}

bool
place_file_ahead(Settings &settings, std::int32_t mib,
    const std::function<void()> &between_pieces)
{
	FileAhead &ahead = settings.file_ahead;

	if (!ahead.fd)
		return false;
	bool ready = still_ours(settings) &&
	    wait_for_writer(ahead, between_pieces) && aim_at(settings, mib) &&
	    target_bytes(ahead) - ahead.written <=
	        room_for_swap_files(settings.swap_file);
	/* A stop does not wait for the rest: the fill is abandoned. */
	while (ready && running && !whole(ahead)) {
		ready = write_piece(ahead);
		if (between_pieces)
			between_pieces();
	}
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

FileAheadState
file_ahead_state(const Settings &settings)
{
	const FileAhead &ahead = settings.file_ahead;

	if (!ahead.fd || ahead.mib == 0)
		return { 0, false, 0 };
	const std::int64_t written = written_by_now(ahead);
	return { ahead.mib, written == target_bytes(ahead),
		static_cast<int>(written * 100 / target_bytes(ahead)) };
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

	stop_writer(ahead);
	ahead.fd = UniqueFd();
	ahead.mib = 0;
	ahead.written = 0;
}

void
file_ahead_after_step(Settings &settings)
{
	settings.file_ahead.given_up = false;
}
