// The utility's one window: its state record and the handlers that map the
// window's events onto the device procedures. It works on the control
// contract of controls.h, so the same logic runs behind every front-end.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "device/channels.h"
#include "device/input_report.h"
#include "device/protocol.h"
#include "device/window_state.h"
#include "platform/hid_platform.h"
#include "window/controls.h"

namespace tensivo::window {

class frmMain {
 public:
  // The form must hold every control of the layout table; both must outlive
  // the window.
  frmMain(platform::HidPlatform& hid, ui::Form& form);
  ~frmMain();
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // --- events ---
  void Form_Load();
  void Form_Unload();
  void SerNo_Click();
  void Timer_Timer();
  void LC1_gain_Click();
  void LC2_gain_Click();
  void LC3_gain_Click();
  void Command1_Click();

  // --- procedures ---
  device::Bool16 FindTheHid();
  void Scan_USB_devices();
  void Read_Device_Details();
  void Poll_Inputs();

  device::WindowState& state() { return state_; }
  const device::WindowState& state() const { return state_; }
  bool unloaded() const { return unloaded_; }
  ui::Form& form() { return form_; }

  // --- controls, by the names the window gives them ---
  ui::Frame& Frame1;
  ui::Label& Label5;
  ui::Label& lblProduct;
  ui::Label& Label4;
  ui::Label& lblManuf;
  ui::Label& Label2;
  ui::Label& lblVersion;
  ui::Label& Label3;
  ui::List& SerNo;
  ui::Timer& Timer;

  ui::Frame& Frame2;
  ui::Label& Label10;
  ui::Label& Label9;
  ui::Label& Label11;
  ui::Shape& LC1_frame;
  ui::Shape& LC2_frame;
  ui::Shape& LC3_frame;
  ui::Shape& LC1_bar;
  ui::Shape& LC2_bar;
  ui::Shape& LC3_bar;
  ui::List& LC1_gain;
  ui::List& LC2_gain;
  ui::List& LC3_gain;
  ui::Label& Label6;
  ui::Label& Label8;
  ui::Label& Label7;

  ui::Frame& Frame4;
  ui::Button& Command1;

  // Control arrays, indexed by the numbers of the inputs they show.
  ui::Label& Ch_label(int n) const { return *ch_label_.at(InputIndex(n)); }
  ui::Shape& Ch_frame(int n) const { return *ch_frame_.at(InputIndex(n)); }
  ui::Shape& Ch_bar(int n) const { return *ch_bar_.at(InputIndex(n)); }

  // The bars in channel order.
  const std::array<ui::Shape*, device::kBarCount>& Bars() const { return bars_; }

 private:
  void GainClick(ui::List& list, device::LoadCell cell);
  void CloseDevice();
  void SetTimerEnabled(bool enabled);
  void ShowReport(std::span<const std::uint8_t> buffer, std::uint32_t count);
  static std::size_t InputIndex(int n) { return static_cast<std::size_t>(n - device::kFirstInput); }

  platform::HidPlatform& hid_;
  ui::Form& form_;
  device::WindowState state_;
  bool unloaded_ = false;

  std::array<ui::List*, device::kLoadCellCount> gain_lists_{};  // LC1_gain.., in channel order
  std::array<ui::Label*, device::kInputCount> ch_label_{};
  std::array<ui::Shape*, device::kInputCount> ch_frame_{};
  std::array<ui::Shape*, device::kInputCount> ch_bar_{};
  std::array<ui::Shape*, device::kBarCount> bars_{};
  // The gain list's entry texts, made once: every refill hands the lists the same.
  std::vector<std::string> gain_texts_;
};

}  // namespace tensivo::window
