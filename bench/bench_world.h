// What the window benchmarks share, whichever front-end they time: a window
// on one simulated device, the reports that move its bars, and a backend
// full of foreign interfaces.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/simulated_hid.h"
#include "window/frm_main.h"

namespace tensivo::bench {

inline constexpr std::uint8_t kInputMask = 0x08;  // input 4 not fitted: seven bars move
inline constexpr int kForeignInterfaces = 64;

// A shown window whose ticks the benchmark drives.
inline void LoadWithoutTimer(window::frmMain& window, window::ui::Form& form) {
  window.Form_Load();
  window.Timer.SetEnabled(false);
  form.DoEvents();  // the first paint is not part of any tick
}

// The window of front-end `Form` connected to one simulated device.
template <class Form>
struct Connected {
  sim::SimulatedHid hid;
  sim::SimulatedHid::DeviceId device;
  Form form;
  std::unique_ptr<window::frmMain> window;

  Connected() {
    sim::SimulatedDeviceTraits traits;
    traits.serial = u"BENCH";
    device = hid.AddDevice(traits);
    hid.model(device).set_input_mask(kInputMask);
    window = std::make_unique<window::frmMain>(hid, form);
    LoadWithoutTimer(*window, form);
  }
};

// Input reports (id byte first) in which the first `moving` of the seven
// fitted bars go to a new random place each time, so that about half grow
// and half shrink.
class MovingBars {
 public:
  explicit MovingBars(std::size_t moving) : moving_(moving) { values_.fill(20000); }

  const std::vector<std::uint8_t>& Next() {
    // Values in report order: LC1..LC3, then inputs 4..8; input 4 is masked.
    constexpr std::array<std::size_t, 7> kFitted = {0, 1, 2, 4, 5, 6, 7};
    for (std::size_t i = 0; i < moving_; ++i) {
      seed_ = seed_ * 1664525u + 1013904223u;
      values_[kFitted[i]] = static_cast<std::uint16_t>(seed_ >> 16);
    }
    sim::DeviceModel::EncodeInputReport(values_, kInputMask, std::span(report_).subspan(1));
    return report_;
  }

 private:
  std::size_t moving_;
  std::array<std::uint16_t, 8> values_{};
  std::uint32_t seed_ = 1;
  std::vector<std::uint8_t> report_ = std::vector<std::uint8_t>(17, 0);
};

// 64 foreign interfaces and none of ours.
inline std::vector<sim::SimulatedHid::DeviceId> AddForeignInterfaces(sim::SimulatedHid& hid) {
  std::vector<sim::SimulatedHid::DeviceId> foreign;
  for (int i = 0; i < kForeignInterfaces; ++i) {
    foreign.push_back(hid.AddForeign(static_cast<std::uint16_t>(0x1000 + i), 0x0001));
  }
  return foreign;
}

}  // namespace tensivo::bench
