// The window's own work per timer tick and per details read. Simulated
// devices keep device I/O next to nothing, so what is left is ours: reading
// and decoding the reports, setting the bars, repainting them, searching.
//
// Each figure is timed by hand around the window's own call, so that queueing
// the next report and clearing the backend's call log stay outside it.
#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <chrono>
#include <functional>
#include <thread>
#include <memory>

#include "bench_world.h"
#include "platform/linux_hidraw.h"
#include "qt_bench.h"
#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace {

using tensivo::bench::Connected;
using tensivo::bench::kForeignInterfaces;
using tensivo::bench::LoadWithoutTimer;
using tensivo::sim::SimulatedHid;
using tensivo::window::frmMain;
using tensivo::window::qt::QtForm;
using Clock = std::chrono::steady_clock;

// A whole details read with a device: reset, three gain lists of 2560 entries
// refilled and selected, strings, version and the configuration read-back.
void BM_ReadDeviceDetails(benchmark::State& state) {
  Connected<QtForm> world;
  if (world.window->state().DeviceFound != tensivo::device::kTrue) {
    state.SkipWithError("the device was not found");
    return;
  }
  for (auto _ : state) {
    world.hid.ClearLogs();
    const auto start = Clock::now();
    world.window->Read_Device_Details();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  state.counters["gain_entries"] = world.window->LC3_gain.ListCount();
  QCoreApplication::processEvents();
}
BENCHMARK(BM_ReadDeviceDetails)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One connected tick: read of one new report, decode, the bars that moved set
// and repainted by the tick's own event pump. The argument is how many of the
// seven fitted bars move on every tick, each to a new random place, so that
// about half grow and half shrink: 7 is the dearest tick there is, 0 a device
// at rest.
// `ready` runs once the window shows the device, before the first tick;
// with a `pace`, the ticks come that far apart, as the window's timer has them.
void TimeConnectedTicks(benchmark::State& state, const std::function<void()>& ready = {},
                        Clock::duration pace = {}) {
  Connected<QtForm> world;
  if (world.window->state().DeviceFound != tensivo::device::kTrue) {
    state.SkipWithError("the device was not found");
    return;
  }
  const auto bars = world.window->Bars();
  tensivo::bench::MovingBars reports(static_cast<std::size_t>(state.range(0)));
  std::int64_t moved = 0;
  if (ready) ready();
  auto next = Clock::now();
  for (auto _ : state) {
    if (pace > Clock::duration{}) {
      std::this_thread::sleep_until(next += pace);
    }
    world.hid.PushInput(world.device, reports.Next());
    world.hid.ClearLogs();
    std::array<double, tensivo::device::kBarCount> before{};
    for (std::size_t i = 0; i < bars.size(); ++i) before[i] = bars[i]->Width();
    const auto start = Clock::now();
    world.window->Timer_Timer();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    for (std::size_t i = 0; i < bars.size(); ++i) moved += bars[i]->Width() != before[i] ? 1 : 0;
  }
  if (world.window->state().DeviceFound != tensivo::device::kTrue) {
    state.SkipWithError("the device was lost during the ticks");
  }
  state.counters["bars_moved"] =
      benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kAvgIterations);
}

void BM_ConnectedTick(benchmark::State& state) { TimeConnectedTicks(state); }
BENCHMARK(BM_ConnectedTick)->Arg(7)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The same with a screen reader listening: Qt's bridge to the AT-SPI bus
// switched on, and a listener for value changes registered, so that each
// announcement of a bar's value goes out over D-Bus. The ticks come 20 ms
// apart, as the window's timer has them, so that the announcements the
// window lets out weigh on the ticks as they do in use. Runs only in such a
// session (bench/run starts one through tests/atspi/run).
void BM_ConnectedTickScreenReader(benchmark::State& state) {
  TimeConnectedTicks(
      state,
      [&state] {
        // The bridge comes up once a window is shown and the loop has run.
        for (int i = 0; i < 100 && !QAccessible::isActive(); ++i) {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        if (!QAccessible::isActive()) state.SkipWithError("no assistive technology is listening");
      },
      std::chrono::milliseconds(20));
}
BENCHMARK(BM_ConnectedTickScreenReader)
    ->Arg(7)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// One search tick with no device of ours and 64 foreign interfaces present:
// enumeration, both searches and the details reset. `foreign_opens` counts
// every open of a foreign interface and must stay 0.
void BM_SearchTick64Foreign(benchmark::State& state) {
  SimulatedHid hid;
  const auto foreign = tensivo::bench::AddForeignInterfaces(hid);
  QtForm form;
  frmMain window(hid, form);
  LoadWithoutTimer(window, form);
  for (auto _ : state) {
    hid.ClearLogs();
    const auto start = Clock::now();
    window.Timer_Timer();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  int opens = 0;
  for (const auto id : foreign) opens += hid.counters(id).opens;
  state.counters["foreign_opens"] = opens;
  state.counters["interfaces"] = kForeignInterfaces;
  QCoreApplication::processEvents();
}
BENCHMARK(BM_SearchTick64Foreign)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The same tick followed by the repaint it leaves to the event loop, which
// the process pays as well.
void BM_SearchTick64ForeignAndRepaint(benchmark::State& state) {
  tensivo::bench::TimeSimulatedSearchTicks64Foreign(state);
}
BENCHMARK(BM_SearchTick64ForeignAndRepaint)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A search tick on the real backend with whatever this machine has attached
// (on a host without hidraw: none), repaint included.
void BM_SearchTickHidraw(benchmark::State& state) {
  tensivo::platform::LinuxHidraw hid;
  tensivo::bench::TimeSearchTicks(state, hid);
}
BENCHMARK(BM_SearchTickHidraw)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
