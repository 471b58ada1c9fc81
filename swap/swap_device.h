/*
 * The daemon's own swap: a zero-filled file at swap_file, attached as a
 * vnode memory disk and activated as swap, replaced whole on each resize.
 * Its size and unit live in the Settings record; nothing is kept here.
 */
#ifndef MORVEND_SWAP_SWAP_DEVICE_H
#define MORVEND_SWAP_SWAP_DEVICE_H

#include <cstdint>
#include <optional>

#include "core/settings.h"

/*
 * Swap readings in MiB.  Nothing when swapctl could not be run or printed
 * no number: a broken probe must not read as a machine out of swap.
 */
std::optional<std::int32_t> probe_swap_total();
std::optional<std::int32_t> probe_swap_used();

/* Creates the swap file's directory, one level, mode 0755. */
bool prepare_swap_directory(const Settings &settings);

/*
 * Writes a fresh swap file of current_size MiB, mode 0600 from the start.
 * Fails, leaving no file behind, when it would not fit or a write fails.
 */
bool fill_swap_file(const Settings &settings);

/* Attaches swap_file under a random free unit; returns the unit or -1. */
int attach_swap_device(const Settings &settings);

/* Swap on, swap off, detach: each true when the tool went through. */
bool activate_device(int unit);
bool deactivate_device(int unit);
bool detach_device(int unit);

/*
 * Deactivates a device if it still serves, then detaches it: true when it
 * is gone, else the record says how far it got.
 */
bool retire_device(StaleDevice &device);

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

#endif
