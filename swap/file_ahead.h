/*
 * The next grow's file, written ahead of need (WRITE_AHEAD 1) in small
 * pieces while the control loop waits, so that no fill lies between the
 * probe that calls for a grow and its mdconfig -a.
 */
#ifndef MORVEND_SWAP_FILE_AHEAD_H
#define MORVEND_SWAP_FILE_AHEAD_H

#include <cstdint>
#include <functional>
#include <string>

#include "core/settings.h"

/* Beside the swap file, so under the same lock, with a name of its own. */
std::string file_ahead_path(const std::string &swap_file);

/*
 * Writes one piece more of the file the next grow will want, fitting it
 * to that size first; drops it when no grow is allowed or it would leave
 * less than its own size free beside it, and lets it go when it was
 * removed or changed from outside.  True while more remains to be
 * written.
 */
bool write_ahead(Settings &settings);

/*
 * Puts the file ahead in place at the swap file for a device of mib MiB,
 * waiting for its writer or writing the rest first if it is not whole yet
 * (between_pieces, if any, runs meanwhile).  False when there is
 * none, it could not be finished, a stop came first, or the file on disk
 * is not whole: it is dropped, so its room is free for a fill of the
 * usual kind.
 */
bool place_file_ahead(Settings &settings, std::int32_t mib,
    const std::function<void()> &between_pieces = {});

/* What the file ahead is now, for the status line; mib 0: none. */
struct FileAheadState {
	std::int32_t mib;
	bool whole;
	int percent; /* written */
};
FileAheadState file_ahead_state(const Settings &settings);

/* Removes the file ahead, whatever state it is in. */
void drop_file_ahead(Settings &settings);

/* Closes it without removing it: its path may be another daemon's now. */
void let_go_of_file_ahead(Settings &settings);

/* A step changes the next grow's size or frees room: try again. */
void file_ahead_after_step(Settings &settings);

#endif
