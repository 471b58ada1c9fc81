/* The control loop: poll cycles and the pauses between them. */
#ifndef MORVEND_DAEMON_CONTROL_LOOP_H
#define MORVEND_DAEMON_CONTROL_LOOP_H

#include "core/settings.h"

/*
 * Polls every wait_time seconds (or quick_wait milliseconds while swap
 * runs short) until a stop signal clears running.
 */
void control_loop(Settings &settings);

#endif
