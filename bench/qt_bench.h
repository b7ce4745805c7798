// The Qt window's search tick as the benchmarks on the host and in the VM
// time it: the tick and the repaint it leaves to the event loop, which the
// process pays as well.
#pragma once

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>

#include "bench_world.h"
#include "window/qt/qt_form.h"

namespace tensivo::bench {

// Search ticks of a window started on `hid`, each with its repaint; `between`
// runs untimed before each.
inline void TimeSearchTicks(benchmark::State& state, platform::HidPlatform& hid,
                            const std::function<void()>& between = {}) {
  window::qt::QtForm form;
  window::frmMain window(hid, form);
  LoadWithoutTimer(window, form);
  if (window.state().DeviceFound == device::kTrue) {
    state.SkipWithError("a device is attached; this measures the search without one");
    return;
  }
  for (auto _ : state) {
    if (between) between();
    const auto start = std::chrono::steady_clock::now();
    window.Timer_Timer();
    QCoreApplication::processEvents();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

// The same on the simulated backend with 64 foreign interfaces.
inline void TimeSimulatedSearchTicks64Foreign(benchmark::State& state) {
  sim::SimulatedHid hid;
  AddForeignInterfaces(hid);
  TimeSearchTicks(state, hid, [&hid] { hid.ClearLogs(); });
}

}  // namespace tensivo::bench
