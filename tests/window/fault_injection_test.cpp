// Every user-visible sequence, run once per platform call it makes: once with
// the device unplugged at exactly that call, and once with only that call
// failing. Whatever happens, the window must not leak or misuse a handle,
// must end in a state its failure rules allow, must write nothing nobody
// asked for, and must show the device again once it is back.
#include <gtest/gtest.h>

#include <functional>

#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/headless/headless_form.h"

namespace tensivo::window::testing {
namespace {

using device::kFalse;
using device::kTrue;
using sim::SimulatedHid;
using Bytes = std::vector<std::uint8_t>;

Bytes Report(std::initializer_list<std::uint8_t> head) {
  Bytes bytes(head);
  bytes.resize(19, 0);
  return bytes;
}

// Two devices of our kind, A and B, beside a foreign keyboard; B is listed
// last and so is the one the window opens.
struct World {
  SimulatedHid hid;
  SimulatedHid::DeviceId a, b, keyboard;
  headless::HeadlessForm form;
  std::unique_ptr<frmMain> w;

  World() {
    keyboard = hid.AddForeign(0x046D, 0xC31C);
    sim::SimulatedDeviceSpec profile;
    profile.serial = u"A";
    a = hid.AddDevice(profile);
    profile.serial = u"B";
    b = hid.AddDevice(profile);
    hid.model(a).set_input_mask(0x08);
    hid.model(b).set_input_mask(0x08);
    // Stored gains that differ from anything the window starts with.
    hid.model(b).registers()[6] = 10;
  }

  ~World() {
    form.Close();
    w.reset();
  }

  void Start() {
    w = std::make_unique<frmMain>(hid, form);
    w->Form_Load();
  }

  void Push(SimulatedHid::DeviceId device) {
    Bytes report(17, 0);
    report[1] = 0xFF;
    report[2] = 0x7F;
    hid.PushInput(device, report);
  }

  void Tick() { w->Timer_Timer(); }

  void Pick(std::string_view list, int index) { form.list(list).UserPick(index); }
  void Press(std::string_view button) { form.button(button).UserClick(); }
};

struct Sequence {
  const char* name;
  std::function<void(World&)> setup;   // brings the world to where the sequence starts
  std::function<void(World&)> action;  // what the user or the device does
  std::vector<Bytes> allowed_writes;   // in order; each may be missing if its call failed
  bool targets_a = false;              // the device the sequence is about
};

const Bytes kGainWrites[] = {Report({0, 1, 0, 8}), Report({0, 1, 1, 1}), Report({0, 1, 6, 44})};

std::vector<Bytes> FactoryWrites() {
  const std::uint8_t values[] = {15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 128, 128};
  std::vector<Bytes> writes;
  for (std::uint8_t r = 0; r < 12; ++r) writes.push_back(Report({0, 1, r, values[r]}));
  return writes;
}

std::vector<Sequence> Sequences() {
  auto started = [](World& world) { world.Start(); };
  auto connected = [](World& world) {
    world.Start();
    world.Push(world.b);
    world.Tick();
  };
  return {
      {"StartUp", [](World&) {}, [](World& world) { world.Start(); }, {}},
      {"SerialSwitch", connected,
       [](World& world) { world.Pick("SerNo", 0); }, {}, true},
      {"ReadBack", connected, [](World& world) { world.w->Read_Device_Details(); }, {}},
      {"GainPick", connected,
       [](World& world) { world.Pick("LC1_gain", 300); },
       {std::begin(kGainWrites), std::end(kGainWrites)}},
      {"FactoryReset", connected, [](World& world) { world.Press("Command1"); },
       FactoryWrites()},
      {"ConnectedTick", started,
       [](World& world) {
         world.Push(world.b);
         world.Tick();
       },
       {}},
      {"GainPickDuringTick", connected,
       [](World& world) {
         world.Push(world.b);
         world.form.Post([&world] { world.Pick("LC1_gain", 300); });
         world.Tick();
       },
       {std::begin(kGainWrites), std::end(kGainWrites)}},
      {"Reconnect",
       [](World& world) {
         world.Start();
         world.hid.Detach(world.b);
         world.hid.Detach(world.a);
         world.Tick();
         world.hid.Attach(world.b);
       },
       [](World& world) { world.Tick(); }, {}},
  };
}

enum class Fault { kUnplugFromThisCallOn, kOnlyThisCallFails };

// What the failure rules allow after any sequence, whatever failed.
void ExpectAllowedState(World& world, const Sequence& sequence, const std::string& run) {
  const auto& s = world.w->state();
  const SimulatedHid& hid = world.hid;
  EXPECT_EQ(hid.misuse(), 0) << run;
  EXPECT_EQ(hid.counters(world.keyboard).opens, 0) << run << ": a foreign device was opened";
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
    EXPECT_EQ(hid.open_handles(world.a) == 0 || hid.open_handles(world.b) == 0, true) << run;
  }

  // Writes: only what the sequence asked for, in its order, to its device.
  const auto target = sequence.targets_a ? world.a : world.b;
  std::size_t next = 0;
  for (const auto& entry : hid.write_log()) {
    EXPECT_EQ(entry.device, target) << run << ": a write went to a device not selected";
    while (next < sequence.allowed_writes.size() && sequence.allowed_writes[next] != entry.bytes) {
      ++next;
    }
    EXPECT_LT(next, sequence.allowed_writes.size()) << run << ": a write nobody asked for";
    ++next;
  }
}

// Once the device is back and faults are gone, a few ticks show it again.
void ExpectRecovery(World& world, const std::string& run) {
  world.hid.ClearFaults();
  world.hid.Attach(world.a);
  world.hid.Attach(world.b);
  for (int tick = 0; tick < 3; ++tick) {
    for (auto device : {world.a, world.b}) world.Push(device);
    world.Tick();
  }
  const auto& s = world.w->state();
  EXPECT_EQ(s.DeviceFound, kTrue) << run;
  EXPECT_EQ(world.w->lblManuf.Caption(), " Tensivo") << run;
  EXPECT_EQ(world.w->LC1_gain.ListCount(), 2560) << run;
  EXPECT_EQ(s.DetailsValid, kTrue) << run;
  EXPECT_EQ(world.w->Timer.Interval(), 20) << run;
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

class EveryCall : public ::testing::TestWithParam<Fault> {};

TEST_P(EveryCall, FailsSafelyInEverySequence) {
  const Fault fault = GetParam();
  int runs = 0;
  for (const Sequence& sequence : Sequences()) {
    std::uint64_t calls = 0;
    {
      World clean;
      sequence.setup(clean);
      const auto before = clean.hid.calls_made();
      sequence.action(clean);
      calls = clean.hid.calls_made() - before;
      ASSERT_GT(calls, 0u) << sequence.name;
      std::printf("%s: %llu calls\n", sequence.name, static_cast<unsigned long long>(calls));
    }
    for (std::uint64_t k = 1; k <= calls; ++k) {
      const std::string run = std::string(sequence.name) + " call " + std::to_string(k);
      World world;
      sequence.setup(world);
      world.hid.ClearLogs();
      const auto at = world.hid.calls_made() + k;
      const auto target = sequence.targets_a ? world.a : world.b;
      if (fault == Fault::kUnplugFromThisCallOn) {
        world.hid.UnplugAtCall(target, at);
      } else {
        world.hid.FailCall(at);
      }
      sequence.action(world);
      ++runs;
      ExpectAllowedState(world, sequence, run);
      // A single failure leaves a device that still works; unplug it too, so
      // that every run ends with the same loss and return.
      world.hid.Detach(target);
      world.Tick();
      EXPECT_EQ(world.hid.open_handles(target), 0) << run << ": the lost device was kept open";
      ExpectRecovery(world, run);
      ExpectCleanClose(world, run);
      if (HasFailure()) return;
    }
  }
  RecordProperty("runs", runs);
  std::printf("%d fault runs\n", runs);
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryCall,
                         ::testing::Values(Fault::kUnplugFromThisCallOn, Fault::kOnlyThisCallFails),
                         [](const auto& info) {
                           return info.param == Fault::kUnplugFromThisCallOn ? "UnplugAtCall"
                                                                             : "SingleCallFails";
                         });

// --- handlers that run inside a tick's event pump ---

TEST(InsideThePump, UnplugThenGainPickDropsTheDeviceAndSearches) {
  World world;
  world.Start();
  world.Push(world.b);
  world.form.Post([&world] {
    world.hid.Detach(world.b);
    world.Pick("LC1_gain", 300);
  });
  world.Tick();
  // The failed write left 0 behind: the tick dropped B and found A.
  EXPECT_EQ(world.hid.open_handles(world.b), 0);
  EXPECT_EQ(world.hid.open_handles(world.a), 2);
  EXPECT_TRUE(world.hid.write_log().empty());
  EXPECT_EQ(world.w->SerNo.Text(), "A");
  ExpectCleanClose(world, "unplug in pump");
}

TEST(InsideThePump, SwitchThenCloseLeavesNothingOpen) {
  World world;
  world.Start();
  world.Push(world.b);
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

}  // namespace
}  // namespace tensivo::window::testing
