#include "window/frm_main.h"

#include <array>
#include <string_view>

#include "device/device_steps.h"
#include "device/device_text.h"
#include "device/discovery.h"
#include "window/layout.h"

namespace tensivo::window {

namespace {

using device::kFalse;
using device::kTrue;

constexpr int kConnectedInterval = 20;
constexpr int kSearchInterval = 100;

std::string ChName(std::string_view array, int n) {
  return std::string(array) + "(" + std::to_string(n) + ")";
}

void ClearList(ui::List& list) {
  // Emptying an empty list still repaints it, on every search tick.
  if (list.ListCount() != 0) list.Clear();
}

void ClearLabel(ui::Label& label) {
  if (!label.Caption().empty()) label.SetCaption("");
}

// What the empty "Serial Number" list says while the window searches, by why
// the search could not open a device it saw: the window shows no messages,
// so this is all that tells a searching window from a broken one.
struct SearchWord {
  platform::OpenError why;
  ui::Placeholder placeholder;
};
// The shown words fit the list's narrow field in every front-end's face;
// the hint says the rest.
constexpr std::array<SearchWord, 4> kSearchWords = {{
    {platform::OpenError::kNone,
     {"looking\xE2\x80\xA6",
      "No device found yet; the window keeps looking. tensivo-cli list "
      "says more."}},
    {platform::OpenError::kPermissionDenied,
     {"denied", "A device is attached that you may not open: tensivo-cli list says why."}},
    {platform::OpenError::kBusy,
     {"in use", "A device is attached that another program holds: tensivo-cli list says more."}},
    {platform::OpenError::kOther,
     {"failed", "A device is attached that cannot be opened: tensivo-cli list says why."}},
}};

ui::Placeholder SearchPlaceholder(platform::OpenError why) {
  for (const SearchWord& word : kSearchWords) {
    if (word.why == why) return word.placeholder;
  }
  return kSearchWords.back().placeholder;
}

}  // namespace

frmMain::frmMain(platform::HidPlatform& hid, ui::Form& form)
    : Frame1(form.GetFrame("Frame1")),
      Label5(form.GetLabel("Label5")),
      lblProduct(form.GetLabel("lblProduct")),
      Label4(form.GetLabel("Label4")),
      lblManuf(form.GetLabel("lblManuf")),
      Label2(form.GetLabel("Label2")),
      lblVersion(form.GetLabel("lblVersion")),
      Label3(form.GetLabel("Label3")),
      SerNo(form.GetList("SerNo")),
      Timer(form.GetTimer()),
      Frame2(form.GetFrame("Frame2")),
      Label10(form.GetLabel("Label10")),
      Label9(form.GetLabel("Label9")),
      Label11(form.GetLabel("Label11")),
      LC1_frame(form.GetShape("LC1_frame")),
      LC2_frame(form.GetShape("LC2_frame")),
      LC3_frame(form.GetShape("LC3_frame")),
      LC1_bar(form.GetShape("LC1_bar")),
      LC2_bar(form.GetShape("LC2_bar")),
      LC3_bar(form.GetShape("LC3_bar")),
      LC1_gain(form.GetList("LC1_gain")),
      LC2_gain(form.GetList("LC2_gain")),
      LC3_gain(form.GetList("LC3_gain")),
      Label6(form.GetLabel("Label6")),
      Label8(form.GetLabel("Label8")),
      Label7(form.GetLabel("Label7")),
      Frame4(form.GetFrame("Frame4")),
      Command1(form.GetButton("Command1")),
      hid_(hid),
      form_(form) {
  for (std::size_t c = 0; c < gain_lists_.size(); ++c) {
    gain_lists_[c] = &form.GetList(std::string(device::kChannels[c].name) + "_gain");
    gain_lists_[c]->Click = [this, c] {
      GainClick(*gain_lists_[c], static_cast<device::LoadCell>(c));
    };
  }
  for (const device::Channel& input : device::Inputs()) {
    const std::size_t i = InputIndex(input.number);
    ch_label_[i] = &form.GetLabel(ChName("Ch_label", input.number));
    ch_frame_[i] = &form.GetShape(ChName("Ch_frame", input.number));
    ch_bar_[i] = &form.GetShape(ChName("Ch_bar", input.number));
  }
  static_assert(kBars.size() == device::kChannelCount, "one bar per channel");
  for (std::size_t i = 0; i < kBars.size(); ++i) bars_[i] = &form.GetShape(kBars[i].bar);

  const char decimal_point = form.DecimalPoint();
  gain_texts_.reserve(device::kGainCount);
  for (int p = 0; p < device::kGainCount; ++p) {
    gain_texts_.push_back(device::GainText(p, decimal_point));
  }

  SerNo.Click = [this] { SerNo_Click(); };
  Command1.Click = [this] { Command1_Click(); };
  Timer.Tick = [this] {
    if (!unloaded_) Poll_Inputs();
  };
  form.Unload = [this] { Form_Unload(); };
}

frmMain::~frmMain() {
  Form_Unload();
  // The form may outlive the window; nothing of it may call back in here.
  SerNo.Click = nullptr;
  for (ui::List* list : gain_lists_) list->Click = nullptr;
  Command1.Click = nullptr;
  Timer.Tick = nullptr;
  form_.Unload = nullptr;
}

void frmMain::SetTimerEnabled(bool enabled) {
  if (Timer.Enabled() != enabled) Timer.SetEnabled(enabled);
}

void frmMain::CloseDevice() { device::CloseDevice(state_); }

// --- lifecycle ---

void frmMain::Form_Load() {
  state_.DetailsValid = kFalse;
  state_.ReconnectPending = kFalse;
  state_.GainEventsEnabled = kFalse;
  state_.FormReady = kFalse;
  form_.Show();
  Scan_USB_devices();
  state_.DeviceFound = FindTheHid();
  Read_Device_Details();
  SetTimerEnabled(true);
}

void frmMain::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  SetTimerEnabled(false);
  state_.FormReady = kFalse;
  CloseDevice();
}

void frmMain::SerNo_Click() {
  if (state_.FormReady != kTrue) return;
  SetTimerEnabled(false);
  state_.ReconnectPending = kTrue;
  if (state_.DeviceFound == kTrue) {
    state_.DeviceFound = kFalse;
    CloseDevice();
    Timer.SetInterval(kSearchInterval);
  }
  state_.DetailsValid = kFalse;
  state_.DeviceFound = FindTheHid();
  if (state_.DeviceFound != 0) state_.ReconnectPending = kFalse;
  Read_Device_Details();
  SetTimerEnabled(true);
}

// Through the timer, so that a tick inside a running poll is dropped
// whoever delivers it.
void frmMain::Timer_Timer() { Timer.Fire(); }

// --- discovery ---

device::Bool16 frmMain::FindTheHid() { return device::FindTheHid(hid_, state_, SerNo.Text()); }

void frmMain::Scan_USB_devices() {
  state_.FormReady = kFalse;
  ClearList(SerNo);
  SerNo.SetEnabled(false);
  const std::vector<std::string> serials = device::Scan_USB_devices(hid_, state_);
  int count = -1;
  for (const std::string& serial : serials) {
    ++count;
    SerNo.AddItem(serial);
    SerNo.SetListIndex(count);
  }
  if (count > 0) SerNo.SetEnabled(true);
  const ui::Placeholder placeholder =
      serials.empty() ? SearchPlaceholder(state_.SearchRefused) : ui::Placeholder{};
  if (SerNo.GetPlaceholder() != placeholder) SerNo.SetPlaceholder(placeholder);
}

// --- details read-back ---

void frmMain::Read_Device_Details() {
  const auto& gains = gain_lists_;
  const std::array<ui::Control*, 8> configuration = {&Command1, &Frame2, &Label6,  &Label7,
                                                     &Label8,   &Label9, &Label10, &Label11};

  // Reset.
  state_.DetailsValid = kFalse;
  for (ui::Label* label : {&lblManuf, &lblProduct, &lblVersion}) ClearLabel(*label);
  for (ui::List* list : gains) {
    ClearList(*list);
    list->SetEnabled(false);
  }
  state_.GainEventsEnabled = kFalse;
  for (ui::Control* control : configuration) control->SetEnabled(false);
  for (ui::Shape* bar : bars_) bar->SetWidth(kEmptyBarWidth);
  for (ui::Label* label : ch_label_) label->SetEnabled(false);
  Frame1.SetEnabled(false);
  Frame4.SetEnabled(false);
  if (state_.DeviceFound != kTrue) return;

  // Gain lists. Selections made while GainEventsEnabled is 0 do nothing.
  for (ui::List* list : gains) list->Fill(gain_texts_);
  for (ui::List* list : gains) list->SetListIndex(0);
  state_.GainEventsEnabled = kTrue;

  // Strings, version and the read-back. DetailsValid is still 0, so the
  // selections below are shown and never written back to the device.
  const device::DeviceDetails details = device::ReadDetails(hid_, state_);
  if (details.manufacturer) {
    lblManuf.SetCaption(" " + *details.manufacturer);
    lblVersion.SetCaption(device::VersionText(details.version));
  }
  if (details.product) lblProduct.SetCaption(" " + *details.product);
  Frame1.SetEnabled(true);

  if (device::CanConfigure(details)) {
    for (ui::List* list : gains) {
      list->SetListIndex(0);
      list->SetEnabled(true);
    }
    for (ui::Control* control : configuration) control->SetEnabled(true);
  }
  if (device::GainsFit(details.feature_length)) {
    for (std::size_t cell = 0; cell < gains.size(); ++cell) {
      if (const auto& position = details.gains.positions[cell]) {
        gains[cell]->SetListIndex(*position);
      }
    }
  } else {
    // Its replies cannot reach the gain registers: whatever they hold is no gain.
    for (ui::List* list : gains) ClearList(*list);
  }

  state_.FormReady = kTrue;
  state_.DetailsValid = kTrue;

  if ((state_.InputMask & device::kInputMaskBits) != 0) {
    Frame4.SetEnabled(true);
    for (const device::Channel& input : device::Inputs()) {
      Ch_label(input.number).SetEnabled(device::Present(input, state_.InputMask));
    }
  }
}

// --- live monitor ---

void frmMain::ShowReport(std::span<const std::uint8_t> buffer, std::uint32_t count) {
  const double full_scale = device::FullScale(LC1_frame.Width());
  const auto widths = device::NewestReportWidths(
      buffer, count, state_.DeviceCaps.InputReportByteLength, state_.InputMask, full_scale);
  for (std::size_t i = 0; i < bars_.size(); ++i) {
    if (widths[i] && bars_[i]->Width() != *widths[i]) bars_[i]->SetWidth(*widths[i]);
  }
}

void frmMain::Poll_Inputs() {
  if (state_.DeviceFound == kTrue) {
    std::array<std::uint8_t, device::kReadBufferBytes> buffer{};
    std::uint32_t count = 0;
    state_.LastResult = hid_.ReadInput(state_.ReadHandle, state_.ReadOverlapped,
                                       std::span(buffer).first(device::kReadRequestBytes), count);
    if (count > 0) {
      ShowReport(buffer, count);
      form_.DoEvents();
      // A close handled inside the pump ends the tick: no search after it.
      if (unloaded_) return;
    }
    if (state_.LastResult == 0 || state_.ReconnectPending != 0) {
      state_.DeviceFound = kFalse;
      CloseDevice();
      Timer.SetInterval(kSearchInterval);
      state_.DetailsValid = kFalse;
    } else {
      Timer.SetInterval(kConnectedInterval);
    }
  }
  if (state_.DeviceFound == kFalse) {
    state_.DetailsValid = kFalse;
    Scan_USB_devices();
    state_.DeviceFound = FindTheHid();
    if (state_.DeviceFound != 0) state_.ReconnectPending = kFalse;
    Read_Device_Details();
  }
}

// --- configuration commands ---

void frmMain::GainClick(ui::List& list, device::LoadCell cell) {
  if (state_.GainEventsEnabled == 0) return;
  const int position = list.ListIndex();
  if (position < 0 || position >= device::kGainCount) return;
  if (state_.FormReady == kTrue && state_.DeviceFound == kTrue && state_.DetailsValid == kTrue) {
    device::WriteGain(hid_, state_, cell, position);
  }
}

void frmMain::LC1_gain_Click() { GainClick(LC1_gain, device::LoadCell::kLC1); }
void frmMain::LC2_gain_Click() { GainClick(LC2_gain, device::LoadCell::kLC2); }
void frmMain::LC3_gain_Click() { GainClick(LC3_gain, device::LoadCell::kLC3); }

void frmMain::Command1_Click() {
  SetTimerEnabled(false);
  device::WriteFactoryDefaults(hid_, state_);
  state_.DetailsValid = kFalse;
  Read_Device_Details();
  state_.DetailsValid = kTrue;
  SetTimerEnabled(true);
}

}  // namespace tensivo::window
