// tensivo-cli's own work, in-process on simulated devices so that device I/O
// stays out of the figure: `list` walking three devices of ours among 64
// foreign interfaces, opening each of ours through both handles.
#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>

#include "cli/cli.h"
#include "sim/simulated_hid.h"

namespace {

using tensivo::sim::SimulatedHid;
using Clock = std::chrono::steady_clock;

void BM_CliList3Devices64Foreign(benchmark::State& state) {
  SimulatedHid hid;
  for (int i = 0; i < 64; ++i) hid.AddForeign(0x046D, static_cast<std::uint16_t>(0xC000 + i));
  for (const char16_t* serial : {u"BENCH-1", u"BENCH-2", u"BENCH-3"}) {
    tensivo::sim::SimulatedDeviceTraits traits;
    traits.serial = serial;
    hid.AddDevice(traits);
  }
  // A world on the wall clock keeps no call log, which would grow with every run.
  hid.FollowWallClock();

  std::ostringstream out, err;
  std::istringstream in;
  tensivo::cli::Console console(out, err, in);
  console.real_hid = [&]() -> tensivo::platform::HidPlatform& { return hid; };
  const std::vector<std::string> args = {"tensivo-cli", "list"};
  for (auto _ : state) {
    out.str("");
    const auto start = Clock::now();
    const int code = tensivo::cli::Run(args, console);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (code != tensivo::cli::kOk) {
      state.SkipWithError("list did not find the devices");
      break;
    }
  }
  state.counters["open_handles_left"] = hid.open_handles();
}
BENCHMARK(BM_CliList3Devices64Foreign)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
