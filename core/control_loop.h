/* The poll cycle. */
#ifndef MORVEND_CORE_CONTROL_LOOP_H
#define MORVEND_CORE_CONTROL_LOOP_H

#include "core/settings.h"

/* One cycle: look at the system, decide, resize at most once. */
void poll_cycle(Settings &settings);

/* Polls every wait_time seconds until a stop signal clears running. */
void control_loop(Settings &settings);

#endif
