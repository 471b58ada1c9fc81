/* The poll cycle. */
#ifndef MORVEND_CORE_CONTROL_LOOP_H
#define MORVEND_CORE_CONTROL_LOOP_H

#include <cstdint>
#include <optional>

#include "core/settings.h"

/*
 * One cycle: look at the system, decide, resize at most once.  Returns
 * free swap as read, MiB; nothing when it could not be read.
 */
std::optional<std::int64_t> poll_cycle(Settings &settings);

/*
 * Polls every wait_time seconds (or quick_wait milliseconds while swap
 * runs short) until a stop signal clears running.
 */
void control_loop(Settings &settings);

#endif
