/* Swap totals, as the platform's swapctl reports them. */
#include "swap/shell.h"
#include "swap/swap_device.h"

std::optional<std::int32_t>
probe_swap_total()
{
	return read_number(total_swap_command);
}

std::optional<std::int32_t>
probe_swap_used()
{
	return read_number(used_swap_command);
}
