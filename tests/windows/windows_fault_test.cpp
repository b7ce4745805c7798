// The window on the Windows backend, with the system beneath it failing any
// one call or losing the device at any call, in every user-visible sequence.
// Whatever happens, no handle is leaked, closed twice or closed under a read
// that may still land in it, no device but ours is read or written, nothing
// is written that nobody asked for, and the window shows the device again
// once it is back.
#include <gtest/gtest.h>

#include <memory>

#include "../fault_sweep.h"
#include "fake_windows.h"
#include "platform/windows_hid.h"
#include "window/frm_main.h"
#include "window/headless/headless_form.h"

namespace tensivo::windows_testing {
namespace {

using device::kFalse;
using device::kTrue;
using namespace fault_sweep;

// A, then B, then a foreign device whose path names no ids; B is listed
// last and so is the one the window opens.
struct World {
  struct Plan {};
  FakeWindows system;
  int a = system.AddOurs(u"A");
  int b = system.AddOurs(u"B");
  int foreign = system.AddForeign(false);
  std::unique_ptr<platform::WindowsHid> hid =
      std::make_unique<platform::WindowsHid>(FakeWindows::Calls());
  window::headless::HeadlessForm form;
  std::unique_ptr<window::frmMain> w;

  explicit World(Plan = {}) { system.device(b).model.registers()[6] = 10; }
  ~World() {
    form.Close();
    w.reset();
    hid.reset();
  }

  // Devices of ours by index, as sequences name them; -1 is B.
  int DeviceAt(int index) const { return index == 0 ? a : b; }
  std::uint64_t calls() const { return system.calls(); }
  void ClearLogs() { system.ClearWrites(); }
  void ExpectNothingForbidden(const std::string& run) const {
    EXPECT_EQ(system.misuse(), 0) << run << ": a handle used that was not held";
    EXPECT_EQ(system.closed_while_reading(), 0) << run << ": closed under a pending read";
    EXPECT_EQ(system.blocked_waits(), 0) << run << ": waited for a read that never ends";
    EXPECT_EQ(system.foreign_io(), 0) << run << ": a foreign device was read or written";
    EXPECT_EQ(system.preparsed_held(), 0) << run << ": parsed descriptor not freed";
  }

  void Start() {
    w = std::make_unique<window::frmMain>(*hid, form);
    w->Form_Load();
  }
  void Push(int device) { system.Push(device, InputReport()); }
  void Tick() { w->Timer_Timer(); }
  void Pick(std::string_view list, int index) { form.list(list).UserPick(index); }
};

using Sequence = fault_sweep::Sequence<World>;

std::vector<Sequence> Sequences() {
  const std::vector<Bytes> gain = {Report({0, 1, 0, 8}), Report({0, 1, 1, 1}),
                                   Report({0, 1, 6, 44})};
  auto started = [](World& world) { world.Start(); };
  auto connected = [](World& world) {
    world.Start();
    world.Push(world.b);
    world.Tick();
  };
  return {
      {"StartUp", {}, [](World&) {}, [](World& world) { world.Start(); }, {}},
      {"ConnectedTick",
       {},
       started,
       [](World& world) {
         world.Push(world.b);
         world.Tick();
       },
       {}},
      {"TickWithTheReadStillPending", {}, connected, [](World& world) { world.Tick(); }, {}},
      // The switch is to A: A is the device it writes to and the one unplugged.
      {"SerialSwitch", {}, connected, [](World& world) { world.Pick("SerNo", 0); }, {}, {0}, 0},
      {"GainPick", {}, connected, [](World& world) { world.Pick("LC1_gain", 300); }, gain},
      {"FactoryReset",
       {},
       connected,
       [](World& world) { world.form.button("Command1").UserClick(); },
       FactoryWrites()},
      {"GainPickDuringTick",
       {},
       connected,
       [](World& world) {
         world.Push(world.b);
         world.form.Post([&world] { world.Pick("LC1_gain", 300); });
         world.Tick();
       },
       gain},
      {"Reconnect",
       {},
       [](World& world) {
         world.Start();
         world.system.Detach(world.b);
         world.system.Detach(world.a);
         world.Tick();
         world.system.Attach(world.b);
       },
       [](World& world) { world.Tick(); },
       {}},
  };
}

void ExpectAllowedState(World& world, const Sequence& sequence, const std::string& run) {
  world.ExpectNothingForbidden(run);
  const auto& s = world.w->state();
  EXPECT_TRUE(world.w->Timer.Enabled()) << run;
  // The two handles of the open device and the read event, at most.
  EXPECT_LE(world.system.open_handles(), 3) << run;
  if (s.DeviceFound == kFalse) {
    EXPECT_FALSE(s.DeviceHandle.IsOpen() || s.ReadHandle.IsOpen()) << run;
    EXPECT_EQ(world.w->LC1_gain.ListCount(), 0) << run;
    EXPECT_FALSE(world.w->Command1.Enabled()) << run;
  } else {
    EXPECT_TRUE(s.DeviceHandle.IsOpen()) << run;
  }
  ExpectWrites(world.system.writes(), sequence.allowed_writes, world.DeviceAt(sequence.writes_to),
               0, run);
}

void ExpectRecoveryAndCleanClose(World& world, const std::string& run) {
  world.system.ClearFaults();
  world.system.Attach(world.a);
  world.system.Attach(world.b);
  for (int tick = 0; tick < 3; ++tick) {
    for (int device : {world.a, world.b}) world.Push(device);
    world.Tick();
  }
  ExpectDeviceShown(*world.w, run);

  world.form.Close();
  const auto calls = world.system.calls();
  world.Tick();
  EXPECT_EQ(world.system.calls(), calls) << run << ": a call after the window closed";
  world.w.reset();
  world.hid.reset();
  EXPECT_EQ(world.system.open_handles(), 0) << run << ": a handle outlived the backend";
  world.ExpectNothingForbidden(run);
}

enum class Kind { kUnplugFromThisCallOn, kOnlyThisCallFails };

class EveryWindowsCall : public ::testing::TestWithParam<Kind> {};

TEST_P(EveryWindowsCall, FailsSafelyInEverySequence) {
  const Kind kind = GetParam();
  const auto faults = [kind](const Sequence& sequence) -> std::vector<Fault<World>> {
    if (kind == Kind::kOnlyThisCallFails) {
      return {
          {"one call fails", [](World& world, std::uint64_t at) { world.system.FailCall(at); }}};
    }
    const int device = sequence.unplugged.front();
    return {{"unplug", [device](World& world, std::uint64_t at) {
               world.system.UnplugAtCall(world.DeviceAt(device), at);
             }}};
  };
  const Result sweep = Sweep<World>(
      Sequences(), faults, [](World& world, const Sequence& sequence, const std::string& run) {
        ExpectAllowedState(world, sequence, run);
        // Every run ends with the same loss and return.
        world.system.Detach(world.DeviceAt(sequence.writes_to));
        world.Tick();
        ExpectRecoveryAndCleanClose(world, run);
      });
  std::printf("%d fault runs\n", sweep.runs);
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryWindowsCall,
                         ::testing::Values(Kind::kUnplugFromThisCallOn, Kind::kOnlyThisCallFails),
                         [](const auto& info) {
                           return info.param == Kind::kUnplugFromThisCallOn ? "UnplugAtCall"
                                                                            : "SingleCallFails";
                         });

TEST(WindowsBackend, APendingReadIsCancelledAndAwaitedBeforeItsHandleCloses) {
  World world;
  world.Start();
  world.Tick();  // no report: the read stays pending, and the device is dropped
  EXPECT_EQ(world.w->state().DeviceFound, kTrue) << "found again in the same tick";
  world.form.Close();
  world.ExpectNothingForbidden("pending read");
  world.w.reset();
  world.hid.reset();
  EXPECT_EQ(world.system.open_handles(), 0);
}

TEST(WindowsBackend, AReportThatArrivesWhileTheReadIsPendingIsShownNextTick) {
  World world;
  world.Start();
  world.Push(world.b);
  world.Tick();  // one report; the next read is left pending
  Bytes report(17, 0);
  report[3] = 0xFF;  // LC2 at full scale
  report[4] = 0xFF;
  world.system.Push(world.b, report);  // lands in the pending read
  world.Tick();
  EXPECT_EQ(world.w->LC2_bar.Width(), 4611);
  EXPECT_EQ(world.w->Timer.Interval(), 20);
}

}  // namespace
}  // namespace tensivo::windows_testing
