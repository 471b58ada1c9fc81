#include "swap/policy.h"

#include <algorithm>
#include <climits>

namespace {

/* The size a step in that direction gives, unless it is refused. */
std::optional<std::int32_t>
stepped_size(const Settings &settings, Direction direction)
{
	std::int64_t step = settings.delta_size;

	if (direction == Direction::shrink)
		step = -step;
	const std::int64_t wanted = settings.current_size + step;

	if (wanted > INT32_MAX)
		return std::nullopt;
	if (direction == Direction::grow && settings.max_size != 0 &&
	    wanted > settings.max_size)
		return std::nullopt;
	return static_cast<std::int32_t>(std::max<std::int64_t>(wanted, 0));
}

}

std::optional<Resize>
choose_resize(std::int64_t free_swap, const Settings &settings)
{
	std::optional<Direction> direction;

	if (free_swap < settings.grow_buffer)
		direction = Direction::grow;
	/* Only the swap we attached ourselves is ever taken away. */
	else if (settings.current_size > 0 &&
	    free_swap > settings.reduce_buffer)
		direction = Direction::shrink;
	if (!direction)
		return std::nullopt;
	auto new_size = stepped_size(settings, *direction);
	if (!new_size)
		return std::nullopt;
	return Resize{ *direction, *new_size };
}
