/*
 * The memory-disk and swap commands on one unit.  When a tool reports a
 * failure the system is asked what became of the step: it may have gone
 * through before the tool died, or been done already by hand.
 */
#ifndef MORVEND_SWAP_MD_DEVICE_H
#define MORVEND_SWAP_MD_DEVICE_H

#include <functional>
#include <optional>
#include <string>

#include "core/journal.h"

/*
 * Attaches the file under a random free unit that is not held; returns
 * the unit or -1, also when it cannot tell whether a refused attach left
 * a disk behind.
 */
int attach_swap_device(Journal &journal, const std::string &path,
    const std::function<bool(int)> &held);

/*
 * Swaps on the unit, through geli's one-time layer when encrypted.
 * Whether it serves as swap now; nothing when that is unknown.
 */
std::optional<bool> activate_device(Journal &journal, int unit, bool encrypted);

/*
 * Deactivates a device if it still serves, then detaches it: true when it
 * is gone, else swapped_on says how far it got.  geli's layer goes a
 * moment after its swapoff: a detach refused meanwhile is retried in the
 * next pass, like any other.  Nothing more is run on a
 * unit in a pass after a command on it was refused.
 */
bool retire_device(Journal &journal, int unit, bool encrypted,
    bool &swapped_on);

#endif
