/*
 * The daemon's own swap: zero-filled files at swap_file, each attached as a
 * vnode memory disk and activated as swap, replaced whole or added beside
 * the others on each resize.  Their sizes and units live in the Settings
 * record; nothing is kept here.
 */
#ifndef MORVEND_SWAP_SWAP_DEVICE_H
#define MORVEND_SWAP_SWAP_DEVICE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "swap/parse.h"
#include "swap/policy.h"

/*
 * What the system reports.  Swap readings are in MiB, and nothing when
 * swapctl could not be run or printed no number: a broken probe must not
 * read as a machine out of swap.
 */
std::optional<std::int32_t> probe_swap_total(Journal &journal);
std::optional<std::int32_t> probe_swap_used(Journal &journal);
std::optional<std::vector<SwapArea>> list_swap_areas(Journal &journal);
std::optional<std::vector<MemoryDisk>> list_memory_disks(Journal &journal);

/*
 * Whether the system has the unit in service, attached at all, or
 * attached as a vnode disk over the file (a resolved path).
 */
std::optional<bool> device_in_service(Journal &journal, int unit);
std::optional<bool> device_attached(Journal &journal, int unit);
std::optional<bool> device_over_file(Journal &journal, int unit,
    const std::string &file);

/*
 * The swap file and its directory.
 */

/* The directory the swap file lies in: "." for a bare name. */
std::string swap_directory(const std::string &swap_file);

/*
 * The path mdconfig -l -v shows for disks over the swap file: its
 * directory resolved, then its last component.  Nothing, errno set, while
 * the directory cannot be resolved.
 */
std::optional<std::string> resolve_swap_file(const std::string &swap_file);

/* Creates the swap file's directory, one level, mode 0755. */
bool prepare_swap_directory(const std::string &swap_file);

/* The one place that removes the swap file's name. */
void remove_swap_file_name(const std::string &swap_file);

/*
 * One daemon per directory of swap files: a lock on the directory that the
 * kernel drops when the process ends, however it ends.
 */
enum class SwapFileLock { held, taken, no_directory };
SwapFileLock lock_swap_file(Settings &settings);

/*
 * Why the swap file's file system (ZFS, NFS, tmpfs) makes swapping to a
 * file unsound, naming both; empty when it does not.
 */
std::string unsound_file_system(const std::string &swap_file);

/*
 * Whether a file of the given bytes fits in the blocks free to non-root,
 * as statvfs(3) gives them.
 */
bool fits_in_free_space(std::uint64_t free_blocks, std::uint64_t total_blocks,
    std::uint64_t block_size, std::int64_t bytes);

/*
 * Writes a fresh swap file of the given size, mode 0600 from the start.
 * Fails, leaving no file behind and errno set, when it would not fit or a
 * write fails.
 */
bool fill_swap_file(const std::string &path, std::int32_t mib);

/*
 * Which devices are ours: every vnode disk over the swap file, as the
 * system lists it; the record is only a memory of that.
 */

/* One of ours as the system lists it; mib is 0 when not in service. */
struct OurDevice {
	int unit;
	bool in_service;
	std::int32_t mib;
};

/*
 * Makes the record agree with the system: the devices we used stay ours
 * while they serve, then the largest of ours in service, up to MAX_DEVICES;
 * every other one is stale.  False, changing nothing, when the system could
 * not be read.
 */
bool survey_devices(Settings &settings);

/*
 * Before a unit of the record is swapped off or detached: forgets every
 * one that the system no longer lists as a disk over the swap file, as
 * its number may be another program's by now.  False, forgetting nothing,
 * when the system could not be read.
 */
bool forget_units_not_ours(Settings &settings);

/*
 * At stop: every disk over the swap file that the system lists becomes a
 * stale device, to be retired, the record's own first; the record holds
 * nothing else.  Returns them as listed; nothing, changing nothing, when
 * the system could not be read.
 */
std::optional<std::vector<OurDevice>> give_up_every_device(Settings &settings);

/* Whether the record holds the unit, as ours in use or as stale. */
bool record_holds(const Settings &settings, int unit);

/*
 * The memory-disk and swap commands.  When a tool reports a failure the
 * system is asked what became of the step: it may have gone through
 * before the tool died, or been done already by hand.
 */

/*
 * Attaches the file under a random free unit that is not held; returns
 * the unit or -1, also when it cannot tell whether a refused attach left
 * a disk behind.
 */
int attach_swap_device(Journal &journal, const std::string &path,
    const std::function<bool(int)> &held);

/* Whether the unit serves as swap now; nothing when that is unknown. */
std::optional<bool> activate_device(Journal &journal, int unit);

/*
 * Deactivates a device if it still serves, then detaches it: true when it
 * is gone, else the device says how far it got.  Nothing more is run on a
 * unit in a pass after a command on it was refused.
 */
bool retire_device(Journal &journal, StaleDevice &device);

/*
 * Resize and release.
 */

/*
 * Carries out the chosen step: brings up the new device, if any, then
 * retires the one it replaces, if any, and only once the new one is in
 * service; on any failure the old one stays.  False when it stopped early
 * or lost track of a device: the record is then in doubt.
 */
bool resize_swap(Settings &settings, const Resize &resize);

/*
 * Retires the devices that could not be retired when they were given up;
 * true when none is left.
 */
bool retire_stale_devices(Settings &settings);

/*
 * At stop: removes the swap file's name and retires every disk over the
 * swap file that the system lists, whatever the record holds, retrying for
 * a while a swapoff that is refused for want of memory.
 */
void release_swap(Settings &settings);

#endif
