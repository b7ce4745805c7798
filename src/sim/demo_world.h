#pragma once

#include <memory>

#include "sim/simulated_hid.h"

namespace tensivo::sim {

// The demo's world on the wall clock: two devices of our kind with moving
// inputs and different stored gains, beside a foreign keyboard. Slow enough
// for a person to pick, switch and watch: 24-0017 is unplugged from 80 s to
// 90 s of every 100 s; 24-0230, the one the window opens, stays for 4 min 40 s
// and is away from 280 s to 290 s of every 5 minutes, together with 24-0017,
// so the window also shows a search with none and both coming back.
std::unique_ptr<SimulatedHid> MakeDemoWorld();

}  // namespace tensivo::sim
