// The utility's one window: its controls, its state record and the handlers
// that map the window's events onto the device procedures.
#pragma once

#include <QWidget>
#include <array>

#include "device/input_report.h"
#include "device/protocol.h"
#include "device/window_state.h"
#include "platform/hid_platform.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QStringListModel;
class QTimer;

namespace tensivo::window {

class Shape;

class frmMain : public QWidget {
 public:
  explicit frmMain(platform::HidPlatform& hid, QWidget* parent = nullptr);
  ~frmMain() override;

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

  // Sets a list's selected position the way the window always has: the
  // list's selection handler runs at once, also when the position is the
  // same as before.
  void SetListIndex(QComboBox* list, int index);

  // --- controls, by the names the window gives them ---
  QGroupBox* Frame1;
  QLabel* Label5;
  QLabel* lblProduct;
  QLabel* Label4;
  QLabel* lblManuf;
  QLabel* Label2;
  QLabel* lblVersion;
  QLabel* Label3;
  QComboBox* SerNo;
  QTimer* Timer;

  QGroupBox* Frame2;
  QLabel* Label10;
  QLabel* Label9;
  QLabel* Label11;
  Shape* LC1_frame;
  Shape* LC2_frame;
  Shape* LC3_frame;
  Shape* LC1_bar;
  Shape* LC2_bar;
  Shape* LC3_bar;
  QComboBox* LC1_gain;
  QComboBox* LC2_gain;
  QComboBox* LC3_gain;
  QLabel* Label6;
  QLabel* Label8;
  QLabel* Label7;

  QGroupBox* Frame4;
  QPushButton* Command1;

  // Control arrays, indexed 4..8 like the inputs they show.
  QLabel* Ch_label(int n) const { return ch_label_.at(static_cast<std::size_t>(n - 4)); }
  Shape* Ch_frame(int n) const { return ch_frame_.at(static_cast<std::size_t>(n - 4)); }
  Shape* Ch_bar(int n) const { return ch_bar_.at(static_cast<std::size_t>(n - 4)); }

  // The eight bars in report order: LC1..LC3, then inputs 4..8.
  std::array<Shape*, device::kBarCount> Bars() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ApplyLayout();
  void RaiseClick(QComboBox* list);
  void GainClick(QComboBox* list, device::LoadCell cell);
  void ClearList(QComboBox* list);
  void FillGainList(QComboBox* list);
  void CloseDevice();
  void SetTimerEnabled(bool enabled);
  void ShowReport(std::span<const std::uint8_t> buffer, std::uint32_t count);

  platform::HidPlatform& hid_;
  device::WindowState state_;
  double dpi_;
  bool unloaded_ = false;
  bool polling_ = false;

  std::array<QLabel*, 5> ch_label_{};
  std::array<Shape*, 5> ch_frame_{};
  std::array<Shape*, 5> ch_bar_{};
  std::array<QStringListModel*, 3> gain_models_{};
};

}  // namespace tensivo::window
