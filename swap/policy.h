/*
 * When to grow or shrink, and how: pure functions of one reading and the
 * record, so the whole policy can be read, and tested, in one place.  The
 * rest of the daemon carries out what they chose.
 */
#ifndef MORVEND_SWAP_POLICY_H
#define MORVEND_SWAP_POLICY_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/settings.h"
#include "swap/parse.h"

enum class Direction { grow, shrink };

/*
 * One step: bring up a device of new_size MiB (none for 0), then take out
 * our device with the unit replaced (none for -1).  A grow adds a device
 * beside ours while MAX_DEVICES leaves room, else replaces the smallest by
 * a larger one; a shrink retires the emptiest of several whole, or
 * replaces the only one by a smaller one.
 */
struct Resize {
	Direction direction;
	int replaced = -1;
	std::int32_t new_size = 0;

	bool operator==(const Resize &) const = default;
};

/* How many devices of ours may serve at once: MAX_DEVICES, at least 1. */
std::size_t device_slots(const Settings &settings);

/*
 * Whether choosing needs to know what each of our devices holds, from
 * swapctl -l -m: only a shrink among several devices does.
 */
bool needs_device_use(std::int64_t free_swap, const Settings &settings);

/* The next grow, whatever the bounds say. */
Resize next_grow(const Settings &settings);

/* What keeps the next grow from going ahead, if anything. */
enum class GrowBound { none, max_size, kernel_limit };
GrowBound grow_bound(const Settings &settings);

/*
 * What one reading calls for: the step, if any, and when free swap called
 * for a grow that a bound refused, which bound (MAX_SIZE and 32 bits, or
 * the kernel's limit).
 */
struct Decision {
	std::optional<Resize> resize;
	GrowBound refused_by = GrowBound::none;

	bool operator==(const Decision &) const = default;
};

/*
 * The decision for one reading of free swap (MiB), given the swap areas
 * in service when needs_device_use asks for them.
 */
Decision choose_resize(std::int64_t free_swap, const Settings &settings,
    const std::vector<SwapArea> &areas = {});

/*
 * Whether new devices go in service encrypted, as /dev/mdN.eli: ENCRYPT 1
 * yes, any other value no; left out (-1), as the system's own swap is.
 */
bool choose_encryption(std::int32_t encrypt, bool system_swap_encrypted);

/*
 * Which of our devices in service a daemon keeps when it looks at the
 * system afresh: those the record holds, then the largest, as many as
 * MAX_DEVICES allows and within MAX_SIZE.  The rest are retired.
 */
std::vector<SwapDevice> choose_devices_to_keep(const Settings &settings,
    std::vector<SwapDevice> serving);

/*
 * The size of the next grow's file to keep written ahead, MiB: what the
 * next grow would write, while WRITE_AHEAD is 1 and a grow is allowed;
 * else 0, none.
 */
std::int32_t file_ahead_size(const Settings &settings);

/*
 * Whether a file ahead of mib MiB may be written, or kept: once it is
 * whole, the space free beside it (free_mib now, held_mib what it holds
 * already) must be at least its own size, so it never takes the last
 * free space from other programs.
 */
bool room_for_file_ahead(std::int32_t mib, std::int64_t free_mib,
    std::int64_t held_mib);

/*
 * The pause after a cycle, in milliseconds: QUICK_WAIT while free swap is
 * under twice GROW_BUFFER and a grow is still allowed, else WAIT_TIME.
 * Nothing read (free_swap empty) waits WAIT_TIME.
 */
std::int64_t pause_after(std::optional<std::int64_t> free_swap,
    const Settings &settings);

#endif
