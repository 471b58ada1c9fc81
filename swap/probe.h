/*
 * What the system reports: the swap totals, which devices serve as swap,
 * which memory disks exist.  Each answer is read afresh; nothing when the
 * tool could not be run or printed something else: a broken probe must
 * not read as a machine out of swap, nor a broken listing as no devices.
 */
#ifndef MORVEND_SWAP_PROBE_H
#define MORVEND_SWAP_PROBE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/journal.h"
#include "swap/parse.h"

/* Swap readings, in MiB. */
std::optional<std::int32_t> probe_swap_total(Journal &journal);
std::optional<std::int32_t> probe_swap_used(Journal &journal);

std::optional<std::vector<SwapArea>> list_swap_areas(Journal &journal);

/*
 * MiB the system's total swap is kept within, from the kernel's limit;
 * nothing when sysctl cannot tell, which sysctl itself says.
 */
std::optional<std::int64_t> probe_kernel_swap_limit();
std::optional<std::vector<MemoryDisk>> list_memory_disks(Journal &journal);

/*
 * Whether the system has the unit in service, attached at all, or
 * attached as a vnode disk over the file (a resolved path).
 */
std::optional<bool> device_in_service(Journal &journal, int unit);
std::optional<bool> device_attached(Journal &journal, int unit);
std::optional<bool> device_over_file(Journal &journal, int unit,
    const std::string &file);

#endif
