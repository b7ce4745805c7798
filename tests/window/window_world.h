// A window on simulated devices, driven the way a user and the devices would:
// picks in the lists, clicks, unplugs, and timer ticks one at a time. The
// same scenarios run on every front-end.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "front_end.h"
#include "sim/simulated_hid.h"
#include "window/frm_main.h"

namespace tensivo::window::testing {

using sim::SimulatedHid;
using Bytes = std::vector<std::uint8_t>;
using Values = std::array<std::uint16_t, 8>;
using Texts = std::vector<std::string>;

class WindowWorld : public ::testing::Test {
 protected:
  SimulatedHid::DeviceId Add(std::u16string serial, std::uint16_t version = 0x0101,
                             std::uint8_t mask = 0x08) {
    sim::SimulatedDeviceTraits traits;
    traits.serial = std::move(serial);
    traits.version = version;
    const auto id = hid.AddDevice(traits);
    hid.model(id).set_input_mask(mask);
    return id;
  }

  void Start() {
    w = std::make_unique<frmMain>(hid, ui->form());
    w->Form_Load();
  }

  void Tick() { w->Timer_Timer(); }

  void Pick(ui::List& list, int index) { ui->Pick(list, index); }
  void Press(ui::Button& button) { ui->Press(button); }
  // Runs `action` inside the pump of the next tick, as a pending event would.
  void DuringNextPump(std::function<void()> action) { ui->Post(std::move(action)); }

  void Push(SimulatedHid::DeviceId device, const Values& values) {
    Bytes report(hid.traits(device).input_length, 0);
    sim::DeviceModel::EncodeInputReport(values, hid.model(device).input_mask(),
                                        std::span(report).subspan(1));
    hid.PushInput(device, report);
  }

  std::vector<Bytes> Written() const {
    std::vector<Bytes> reports;
    for (const auto& entry : hid.write_log()) reports.push_back(entry.bytes);
    return reports;
  }

  int Calls(SimulatedHid::Op op) const {
    int n = 0;
    for (const auto& call : hid.call_log()) n += call.op == op ? 1 : 0;
    return n;
  }

  std::vector<double> BarWidths() const {
    std::vector<double> widths;
    for (const ui::Shape* bar : w->Bars()) widths.push_back(bar->Width());
    return widths;
  }

  Texts Serials() const {
    Texts serials;
    for (int i = 0; i < w->SerNo.ListCount(); ++i) serials.push_back(w->SerNo.ItemText(i));
    return serials;
  }

  const device::WindowState& state() const { return w->state(); }

  void TearDown() override {
    if (w) {
      ui->form().Close();
      w.reset();
    }
    EXPECT_EQ(hid.open_handles(), 0) << "a handle was left open";
    EXPECT_EQ(hid.misuse(), 0) << "a handle was closed twice or used after its close";
  }

  SimulatedHid hid;  // outlives the window
  std::unique_ptr<FrontEnd> ui = MakeFrontEnd();
  std::unique_ptr<frmMain> w;
};

inline Bytes Padded(std::initializer_list<std::uint8_t> head, std::size_t length = 19) {
  Bytes bytes(head);
  bytes.resize(length, 0);
  return bytes;
}

}  // namespace tensivo::window::testing
