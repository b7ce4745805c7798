#pragma once

#include <memory>

#include "sim/simulated_hid.h"

namespace tensivo::sim {

// The demo's world on the wall clock: two devices of our kind with moving
// inputs and different stored gains, beside a foreign keyboard. Within every
// 30 s the last-listed device is unplugged from 12 s to 26 s and the other
// from 22 s to 26 s, so the window shows a switch to the remaining device, a
// search with none, and both coming back.
std::unique_ptr<SimulatedHid> MakeDemoWorld();

}  // namespace tensivo::sim
