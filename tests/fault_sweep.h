// The fault sweep the window's tests run on each backend: every user-visible
// sequence, once per platform call it makes and per kind of fault. A backend's
// world says how it counts calls and what it forbids; its test says which
// faults there are and what its failure rules allow after each run.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window/frm_main.h"

namespace tensivo::fault_sweep {

using Bytes = std::vector<std::uint8_t>;

// An output report as the host writes it: id byte first, zero-padded.
inline Bytes Report(std::initializer_list<std::uint8_t> head) {
  Bytes bytes(head);
  bytes.resize(19, 0);
  return bytes;
}

// An input report as the device sends it, id byte first: LC1 at half scale.
inline Bytes InputReport() {
  Bytes report(17, 0);
  report[1] = 0xFF;
  report[2] = 0x7F;
  return report;
}

// The three register writes a pick of `position` in load cell `cell`'s list makes.
inline std::vector<Bytes> GainWrites(int cell, int position) {
  static constexpr std::uint8_t kRegs[3][3] = {{0, 1, 6}, {2, 3, 7}, {4, 5, 8}};
  static constexpr std::uint8_t kCodes[10][2] = {{8, 0},  {8, 1},  {8, 2},  {11, 0}, {12, 0},
                                                 {13, 0}, {14, 0}, {15, 0}, {15, 1}, {15, 2}};
  const int e = position / 256;
  const auto m = static_cast<std::uint8_t>(position % 256);
  return {Report({0, 1, kRegs[cell][0], kCodes[e][0]}),
          Report({0, 1, kRegs[cell][1], kCodes[e][1]}), Report({0, 1, kRegs[cell][2], m})};
}

inline std::vector<Bytes> FactoryWrites() {
  const std::uint8_t values[] = {15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 128, 128};
  std::vector<Bytes> writes;
  for (std::uint8_t r = 0; r < 12; ++r) writes.push_back(Report({0, 1, r, values[r]}));
  return writes;
}

inline std::vector<Bytes> Joined(std::initializer_list<std::vector<Bytes>> parts) {
  std::vector<Bytes> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The window once the faults are gone and the devices back: it shows one,
// with its details, and polls at the connected rate.
inline void ExpectDeviceShown(window::frmMain& w, const std::string& run) {
  const auto& s = w.state();
  EXPECT_EQ(s.DeviceFound, device::kTrue) << run;
  EXPECT_EQ(w.lblManuf.Caption(), " Tensivo") << run;
  EXPECT_EQ(w.LC1_gain.ListCount(), 2560) << run;
  EXPECT_EQ(s.DetailsValid, device::kTrue) << run;
  EXPECT_EQ(w.Timer.Interval(), 20) << run;
}

// Writes in `log` from `first` on: only what the sequence asked for, in its
// order, to `target`; any of them may be missing where its call failed.
template <class Log, class Device>
void ExpectWrites(const Log& log, const std::vector<Bytes>& allowed, Device target,
                  std::size_t first, const std::string& run) {
  std::size_t next = 0;
  for (std::size_t i = first; i < log.size(); ++i) {
    EXPECT_EQ(log[i].device, target) << run << ": a write went to a device not selected";
    while (next < allowed.size() && allowed[next] != log[i].bytes) ++next;
    EXPECT_LT(next, allowed.size()) << run << ": a write nobody asked for";
    ++next;
  }
}

template <class World>
struct Sequence {
  const char* name;
  typename World::Plan plan;
  std::function<void(World&)> setup;   // brings the world to where the sequence starts
  std::function<void(World&)> action;  // what the user or the device does
  std::vector<Bytes> allowed_writes;   // in order; each may be missing if its call failed
  // Devices (indices into the world's devices of ours) to unplug: the one the
  // sequence is about, and for a switch the one it leaves and any other.
  std::vector<int> unplugged = {-1};  // -1: the last, the one opened
  int writes_to = -1;
};

template <class World>
struct Fault {
  std::string name;
  // Arms the fault just before the action; `at` is the call it strikes,
  // counted over the world's life.
  std::function<void(World&, std::uint64_t at)> arm;
  bool once = false;  // once per sequence, not once per call
};

struct Result {
  int runs = 0;
  std::map<std::string, std::uint64_t> calls;  // per sequence, on a clean run
};

// Runs each sequence clean to count its calls, then once per fault `faults`
// gives it and, for a per-call fault, per call; `check` judges each run and
// ends it. World needs a constructor from its Plan, calls(), ClearLogs() and
// ExpectNothingForbidden(run).
template <class World>
Result Sweep(const std::vector<Sequence<World>>& sequences,
             const std::function<std::vector<Fault<World>>(const Sequence<World>&)>& faults,
             const std::function<void(World&, const Sequence<World>&, const std::string&)>& check) {
  Result result;
  for (const Sequence<World>& sequence : sequences) {
    const std::string name = sequence.name;
    std::uint64_t calls = 0;
    {
      World clean(sequence.plan);
      sequence.setup(clean);
      const auto before = clean.calls();
      sequence.action(clean);
      calls = clean.calls() - before;
      clean.ExpectNothingForbidden(name);
    }
    if (calls == 0) {
      ADD_FAILURE() << name << ": the sequence makes no platform call";
      return result;
    }
    result.calls[name] = calls;
    const auto run_once = [&](const Fault<World>& fault, std::uint64_t k, const std::string& run) {
      World world(sequence.plan);
      sequence.setup(world);
      world.ClearLogs();
      fault.arm(world, world.calls() + k);
      sequence.action(world);
      ++result.runs;
      check(world, sequence, run);
    };
    const auto armed = faults(sequence);
    for (const auto& fault : armed) {
      if (fault.once) run_once(fault, 0, name + ": " + fault.name);
    }
    for (std::uint64_t k = 1; k <= calls; ++k) {
      for (const auto& fault : armed) {
        if (!fault.once)
          run_once(fault, k, name + ": " + fault.name + " at call " + std::to_string(k));
      }
      if (::testing::Test::HasFailure()) return result;
    }
  }
  return result;
}

}  // namespace tensivo::fault_sweep
