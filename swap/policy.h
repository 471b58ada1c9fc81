/*
 * When to grow or shrink, and to what size: a pure function of one reading
 * and the record, so the whole policy can be read, and tested, in one
 * place.  The rest of the daemon carries out what it chose.
 */
#ifndef MORVEND_SWAP_POLICY_H
#define MORVEND_SWAP_POLICY_H

#include <cstdint>
#include <optional>

#include "core/settings.h"

enum class Direction { grow, shrink };

/* Our device is to be replaced by one of new_size MiB (none for 0). */
struct Resize {
	Direction direction;
	std::int32_t new_size;

	bool operator==(const Resize &) const = default;
};

/*
 * What one reading of free swap (MiB) calls for; nothing when it calls for
 * no change, or when MAX_SIZE or 32 bits refuse the step.
 */
std::optional<Resize> choose_resize(std::int64_t free_swap,
    const Settings &settings);

#endif
