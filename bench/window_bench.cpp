// The window's own work per timer tick and per details read. Simulated
// devices keep device I/O next to nothing, so what is left is ours: reading
// and decoding the reports, setting the bars, repainting them, searching.
//
// Ticks are timed by hand around Timer_Timer alone, so that queueing the
// next report and clearing the backend's call log stay outside the figure.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QTimer>
#include <chrono>
#include <memory>

#include "platform/hidapi_hid.h"
#include "platform/simulated_hid.h"
#include "window/frm_main.h"
#include "window/shape.h"

namespace {

using tensivo::platform::DeviceModel;
using tensivo::platform::SimulatedHid;
using tensivo::window::frmMain;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kInputMask = 0x08;  // input 4 not fitted: seven bars move
constexpr int kForeignInterfaces = 64;

// A shown window whose ticks the benchmark drives.
void LoadWithoutTimer(frmMain& window) {
  window.Form_Load();
  window.Timer->stop();
  QCoreApplication::processEvents();  // the first paint is not part of any tick
}

struct Connected {
  SimulatedHid hid;
  SimulatedHid::DeviceId device;
  std::unique_ptr<frmMain> window;

  Connected() {
    tensivo::platform::SimulatedDeviceSpec spec;
    spec.serial = u"BENCH";
    device = hid.AddDevice(spec);
    hid.model(device).set_input_mask(kInputMask);
    window = std::make_unique<frmMain>(hid);
    LoadWithoutTimer(*window);
  }
};

// A whole details read with a device: reset, three gain lists of 2560 entries
// refilled and selected, strings, version and the configuration read-back.
void BM_ReadDeviceDetails(benchmark::State& state) {
  Connected world;
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
  state.counters["gain_entries"] = world.window->LC3_gain->count();
  QCoreApplication::processEvents();
}
BENCHMARK(BM_ReadDeviceDetails)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One connected tick: read of one new report, decode, the bars that moved set
// and repainted by the tick's own event pump. Every value changes on every
// tick, so all seven fitted bars move each time: the dearest tick there is.
void BM_ConnectedTick(benchmark::State& state) {
  Connected world;
  if (world.window->state().DeviceFound != tensivo::device::kTrue) {
    state.SkipWithError("the device was not found");
    return;
  }
  const auto bars = world.window->Bars();
  std::vector<std::uint8_t> report(17, 0);
  std::array<std::uint16_t, 8> values{};
  std::uint16_t v = 0;
  std::int64_t moved = 0;
  for (auto _ : state) {
    values.fill(v += 997);
    DeviceModel::EncodeInputReport(values, kInputMask, std::span(report).subspan(1));
    world.hid.PushInput(world.device, report);
    world.hid.ClearLogs();
    const double before = bars[0]->Width();
    const auto start = Clock::now();
    world.window->Timer_Timer();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    moved += bars[0]->Width() != before ? 1 : 0;
  }
  if (world.window->state().DeviceFound != tensivo::device::kTrue) {
    state.SkipWithError("the device was lost during the ticks");
  }
  // Share of ticks that moved LC1's bar; 1 unless rounding kept a width.
  state.counters["moved"] = benchmark::Counter(static_cast<double>(moved),
                                               benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ConnectedTick)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One search tick with no device of ours and 64 foreign interfaces present:
// enumeration, both searches and the details reset. `foreign_opens` counts
// every open of a foreign interface and must stay 0.
void BM_SearchTick64Foreign(benchmark::State& state) {
  SimulatedHid hid;
  std::vector<SimulatedHid::DeviceId> foreign;
  for (int i = 0; i < kForeignInterfaces; ++i) {
    foreign.push_back(hid.AddForeign(static_cast<std::uint16_t>(0x1000 + i), 0x0001));
  }
  frmMain window(hid);
  LoadWithoutTimer(window);
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
  SimulatedHid hid;
  for (int i = 0; i < kForeignInterfaces; ++i) {
    hid.AddForeign(static_cast<std::uint16_t>(0x1000 + i), 0x0001);
  }
  frmMain window(hid);
  LoadWithoutTimer(window);
  for (auto _ : state) {
    hid.ClearLogs();
    const auto start = Clock::now();
    window.Timer_Timer();
    QCoreApplication::processEvents();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_SearchTick64ForeignAndRepaint)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A search tick on the real backend with whatever this machine has attached
// (on a host without hidraw: none), repaint included.
void BM_SearchTickHidapi(benchmark::State& state) {
  tensivo::platform::HidapiHid hid;
  frmMain window(hid);
  LoadWithoutTimer(window);
  if (window.state().DeviceFound == tensivo::device::kTrue) {
    state.SkipWithError("a device is attached; this measures the search without one");
    return;
  }
  for (auto _ : state) {
    const auto start = Clock::now();
    window.Timer_Timer();
    QCoreApplication::processEvents();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_SearchTickHidapi)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
