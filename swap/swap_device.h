/*
 * The daemon's own swap: a zero-filled file at swap_file, attached as a
 * vnode memory disk and activated as swap, replaced whole on each resize.
 * Its size and unit live in the Settings record; nothing is kept here.
 */
#ifndef MORVEND_SWAP_SWAP_DEVICE_H
#define MORVEND_SWAP_SWAP_DEVICE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "swap/parse.h"

/*
 * Swap readings in MiB.  Nothing when swapctl could not be run or printed
 * no number: a broken probe must not read as a machine out of swap.
 */
std::optional<std::int32_t> probe_swap_total(Journal &journal);
std::optional<std::int32_t> probe_swap_used(Journal &journal);

/* The listings as the system gives them now. */
std::optional<std::vector<SwapArea>> list_swap_areas(Journal &journal);
std::optional<std::vector<MemoryDisk>> list_memory_disks(Journal &journal);

/* Whether the system has the unit in service, or attached at all. */
std::optional<bool> device_in_service(Journal &journal, int unit);
std::optional<bool> device_attached(Journal &journal, int unit);

/* The directory the swap file lies in: "." for a bare name. */
std::string swap_directory(const std::string &swap_file);

/* The one place that removes the swap file's name. */
void remove_swap_file_name(const std::string &swap_file);

/* Creates the swap file's directory, one level, mode 0755. */
bool prepare_swap_directory(const std::string &swap_file);

/*
 * One daemon per swap file: a lock on its directory that the kernel drops
 * when the process ends, however it ends.
 */
enum class SwapFileLock { held, taken, no_directory };
SwapFileLock lock_swap_file(Settings &settings);

/*
 * Reads from the system which memory disks are ours (vnode disks over the
 * swap file) and makes the record agree: our device stays ours while it
 * serves, else the largest of ours in service becomes it, and every other
 * one is stale.  False, changing nothing, when the system could not be read.
 */
bool survey_devices(Settings &settings);

/*
 * The path mdconfig -l -v shows for disks over the swap file: its
 * directory resolved, then its last component.  Nothing, errno set, while
 * the directory cannot be resolved.
 */
std::optional<std::string> resolve_swap_file(const std::string &swap_file);

/*
 * Before a unit of the record is swapped off or detached: forgets every
 * one that the system no longer lists as a disk over the swap file, as
 * its number may be another program's by now.  False, forgetting nothing,
 * when the system could not be read.
 */
bool forget_units_not_ours(Settings &settings);

/* Whether the record holds the unit, as ours in use or as stale. */
bool device_known(const Settings &settings, int unit);

/*
 * True once the swap file is ours and the record agrees with the system;
 * until then the daemon touches nothing.
 */
bool know_our_devices(Settings &settings);

/*
 * Whether a file of the given bytes fits in the blocks free to non-root,
 * as statvfs(3) gives them.
 */
bool fits_in_free_space(std::uint64_t free_blocks, std::uint64_t total_blocks,
    std::uint64_t block_size, std::int64_t bytes);

/*
 * Why the swap file's file system (ZFS, NFS, tmpfs) makes swapping to a
 * file unsound, naming both; empty when it does not.
 */
std::string unsound_file_system(const std::string &swap_file);

/*
 * Writes a fresh swap file of the given size, mode 0600 from the start.
 * Fails, leaving no file behind and errno set, when it would not fit or a
 * write fails.
 */
bool fill_swap_file(const std::string &path, std::int32_t mib);

/* Attaches the file under a random free unit; returns the unit or -1. */
int attach_swap_device(Journal &journal, const std::string &path);

/*
 * Swap on, swap off, detach.  A swap off or detach that the tool refuses
 * still counts when the system shows the device already off or gone.
 */
bool activate_device(Journal &journal, int unit);
bool deactivate_device(Journal &journal, int unit);
bool detach_device(Journal &journal, int unit);

/*
 * Deactivates a device if it still serves, then detaches it: true when it
 * is gone, else the record says how far it got.
 */
bool retire_device(Journal &journal, StaleDevice &device);

/*
 * The resize policy.  A resize replaces our device by one of new_size MiB
 * (none for 0).  resized_size is the size a step in that direction would
 * give, or nothing when MAX_SIZE or 32 bits refuse it; choose_resize is
 * what one reading of free swap (MiB) calls for.
 */
struct Resize {
	Direction	direction;
	std::int32_t	new_size;

	bool operator==(const Resize &) const = default;
};
std::optional<std::int32_t> resized_size(const Settings &settings,
    Direction direction);
std::optional<Resize> choose_resize(std::int64_t free_swap,
    const Settings &settings);

/*
 * Replaces the daemon's device by one delta_size larger or smaller.  The
 * old device is retired only once the new one is in service; on any
 * failure the old one stays and the result is false.
 */
bool resize_swap(Settings &settings, Direction direction);

/*
 * Retires the devices that could not be retired when they were given up;
 * true when none is left.
 */
bool retire_stale_devices(Settings &settings);

/*
 * At stop: removes the swap file's name and retires the device, retrying
 * for a while a swapoff that is refused for want of memory.
 */
void release_swap(Settings &settings);

/*
 * The log of what the daemon does: syslog(3) as "morvend", facility daemon,
 * when SYSLOG is 1, else nowhere.  A failed step is told with what failed
 * and why; one that recurs in the next cycles is told once, and once more
 * when a cycle passes without a failure.
 */
void open_journal(Settings &settings);
void close_journal(Settings &settings);
[[gnu::format(printf, 2, 3)]]
void journal_info(const Journal &journal, const char *format, ...);
[[gnu::format(printf, 2, 3)]]
void journal_warning(const Journal &journal, const char *format, ...);
[[gnu::format(printf, 2, 3)]]
void journal_failure(Journal &journal, const char *format, ...);
void journal_cycle_done(Journal &journal);

#endif
