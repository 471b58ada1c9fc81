/*
 * The door into swap/: the daemon's own swap, as the top drives it.
 * Zero-filled files at swap_file, each attached as a vnode memory disk
 * and activated as swap, replaced whole or added beside the others on each
 * resize, and all released at stop.  Their sizes and units live in the
 * Settings record.
 */
#ifndef MORVEND_SWAP_SWAP_DEVICE_H
#define MORVEND_SWAP_SWAP_DEVICE_H

#include <cstdint>
#include <optional>

#include "core/settings.h"
#include "swap/policy.h"

/*
 * Before anything is started: whether the settings make a swap file that
 * can be managed at all.  Says on standard error why not (a step below
 * 1 MiB, a path that mdconfig -l -v would list otherwise).
 */
bool swap_settings_usable(const Settings &settings);

/*
 * Once the daemon runs where it will: makes the swap file's directory,
 * takes its lock, removes a file ahead left by a daemon that was killed,
 * and asks the kernel how much swap it can track.  False, said on
 * standard error, when another daemon holds the directory.
 */
bool take_swap_file(Settings &settings);

/*
 * The start lines of the swap side: the kernel's bound, the file ahead and
 * what it costs, and a file system unsound for swap (said on standard
 * error too).
 */
void tell_swap_start(const Settings &settings);

/*
 * One poll cycle: takes the swap file again if it was lost, looks at the
 * system when the record is in doubt, reads free swap and carries out what
 * the policy decides.  Free swap in MiB, or nothing when it was not read.
 */
std::optional<std::int64_t> poll_cycle(Settings &settings);

/*
 * One line of status, for SIGINFO: free swap, our devices, the file
 * ahead, the last resize, and what bounds the next grow.  To the log, or
 * to standard error where there is none.
 */
void tell_status(const Settings &settings);

/*
 * One piece more of the next grow's file, where no writer child writes it:
 * true while more remains for the pause to write.
 */
bool work_ahead(Settings &settings);

/*
 * Carries out the chosen step: brings up the new device, if any, then
 * retires the one it replaces, if any, and only once the new one is in
 * service; on any failure the old one stays.  False when it stopped early
 * or lost track of a device: the record is then in doubt.
 */
bool resize_swap(Settings &settings, const Resize &resize);

/*
 * At stop: removes the swap file's name and the file ahead, and retires
 * every disk over the swap file that the system lists, whatever the
 * record holds, retrying for a while a swapoff that is refused for want
 * of memory.
 */
void release_swap(Settings &settings);

#endif
