/*
 * Which swap is ours, and the one place that writes it down.  One daemon
 * owns a swap file, and every vnode memory disk over that file is its own:
 * the record's lists of devices are only a memory of what the system
 * lists, changed here alone, through the verbs below.  This room looks
 * and writes down; it runs no command on a device.
 */
#ifndef MORVEND_SWAP_OWNERSHIP_H
#define MORVEND_SWAP_OWNERSHIP_H

#include <cstdint>
#include <optional>
#include <vector>

#include "core/settings.h"

/*
 * One daemon per directory of swap files: a lock on the directory that the
 * kernel drops when the process ends, however it ends.  Checked again each
 * cycle: when another directory stands at the path, its lock is taken if
 * free; if another daemon holds it, ours is let go (taken), and with it
 * every device, to that daemon.
 */
enum class SwapFileLock { held, taken, no_directory };
SwapFileLock lock_swap_file(Settings &settings);

/*
 * Adopts what the system lists: the devices we used stay ours while they
 * serve, then the largest of ours in service, as many as MAX_DEVICES and
 * MAX_SIZE allow; every other one is stale.  A swap file with no disk
 * over it is removed.  Whether any of the others' swap is encrypted is
 * written down too.  False, changing nothing, when the system could not
 * be read.
 */
bool survey_devices(Settings &settings);

/*
 * Before a unit of the record is swapped off or detached: forgets every
 * one that the system no longer lists as a disk over the swap file, as
 * its number may be another program's by now.  False, forgetting nothing,
 * when the system could not be read.
 */
bool forget_units_not_listed(Settings &settings);

/* Whether the record holds the unit, as ours in use or as stale. */
bool record_holds(const Settings &settings, int unit);

/* Whether the record holds the unit as ours in use. */
bool record_uses(const Settings &settings, int unit);

/* The record's device of that unit, in use; none if it holds none. */
const SwapDevice *record_device(const Settings &settings, int unit);

/* A new device of ours serves. */
void put_in_service(Settings &settings, const SwapDevice &device);

/* One that served no longer counts as in use (it may still be stale). */
void take_out_of_service(Settings &settings, int unit);

/* A unit of ours to retire later, as far as it got (again, if held). */
void remember_stale(Settings &settings, const StaleDevice &device);

/* A stale unit that is gone now. */
void forget_stale(Settings &settings, int unit);

/* One of ours as the system lists it; mib is 0 when not swapped on. */
struct OurDevice {
	int unit;
	bool swapped_on;
	std::int32_t mib;
	bool encrypted;
};

/*
 * At stop: every disk over the swap file that the system lists becomes a
 * stale device, to be retired, the record's own first; the record holds
 * nothing else.  Returns them as listed; nothing, changing nothing, when
 * the system could not be read.
 */
std::optional<std::vector<OurDevice>> mark_listed_stale(Settings &settings);

#endif
