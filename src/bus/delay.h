// Millisecond busy wait on the monotonic clock.
#pragma once

#include <functional>

namespace demodctl {

// Returns after at least `ms` milliseconds; spins on the clock, never sleeps.
// delay_ms(0) and negative values return at once.
void delay_ms(int ms);

// Tests replace the wait with a recorder; an empty hook restores the clock.
void set_delay_hook(std::function<void(int)> hook);

}  // namespace demodctl
