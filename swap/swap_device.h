/*
 * The daemon's own swap, as the control loop drives it: zero-filled files
 * at swap_file, each attached as a vnode memory disk and activated as
 * swap, replaced whole or added beside the others on each resize, and all
 * released at stop.  Their sizes and units live in the Settings record.
 */
#ifndef MORVEND_SWAP_SWAP_DEVICE_H
#define MORVEND_SWAP_SWAP_DEVICE_H

#include "core/settings.h"
#include "swap/policy.h"

/*
 * Carries out the chosen step: brings up the new device, if any, then
 * retires the one it replaces, if any, and only once the new one is in
 * service; on any failure the old one stays.  False when it stopped early
 * or lost track of a device: the record is then in doubt.
 */
bool resize_swap(Settings &settings, const Resize &resize);

/*
 * Retries the devices that could not be retired when they were given up,
 * once the system confirms they are still ours; true when none is left.
 */
bool clear_stale_devices(Settings &settings);

/*
 * At stop: removes the swap file's name and the file ahead, and retires
 * every disk over the swap file that the system lists, whatever the
 * record holds, retrying for a while a swapoff that is refused for want
 * of memory.
 */
void release_swap(Settings &settings);

#endif
