// The search on the real backend, inside a VM whose kernel holds virtual
// devices (bench/vm-search boots it): three devices of ours and one foreign as
// USB devices, as the hardware comes, then 64 foreign ones through uhid and
// none of ours (a foreign device is only listed, never opened, so its road
// does not matter, and uhid makes 64 of them in a moment). The simulated
// search runs beside it so that the VM's own slowness can be told from ours.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/discovery.h"
#include "platform/linux_hidraw.h"
#include "qt_bench.h"
#include "sim/simulated_hid.h"
#include "virtual_device/device_console.h"
#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace {

using tensivo::virtual_device::DeviceTraits;
using tensivo::virtual_device::Transport;
using tensivo::virtual_device::VirtualDevice;
using Clock = std::chrono::steady_clock;

constexpr int kNodeTimeoutMs = 10000;
using tensivo::bench::kForeignInterfaces;

// Plugged-in virtual devices; empty when the kernel would not make them all.
std::vector<std::unique_ptr<VirtualDevice>> PlugAll(const std::vector<DeviceTraits>& all_traits,
                                                    Transport transport, std::string& problem) {
  std::vector<std::unique_ptr<VirtualDevice>> devices;
  for (const DeviceTraits& traits : all_traits) {
    int error = 0;
    std::unique_ptr<VirtualDevice> device = tensivo::virtual_device::MakeDevice(
        traits, transport, tensivo::virtual_device::kUhidPath, error);
    if (!device) {
      problem = "cannot make " + traits.serial + ": errno " + std::to_string(error);
      return {};
    }
    if (const int plug = device->Plug(); plug != 0) {
      problem = "the kernel refused " + traits.serial + ": errno " + std::to_string(plug);
      return {};
    }
    devices.push_back(std::move(device));
  }
  for (const auto& device : devices) {
    if (!device->WaitForNode(kNodeTimeoutMs)) {
      problem = device->traits().serial + " got no hidraw node";
      return {};
    }
  }
  return devices;
}

DeviceTraits Ours(int n) {
  DeviceTraits traits;
  traits.serial = "VM-000" + std::to_string(n);
  traits.reports_per_second = 100;  // a search reads none; streaming only costs the VM
  return traits;
}

DeviceTraits Foreign(int n) {
  DeviceTraits traits;
  traits.serial = "FOREIGN-" + std::to_string(n);
  traits.manufacturer = "Other Maker";
  traits.product = "Receiver";
  traits.vendor_id = static_cast<std::uint16_t>(0x1000 + n);
  traits.product_id = 0x0001;
  traits.reports_per_second = 0;
  return traits;
}

// The virtual devices stay plugged across the benchmark's runs; only one set
// is in the kernel at a time (hidraw has 64 minors).
struct World {
  std::vector<std::unique_ptr<VirtualDevice>> devices;
  std::string problem;
};

World& UseWorld(const std::vector<DeviceTraits>& all_traits, Transport transport) {
  static World world;
  static std::vector<std::string> serials;
  std::vector<std::string> wanted;
  for (const DeviceTraits& traits : all_traits) wanted.push_back(traits.serial);
  if (wanted != serials) {
    world.devices.clear();
    world.problem.clear();
    world.devices = PlugAll(all_traits, transport, world.problem);
    serials = wanted;
  }
  return world;
}

World& ThreeOfOursAndOneForeign() {
  return UseWorld({Ours(1), Ours(2), Ours(3), Foreign(1)}, Transport::kUsb);
}

World& OneOfOursAndOneForeign() { return UseWorld({Ours(1), Foreign(1)}, Transport::kUsb); }

// Processor time of the calling thread: the window's, not the virtual
// devices' threads in the same process.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Counters that a manually timed benchmark reports per iteration, in ms.
void PerIterationMs(benchmark::State& state, const char* name, double seconds) {
  state.counters[name] = benchmark::Counter(seconds * 1000, benchmark::Counter::kAvgIterations);
}

World& SixtyFourForeign() {
  std::vector<DeviceTraits> all_traits;
  for (int i = 0; i < kForeignInterfaces; ++i) all_traits.push_back(Foreign(i));
  return UseWorld(all_traits, Transport::kUhid);
}

// Opens of foreign devices reach the device thread a moment later.
int ForeignOpens(const std::vector<std::unique_ptr<VirtualDevice>>& devices) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int opens = 0;
  for (const auto& device : devices) {
    if (device->traits().vendor_id != tensivo::virtual_device::kVendorId) {
      opens += device->activity().opens;
    }
  }
  return opens;
}

// False, with the benchmark skipped for the reason, when the world's devices
// could not be plugged in.
bool Usable(benchmark::State& state, const World& world) {
  if (!world.devices.empty()) return true;
  state.SkipWithError(world.problem.c_str());
  return false;
}

// Enumeration of our interfaces alone, with three of ours and one foreign.
void BM_VmEnumerateThreeDevices(benchmark::State& state) {
  const World& world = ThreeOfOursAndOneForeign();
  if (!Usable(state, world)) return;
  tensivo::platform::LinuxHidraw hid;
  std::vector<tensivo::platform::InterfaceInfo> found;
  for (auto _ : state) {
    hid.Enumerate(tensivo::device::kVendorId, tensivo::device::kProductId, found);
  }
  state.counters["found"] = static_cast<double>(found.size());
}
BENCHMARK(BM_VmEnumerateThreeDevices)->Unit(benchmark::kMicrosecond);

// The window's search with devices of ours and one foreign: the scan that
// lists the serials, then the find that opens the selected one through both
// handles. The handles are closed between rounds.
void TimeSearch(benchmark::State& state, const World& world) {
  if (!Usable(state, world)) return;
  tensivo::platform::LinuxHidraw hid;
  std::size_t listed = 0;
  int found = 0;
  double cpu = 0;
  for (auto _ : state) {
    tensivo::device::WindowState window_state;
    const double cpu_start = ThreadCpuSeconds();
    const auto start = Clock::now();
    const auto serials = tensivo::device::Scan_USB_devices(hid, window_state);
    const std::string selected = serials.empty() ? std::string() : serials.back();
    found += tensivo::device::FindTheHid(hid, window_state, selected) == tensivo::device::kTrue;
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    cpu += ThreadCpuSeconds() - cpu_start;
    listed = serials.size();
  }
  state.counters["listed"] = static_cast<double>(listed);
  state.counters["found"] =
      benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
  PerIterationMs(state, "cpu_ms", cpu);
  state.counters["foreign_opens"] = ForeignOpens(world.devices);
}

void BM_VmSearchThreeDevices(benchmark::State& state) {
  TimeSearch(state, ThreeOfOursAndOneForeign());
}
BENCHMARK(BM_VmSearchThreeDevices)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The Qt window searching while the world's devices of ours are plugged in
// again: timed from the moment the kernel has made every node to the details
// shown, tick after tick and each with its repaint, as the window's timer
// would run them back to back. longest_tick_ms is the longest single tick.
void TimePlugInToDetails(benchmark::State& state, World& world) {
  if (!Usable(state, world)) return;
  std::vector<VirtualDevice*> ours;
  for (const auto& device : world.devices) {
    if (device->traits().vendor_id == tensivo::virtual_device::kVendorId)
      ours.push_back(device.get());
  }
  tensivo::platform::LinuxHidraw hid;
  tensivo::window::qt::QtForm form;
  tensivo::window::frmMain window(hid, form);
  tensivo::bench::LoadWithoutTimer(window, form);
  const auto tick = [&] {
    window.Timer_Timer();
    QCoreApplication::processEvents();
  };
  double longest = 0;
  double cpu = 0;
  int shown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (VirtualDevice* device : ours) device->Unplug();
    tick();  // the drop
    for (VirtualDevice* device : ours) device->Plug();
    for (VirtualDevice* device : ours) device->WaitForNode(kNodeTimeoutMs);
    state.ResumeTiming();
    const double cpu_start = ThreadCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < 20 && window.state().DetailsValid != tensivo::device::kTrue; ++i) {
      const auto tick_start = Clock::now();
      tick();
      longest = std::max(longest, std::chrono::duration<double>(Clock::now() - tick_start).count());
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    cpu += ThreadCpuSeconds() - cpu_start;
    shown += window.state().DetailsValid == tensivo::device::kTrue;
  }
  state.counters["shown"] =
      benchmark::Counter(static_cast<double>(shown), benchmark::Counter::kAvgIterations);
  PerIterationMs(state, "cpu_ms", cpu);
  state.counters["longest_tick_ms"] = longest * 1000;
  state.counters["foreign_opens"] = ForeignOpens(world.devices);
}

void BM_VmPlugInToDetailsThreeDevices(benchmark::State& state) {
  TimePlugInToDetails(state, ThreeOfOursAndOneForeign());
}
BENCHMARK(BM_VmPlugInToDetailsThreeDevices)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

void BM_VmSearchOneDevice(benchmark::State& state) { TimeSearch(state, OneOfOursAndOneForeign()); }
BENCHMARK(BM_VmSearchOneDevice)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One device: each world is plugged in once, so the benchmarks of one world
// run together.
void BM_VmPlugInToDetailsOneDevice(benchmark::State& state) {
  TimePlugInToDetails(state, OneOfOursAndOneForeign());
}
BENCHMARK(BM_VmPlugInToDetailsOneDevice)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

// The window's search tick with no device of ours and 64 foreign ones, and
// the repaint it leaves to the event loop. None may be opened.
void BM_VmSearchTick64Foreign(benchmark::State& state) {
  const World& world = SixtyFourForeign();
  if (!Usable(state, world)) return;
  tensivo::platform::LinuxHidraw hid;
  tensivo::bench::TimeSearchTicks(state, hid);
  state.counters["interfaces"] = static_cast<double>(world.devices.size());
  state.counters["foreign_opens"] = ForeignOpens(world.devices);
}
BENCHMARK(BM_VmSearchTick64Foreign)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The same tick on the simulated backend, as on the host: the ratio of the
// two runs says how much slower the VM itself is.
void BM_VmSimulatedSearchTick64Foreign(benchmark::State& state) {
  tensivo::bench::TimeSimulatedSearchTicks64Foreign(state);
}
BENCHMARK(BM_VmSimulatedSearchTick64Foreign)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
