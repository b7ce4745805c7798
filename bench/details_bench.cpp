// The cost of the window's own work, on simulated devices so that device I/O
// is next to nothing: a whole details read with a device (three lists of 2560
// entries), and one connected tick (one read, decode, eight bars).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QTimer>

#include "platform/simulated_hid.h"
#include "window/frm_main.h"

namespace {

using tensivo::platform::SimulatedHid;
using tensivo::window::frmMain;

struct Connected {
  SimulatedHid hid;
  SimulatedHid::DeviceId device;
  std::unique_ptr<frmMain> window;

  Connected() {
    tensivo::platform::SimulatedDeviceSpec spec;
    spec.serial = u"BENCH";
    device = hid.AddDevice(spec);
    hid.model(device).set_input_mask(0x08);
    window = std::make_unique<frmMain>(hid);
    window->Form_Load();
    window->Timer->stop();  // ticks are driven by the benchmark
  }
};

void BM_ReadDeviceDetails(benchmark::State& state) {
  Connected world;
  for (auto _ : state) world.window->Read_Device_Details();
  benchmark::DoNotOptimize(world.window->LC3_gain->currentIndex());
}
BENCHMARK(BM_ReadDeviceDetails)->Unit(benchmark::kMicrosecond);

void BM_ConnectedTick(benchmark::State& state) {
  Connected world;
  std::vector<std::uint8_t> report(17, 0);
  std::uint16_t v = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::array<std::uint16_t, 8> values;
    values.fill(v += 997);
    tensivo::platform::DeviceModel::EncodeInputReport(values, 0x08, std::span(report).subspan(1));
    world.hid.PushInput(world.device, report);
    state.ResumeTiming();
    world.window->Timer_Timer();
  }
}
BENCHMARK(BM_ConnectedTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
