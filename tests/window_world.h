// A window on simulated devices, driven the way a user and the devices would:
// picks in the lists, clicks, unplugs, and timer ticks one at a time.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/shape.h"

namespace tensivo::window::testing {

using sim::SimulatedHid;
using Bytes = std::vector<std::uint8_t>;
using Values = std::array<std::uint16_t, 8>;

class WindowWorld : public ::testing::Test {
 protected:
  SimulatedHid::DeviceId Add(std::u16string serial, std::uint16_t version = 0x0101,
                             std::uint8_t mask = 0x08) {
    sim::SimulatedDeviceSpec profile;
    profile.serial = std::move(serial);
    profile.version = version;
    const auto id = hid.AddDevice(profile);
    hid.model(id).set_input_mask(mask);
    return id;
  }

  void Start() {
    w = std::make_unique<frmMain>(hid);
    w->Form_Load();
  }

  void Tick() { w->Timer_Timer(); }

  // A user's pick in a drop-down list, also of the entry already shown.
  static void Pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  void Push(SimulatedHid::DeviceId device, const Values& values) {
    Bytes report(hid.profile(device).input_length, 0);
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
    for (const Shape* bar : w->Bars()) widths.push_back(bar->Width());
    return widths;
  }

  QStringList Serials() const {
    QStringList serials;
    for (int i = 0; i < w->SerNo->count(); ++i) serials << w->SerNo->itemText(i);
    return serials;
  }

  const device::WindowState& state() const { return w->state(); }

  void TearDown() override {
    if (w) {
      w->close();
      w.reset();
    }
    EXPECT_EQ(hid.open_handles(), 0) << "a handle was left open";
    EXPECT_EQ(hid.misuse(), 0) << "a handle was closed twice or used after its close";
  }

  SimulatedHid hid;  // outlives the window
  std::unique_ptr<frmMain> w;
};

inline Bytes Padded(std::initializer_list<std::uint8_t> head, std::size_t length = 19) {
  Bytes bytes(head);
  bytes.resize(length, 0);
  return bytes;
}

}  // namespace tensivo::window::testing
