#pragma once

#include <memory>

#include "sim/simulated_hid.h"

namespace tensivo::sim {

// The demo's world on the wall clock: two devices of our kind with moving
// inputs and different stored gains, beside a foreign keyboard. Slow enough
// for a person to pick, switch and watch, on a 2-minute cycle: 24-0230, the
// one the window opens, is away from 60 s to 100 s, so the window turns to
// 24-0017; that one is away from 80 s to 100 s, so the window searches with
// none; at 100 s both come back and the window opens 24-0230 again.
std::unique_ptr<SimulatedHid> MakeDemoWorld();

}  // namespace tensivo::sim
