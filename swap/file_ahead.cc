/*
 * The file ahead is renamed over the swap file's path only once whole and
 * synced, so disks over our swap file are still found by that path, and a
 * partly written file is never attached.  The daemon stays one thread: a
 * piece is small enough that neither a stop nor the next look waits long
 * for it.
 */
#include "swap/file_ahead.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

/* The file is no longer ours to write: in place, or removed. */
void
let_go(FileAhead &ahead)
{
	ahead.fd = UniqueFd();
	ahead.mib = 0;
	ahead.written = 0;
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

/* Room for the file at its size, counting what it holds already. */
std::int64_t
room_mib(const Settings &settings)
{
	return (room_for_swap_files(settings.swap_file) +
	           settings.file_ahead.written) /
	    bytes_per_mib;
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
	const std::int32_t mib = file_ahead_size(settings, room_mib(settings));
	if (mib == 0) {
		drop_file_ahead(settings);
		return false;
	}
	if (ahead.mib == mib && whole(ahead))
		return false;
	/* A file system that refuses now is not asked again before a step. */
	if (!aim_at(settings, mib) || (!whole(ahead) && !write_piece(ahead))) {
		drop_file_ahead(settings);
		ahead.given_up = true;
		return false;
	}
	return !whole(ahead);
}

bool
place_file_ahead(Settings &settings, std::int32_t mib)
{
	FileAhead &ahead = settings.file_ahead;

	if (!ahead.fd)
		return false;
	bool ready = aim_at(settings, mib) &&
	    target_bytes(ahead) - ahead.written <=
	        room_for_swap_files(settings.swap_file);
	while (ready && !whole(ahead))
		ready = write_piece(ahead);
	if (ready)
		ready = std::rename(file_ahead_path(settings.swap_file).c_str(),
		            settings.swap_file.c_str()) == 0;
	if (!ready) {
		drop_file_ahead(settings);
		return false;
	}
	let_go(ahead);
	return true;
}

void
drop_file_ahead(Settings &settings)
{
	if (!settings.swap_file.empty())
		remove_swap_file_name(file_ahead_path(settings.swap_file));
	let_go(settings.file_ahead);
}
