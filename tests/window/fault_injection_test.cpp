// Every user-visible sequence, run once per platform call it makes and per
// kind of fault: the device unplugged at that call, unplugged and back at the
// next, that call alone failing, every call failing from it on; and once with
// every open refused, as on a machine without the udev rule. Whatever
// happens, the window must not leak or misuse a handle, must open nothing
// foreign, must end in a state its failure rules allow, must write nothing
// nobody asked for, must show the device again once it is back, and must
// close cleanly, with the faults gone or still active.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

#include "../fault_sweep.h"
#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/headless/headless_form.h"

namespace tensivo::window::testing {
namespace {

using device::kFalse;
using device::kTrue;
using sim::SimulatedHid;
using namespace fault_sweep;

struct WorldPlan {
  int devices = 2;
  std::uint16_t version = 0x0101;
  bool serials_listed = false;  // as udev lists them on Linux
};

// Devices of our kind named A, B (and C) beside a foreign keyboard; the last
// one is listed last and so is the one the window opens.
struct World {
  using Plan = WorldPlan;
  SimulatedHid hid;
  std::vector<SimulatedHid::DeviceId> ours;
  SimulatedHid::DeviceId keyboard;
  headless::HeadlessForm form;
  std::unique_ptr<frmMain> w;

  WorldPlan plan;

  explicit World(const WorldPlan& world_plan = {}) : plan(world_plan) {
    hid.ListSerials(plan.serials_listed);
    keyboard = hid.AddForeign(0x046D, 0xC31C);
    for (int i = 0; i < plan.devices; ++i) {
      sim::SimulatedDeviceTraits traits;
      traits.serial = std::u16string(1, static_cast<char16_t>(u'A' + i));
      traits.version = plan.version;
      const auto id = hid.AddDevice(traits);
      hid.model(id).set_input_mask(0x08);
      ours.push_back(id);
    }
    // Stored gains that differ from anything the window starts with.
    hid.model(ours.back()).registers()[6] = 10;
  }

  ~World() {
    form.Close();
    w.reset();
  }

  SimulatedHid::DeviceId last() const { return ours.back(); }
  std::uint64_t calls() const { return hid.calls_made(); }
  void ClearLogs() { hid.ClearLogs(); }
  void ExpectNothingForbidden(const std::string& run) const { EXPECT_EQ(hid.misuse(), 0) << run; }

  void Start() {
    w = std::make_unique<frmMain>(hid, form);
    w->Form_Load();
  }

  void Push(SimulatedHid::DeviceId device) { hid.PushInput(device, InputReport()); }

  void Tick() { w->Timer_Timer(); }
  void Pick(std::string_view list, int index) { form.list(list).UserPick(index); }
  void Press(std::string_view button) { form.button(button).UserClick(); }
  // A tick whose pump finds `event` pending.
  void TickWithPending(ui::Handler event) {
    Push(last());
    form.Post(std::move(event));
    Tick();
  }
};

using Sequence = fault_sweep::Sequence<World>;

std::vector<Sequence> Sequences() {
  const WorldPlan two;
  const WorldPlan three{3};
  const WorldPlan minor_zero{2, 0x0100};
  const WorldPlan three_listed{3, 0x0101, true};
  auto none = [](World&) {};
  auto started = [](World& world) { world.Start(); };
  auto connected = [](World& world) {
    world.Start();
    world.Push(world.last());
    world.Tick();
  };
  auto start = [](World& world) { world.Start(); };
  auto read_back = [](World& world) { world.w->Read_Device_Details(); };
  auto pick = [](const char* list, int position) {
    return [list, position](World& world) { world.Pick(list, position); };
  };
  return {
      {"StartUp", two, none, start, {}},
      {"StartUpMinorVersion0", minor_zero, none, start, {}},
      {"SerialSwitch", two, connected, pick("SerNo", 0), {}, {0, 1}, 0},
      {"SerialSwitchAmongThree", three, connected, pick("SerNo", 1), {}, {1, 2, 0}, 1},
      {"ReadBack", two, connected, read_back, {}},
      {"ReadBackMinorVersion0", minor_zero, connected, read_back, {}},
      {"GainPickLC1", two, connected, pick("LC1_gain", 300), GainWrites(0, 300)},
      {"GainPickLC2", two, connected, pick("LC2_gain", 2292), GainWrites(1, 2292)},
      {"GainPickLC3", two, connected, pick("LC3_gain", 2559), GainWrites(2, 2559)},
      {"RapidGainPicks", two, connected,
       [](World& world) {
         for (int position : {0, 300, 2559, 300}) world.Pick("LC1_gain", position);
       },
       Joined({GainWrites(0, 0), GainWrites(0, 300), GainWrites(0, 2559), GainWrites(0, 300)})},
      {"FactoryReset", two, connected, [](World& world) { world.Press("Command1"); },
       FactoryWrites()},
      {"ConnectedTick",
       two,
       started,
       [](World& world) {
         world.Push(world.last());
         world.Tick();
       },
       {}},
      {"GainPickDuringTick", two, connected,
       [](World& world) { world.TickWithPending([&world] { world.Pick("LC1_gain", 300); }); },
       GainWrites(0, 300)},
      {"SerialSwitchDuringTick",
       two,
       connected,
       [](World& world) { world.TickWithPending([&world] { world.Pick("SerNo", 0); }); },
       {},
       {0, 1},
       0},
      {"FactoryResetDuringTick", two, connected,
       [](World& world) { world.TickWithPending([&world] { world.Press("Command1"); }); },
       FactoryWrites()},
      // The drop, search and read-back after a failed read, faulted call by
      // call: the first call of the action is the read, and it always fails.
      {"RecoveryAfterAFailedRead",
       two,
       connected,
       [](World& world) {
         world.hid.FailCall(world.hid.calls_made() + 1);
         world.Tick();
       },
       {}},
      {"Reconnect",
       two,
       [](World& world) {
         world.Start();
         for (auto id : world.ours) world.hid.Detach(id);
         world.Tick();
         world.hid.Attach(world.last());
       },
       [](World& world) { world.Tick(); },
       {}},
      // Serials listed without an open: a device unplugged at the open that
      // follows the listing is the one that vanishes between the two.
      {"StartUpSerialsListed", three_listed, none, start, {}},
      {"SerialSwitchSerialsListed", three_listed, connected, pick("SerNo", 1), {}, {1, 2, 0}, 1},
  };
}

SimulatedHid::DeviceId DeviceAt(const World& world, int index) {
  return index < 0 ? world.last() : world.ours.at(static_cast<std::size_t>(index));
}

// Every call failing or the device unplugged at it, per call; and once per
// sequence every open refused, as on a machine without the udev rule.
std::vector<Fault<World>> Faults(const Sequence& sequence) {
  std::vector<Fault<World>> faults = {
      {"every open refused",
       [](World& world, std::uint64_t) {
         for (auto id : world.ours) world.hid.FailAlways(SimulatedHid::Op::kOpen, id);
       },
       true},
      {"one call fails", [](World& world, std::uint64_t at) { world.hid.FailCall(at); }},
      {"every call fails from", [](World& world, std::uint64_t at) { world.hid.FailFromCall(at); }},
  };
  for (int device : sequence.unplugged) {
    const std::string of = " of device " + std::to_string(device);
    faults.push_back({"unplug" + of, [device](World& world, std::uint64_t at) {
                        world.hid.UnplugAtCall(DeviceAt(world, device), at);
                      }});
    faults.push_back({"unplug-replug" + of, [device](World& world, std::uint64_t at) {
                        const auto id = DeviceAt(world, device);
                        world.hid.UnplugAtCall(id, at);
                        world.hid.ReplugAtCall(id, at + 1);
                      }});
  }
  return faults;
}

// The device of ours the window holds open, or the last when none is.
SimulatedHid::DeviceId Shown(const World& world) {
  for (auto id : world.ours) {
    if (world.hid.open_handles(id) > 0) return id;
  }
  return world.last();
}

// What the failure rules allow after any sequence, whatever failed.
void ExpectAllowedState(World& world, const Sequence& sequence, const std::string& run) {
  const auto& s = world.w->state();
  const SimulatedHid& hid = world.hid;
  EXPECT_EQ(hid.misuse(), 0) << run;
  EXPECT_EQ(hid.counters(world.keyboard).opens, 0) << run << ": a foreign device was opened";
  // Serials listed without an open: only the one device selected is opened.
  if (world.plan.serials_listed) {
    std::optional<SimulatedHid::DeviceId> opened;
    for (const SimulatedHid::Call& call : hid.call_log()) {
      if (call.op != SimulatedHid::Op::kOpen) continue;
      if (!opened) opened = call.device;
      EXPECT_EQ(call.device, opened) << run << ": a device that was not selected was opened";
    }
  }
  EXPECT_TRUE(world.w->Timer.Enabled()) << run;
  EXPECT_LE(hid.open_handles(), 2) << run;
  if (s.DeviceFound == kFalse) {
    EXPECT_EQ(hid.open_handles(), 0) << run;
    EXPECT_TRUE(world.w->lblManuf.Caption().empty()) << run;
    EXPECT_EQ(world.w->LC1_gain.ListCount(), 0) << run;
    EXPECT_FALSE(world.w->Command1.Enabled()) << run;
    EXPECT_EQ(s.GainEventsEnabled, kFalse) << run;
  } else {
    EXPECT_EQ(s.DeviceFound, kTrue) << run;
    EXPECT_TRUE(s.DeviceHandle.IsOpen()) << run;
    int devices_open = 0;
    for (auto id : world.ours) devices_open += hid.open_handles(id) > 0 ? 1 : 0;
    EXPECT_EQ(devices_open, 1) << run;
  }

  ExpectWrites(hid.write_log(), sequence.allowed_writes, DeviceAt(world, sequence.writes_to), 0,
               run);
}

// Once every device is back and the faults are gone, a few ticks show one.
void ExpectRecovery(World& world, const std::string& run) {
  world.hid.ClearFaults();
  for (auto id : world.ours) world.hid.Attach(id);
  for (int tick = 0; tick < 3; ++tick) {
    for (auto id : world.ours) world.Push(id);
    world.Tick();
  }
  ExpectDeviceShown(*world.w, run);
}

// Closing leaves nothing open and nothing runs after it.
void ExpectCleanClose(World& world, const std::string& run) {
  world.form.Close();
  const auto calls = world.hid.calls_made();
  world.Tick();
  world.form.DoEvents();
  EXPECT_EQ(world.hid.calls_made(), calls) << run << ": a call after the window closed";
  EXPECT_EQ(world.hid.open_handles(), 0) << run;
  world.w.reset();
  EXPECT_EQ(world.hid.open_handles(), 0) << run;
  EXPECT_EQ(world.hid.misuse(), 0) << run;
}

// The checks after a faulted action, then either the way back and a close,
// or a close with the fault still active.
void CheckAndEnd(World& world, const Sequence& sequence, bool close_under_fault,
                 const std::string& run) {
  ExpectAllowedState(world, sequence, run);
  // An event the tick left pending (its read failed, so it did not pump)
  // runs in the event loop after it, on the device the window shows then.
  if (world.form.pending() > 0) {
    const auto shown = Shown(world);
    const auto written = world.hid.write_log().size();
    world.form.DoEvents();
    const std::string then = run + " (then its pending event)";
    ExpectWrites(world.hid.write_log(), sequence.allowed_writes, shown, written, then);
  }
  if (close_under_fault) {
    ExpectCleanClose(world, run + " (closed under the fault)");
    return;
  }
  // Faults end and every device is unplugged, so that every run ends with the
  // same loss and return: the window must let go of what it held.
  world.hid.ClearFaults();
  for (auto id : world.ours) world.hid.Detach(id);
  world.Tick();
  EXPECT_EQ(world.hid.open_handles(), 0) << run << ": a lost device was kept open";
  ExpectRecovery(world, run);
  ExpectCleanClose(world, run);
}

class EveryCall : public ::testing::TestWithParam<bool> {};

TEST_P(EveryCall, EverySequenceFailsSafelyUnderEveryFault) {
  const bool close_under_fault = GetParam();
  const auto started = std::chrono::steady_clock::now();
  const Result sweep = Sweep<World>(
      Sequences(), Faults,
      [close_under_fault](World& world, const Sequence& sequence, const std::string& run) {
        CheckAndEnd(world, sequence, close_under_fault, run);
      });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const auto& [name, calls] : sweep.calls) {
    std::printf("%s: %llu calls\n", name.c_str(), static_cast<unsigned long long>(calls));
  }
  std::printf("%d fault runs in %.2f s\n", sweep.runs, seconds);
  RecordProperty("runs", sweep.runs);
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryCall, ::testing::Bool(), [](const auto& info) {
  return info.param ? "ClosedUnderTheFault" : "RecoveredThenClosed";
});

// --- handlers that run inside a tick's event pump ---

TEST(InsideThePump, UnplugThenGainPickDropsTheDeviceAndSearches) {
  World world;
  world.Start();
  const auto a = world.ours[0];
  const auto b = world.ours[1];
  world.Push(b);
  world.form.Post([&world, b] {
    world.hid.Detach(b);
    world.Pick("LC1_gain", 300);
  });
  world.Tick();
  // The failed write left 0 behind: the tick dropped B and found A.
  EXPECT_EQ(world.hid.open_handles(b), 0);
  EXPECT_EQ(world.hid.open_handles(a), 2);
  EXPECT_TRUE(world.hid.write_log().empty());
  EXPECT_EQ(world.w->SerNo.Text(), "A");
  ExpectCleanClose(world, "unplug in pump");
}

TEST(InsideThePump, SwitchThenCloseLeavesNothingOpen) {
  World world;
  world.Start();
  world.Push(world.last());
  world.form.Post([&world] {
    world.Pick("SerNo", 0);
    world.form.Close();
  });
  world.Tick();
  EXPECT_TRUE(world.w->unloaded());
  EXPECT_EQ(world.hid.open_handles(), 0);
  EXPECT_TRUE(world.hid.write_log().empty());
  ExpectCleanClose(world, "switch and close in pump");
}

// A device that stops sending: every tick's read finds nothing, the device is
// dropped and found again in the same tick. Over many ticks nothing grows.
TEST(StalledDevice, IsDroppedAndFoundAgainOnEveryTickWithoutGrowth) {
  World world;
  world.Start();
  const auto b = world.last();
  world.Push(b);
  world.Tick();
  ASSERT_EQ(world.w->Timer.Interval(), 20);
  const int opens = world.hid.counters(b).opens;
  constexpr int kTicks = 500;
  for (int tick = 0; tick < kTicks; ++tick) {
    world.Tick();
    ASSERT_EQ(world.w->state().DeviceFound, kTrue) << "tick " << tick;
    ASSERT_EQ(world.hid.open_handles(), 2) << "tick " << tick;
  }
  const auto counters = world.hid.counters(b);
  // Each tick: a probe in the scan, the probe the search keeps, the read handle.
  EXPECT_EQ(counters.opens - opens, 3 * kTicks) << "one reopen per tick, no more";
  EXPECT_EQ(counters.opens - counters.closes, 2);
  EXPECT_EQ(world.hid.events_created(), 1) << "the read event is made once";
  EXPECT_EQ(world.w->Timer.Interval(), 100);
  EXPECT_EQ(world.form.pending(), 0u);
  EXPECT_TRUE(world.hid.write_log().empty());
  world.Push(b);
  world.Tick();
  EXPECT_EQ(world.w->Timer.Interval(), 20) << "a report brings the 20 ms poll back";
  ExpectCleanClose(world, "stalled device");
}

}  // namespace
}  // namespace tensivo::window::testing
