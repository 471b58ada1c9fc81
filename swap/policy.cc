#include "swap/policy.h"

#include <algorithm>
#include <climits>

namespace {

/*
 * The size after a step (negative for a shrink), never below 0.  Only
 * sizes that passed the bounds get here, so the sum fits 32 bits.
 */
std::int32_t
stepped(std::int64_t mib, std::int64_t step)
{
	return static_cast<std::int32_t>(std::max<std::int64_t>(mib + step, 0));
}

/* MAX_SIZE bounds the sum of our devices; 32 bits bound it too. */
std::int64_t
size_bound(const Settings &settings)
{
	return settings.max_size == 0 ? INT32_MAX : settings.max_size;
}

/* What the system shows in use on one of our devices; none if not listed. */
std::int32_t
used_on(int unit, const std::vector<SwapArea> &areas)
{
	for (const SwapArea &area : areas) {
		if (area.unit == unit)
			return area.used;
	}
	return 0;
}

/*
 * Of several devices, the one that holds least: the fewest pages to bring
 * back in, which FreeBSD spreads over all devices.  Only while free swap
 * stays at or above the floor without it, else another grow would follow.
 */
std::optional<Resize>
shrink_step(std::int64_t free_swap, const Settings &settings,
    const std::vector<SwapArea> &areas)
{
	const SwapDevice &first = settings.devices.front();

	if (settings.devices.size() == 1)
		return Resize{ Direction::shrink, first.unit,
			stepped(first.mib,
			    -std::int64_t{ settings.delta_size }) };
	const SwapDevice *emptiest = &first;
	for (const SwapDevice &device : settings.devices) {
		if (used_on(device.unit, areas) <
		    used_on(emptiest->unit, areas))
			emptiest = &device;
	}
	if (free_swap - emptiest->mib < settings.grow_buffer)
		return std::nullopt;
	return Resize{ Direction::shrink, emptiest->unit, 0 };
}

bool
shrink_due(std::int64_t free_swap, const Settings &settings)
{
	/* Only the swap we attached ourselves is ever taken away. */
	return free_swap >= settings.grow_buffer &&
	    current_size(settings) > 0 && free_swap > settings.reduce_buffer;
}

}

Resize
next_grow(const Settings &settings)
{
	if (settings.devices.size() < device_slots(settings))
		return Resize{ Direction::grow, -1,
			stepped(0, settings.delta_size) };
	auto smallest = std::min_element(settings.devices.begin(),
	    settings.devices.end(),
	    [](const SwapDevice &a, const SwapDevice &b) {
		    return a.mib < b.mib;
	    });
	return Resize{ Direction::grow, smallest->unit,
		stepped(smallest->mib, settings.delta_size) };
}

std::size_t
device_slots(const Settings &settings)
{
	return static_cast<std::size_t>(std::max(settings.max_devices, 1));
}

bool
needs_device_use(std::int64_t free_swap, const Settings &settings)
{
	return shrink_due(free_swap, settings) && settings.devices.size() > 1;
}

Decision
choose_resize(std::int64_t free_swap, const Settings &settings,
    const std::vector<SwapArea> &areas)
{
	if (free_swap < settings.grow_buffer) {
		const GrowBound bound = grow_bound(settings);
		return bound == GrowBound::none ?
		    Decision{ next_grow(settings) } :
		    Decision{ std::nullopt, bound };
	}
	if (shrink_due(free_swap, settings))
		return Decision{ shrink_step(free_swap, settings, areas) };
	return Decision{};
}

/*
 * FreeBSD tracks at most vm.swap_maxpages of swap, and warns past half of
 * it; past all of it the kernel kills the largest process, which is what
 * we are here to prevent.  So the system's total stays within half.
 */
GrowBound
grow_bound(const Settings &settings)
{
	if (current_size(settings) + settings.delta_size > size_bound(settings))
		return GrowBound::max_size;
	if (settings.kernel_swap_limit > 0) {
		const Resize step = next_grow(settings);
		std::int64_t replaced_mib = 0;
		for (const SwapDevice &device : settings.devices) {
			if (device.unit == step.replaced)
				replaced_mib = device.mib;
		}
		if (settings.system_swap - replaced_mib + step.new_size >
		    settings.kernel_swap_limit)
			return GrowBound::kernel_limit;
	}
	return GrowBound::none;
}

bool
choose_encryption(std::int32_t encrypt, bool system_swap_encrypted)
{
	if (encrypt == -1)
		return system_swap_encrypted;
	return encrypt == 1;
}

std::vector<SwapDevice>
choose_devices_to_keep(const Settings &settings,
    std::vector<SwapDevice> serving)
{
	auto held = [&](const SwapDevice &device) {
		return std::any_of(settings.devices.begin(),
		    settings.devices.end(), [&](const SwapDevice &used) {
			    return used.unit == device.unit;
		    });
	};
	std::stable_sort(serving.begin(), serving.end(),
	    [&](const SwapDevice &a, const SwapDevice &b) {
		    if (held(a) != held(b))
			    return held(a);
		    return a.mib > b.mib;
	    });

	/* One too large to fit may leave room for a smaller one. */
	std::vector<SwapDevice> keep;
	std::int64_t kept_mib = 0;
	for (const SwapDevice &device : serving) {
		if (keep.size() == device_slots(settings))
			break;
		if (kept_mib + device.mib > size_bound(settings))
			continue;
		keep.push_back(device);
		kept_mib += device.mib;
	}
	return keep;
}

std::int32_t
file_ahead_size(const Settings &settings)
{
	if (settings.write_ahead != 1 ||
	    grow_bound(settings) != GrowBound::none)
		return 0;
	return next_grow(settings).new_size;
}

bool
room_for_file_ahead(std::int32_t mib, std::int64_t free_mib,
    std::int64_t held_mib)
{
	return free_mib + held_mib - mib >= mib;
}

std::int64_t
pause_after(std::optional<std::int64_t> free_swap, const Settings &settings)
{
	/* sleep(0) would spin: a WAIT_TIME of 0 or less waits a second. */
	const std::int64_t seconds = std::max(settings.wait_time, 1);
	const std::int64_t short_of_swap = 2LL * settings.grow_buffer;

	/* While swap runs short and we may still add, look again soon. */
	if (settings.quick_wait > 0 && free_swap &&
	    *free_swap < short_of_swap &&
	    grow_bound(settings) == GrowBound::none)
		return std::min<std::int64_t>(settings.quick_wait,
		    seconds * 1000);
	return seconds * 1000;
}
