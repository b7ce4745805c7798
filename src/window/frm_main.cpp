#include "window/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStringListModel>
#include <QTimer>

#include "device/device_steps.h"
#include "device/device_text.h"
#include "device/discovery.h"
#include "window/layout.h"
#include "window/shape.h"
#include "window/window_icon.h"

namespace tensivo::window {

namespace {

using device::kFalse;
using device::kTrue;

constexpr int kInitialInterval = 50;
constexpr int kConnectedInterval = 20;
constexpr int kSearchInterval = 100;

const QColor kBarGreen(0, 128, 0);

QString FromDeviceText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The 2560 entry texts are the same in every list and on every call; only
// the lists are refilled.
const QStringList& GainTexts() {
  static const QStringList texts = [] {
    // The user's decimal separator, where it is one 8-bit character.
    const QString point = QLocale().decimalPoint();
    const char latin1 = point.size() == 1 ? point.at(0).toLatin1() : '\0';
    const char decimal_point = latin1 != '\0' ? latin1 : '.';
    QStringList list;
    list.reserve(device::kGainCount);
    for (int p = 0; p < device::kGainCount; ++p) {
      list.append(QString::fromLatin1(device::GainText(p, decimal_point)));
    }
    return list;
  }();
  return texts;
}

}  // namespace

frmMain::frmMain(platform::HidPlatform& hid, QWidget* parent)
    : QWidget(parent), hid_(hid), dpi_(logicalDpiX() > 0 ? logicalDpiX() : 96) {
  setObjectName("frmMain");
  setWindowTitle("Tensivo Configuration");
  setWindowIcon(WindowIcon());
  // The window asks for its classic face; DejaVu Sans stands in where it is
  // missing, whoever opens the window.
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  QFont font("MS Sans Serif");
  font.setPointSizeF(9.75);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  BuildControls();
  ApplyLayout();
  setFixedSize(TwipsToPixels(kClientWidth, dpi_), TwipsToPixels(kClientHeight, dpi_));
}

frmMain::~frmMain() = default;

void frmMain::BuildControls() {
  auto frame = [this](const char* name, const char* caption) {
    auto* box = new QGroupBox(caption, this);
    box->setObjectName(name);
    return box;
  };
  auto label = [](QWidget* parent, const char* name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
  };
  // Value labels read as display fields: window background, window text.
  auto value_label = [&](const char* name) {
    QLabel* l = label(Frame1, name, QString());
    QPalette palette = l->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
    l->setPalette(palette);
    l->setAutoFillBackground(true);
    return l;
  };
  // Drop-down lists the user can only pick from.
  auto list = [](QWidget* parent, const char* name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return combo;
  };
  auto outline = [this](QWidget* parent, const QString& name) {
    auto* s = new Shape(parent, Qt::white, Qt::black, dpi_);
    s->setObjectName(name);
    return s;
  };
  auto bar = [this](QWidget* parent, const QString& name) {
    auto* s = new Shape(parent, kBarGreen, kBarGreen, dpi_);
    s->setObjectName(name);
    return s;
  };

  Frame1 = frame("Frame1", "Details");
  Label5 = label(Frame1, "Label5", "Device name");
  lblProduct = value_label("lblProduct");
  Label4 = label(Frame1, "Label4", "Made by");
  lblManuf = value_label("lblManuf");
  Label2 = label(Frame1, "Label2", "Version");
  lblVersion = value_label("lblVersion");
  Label3 = label(Frame1, "Label3", "Serial Number");
  SerNo = list(Frame1, "SerNo");
  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(kInitialInterval);

  Frame2 = frame("Frame2", "Load cell inputs");
  Label10 = label(Frame2, "Label10", "LC1");
  Label9 = label(Frame2, "Label9", "LC2");
  Label11 = label(Frame2, "Label11", "LC3");
  // Outlines first, so that the bars are drawn over them.
  LC1_frame = outline(Frame2, "LC1_frame");
  LC2_frame = outline(Frame2, "LC2_frame");
  LC3_frame = outline(Frame2, "LC3_frame");
  LC1_bar = bar(Frame2, "LC1_bar");
  LC2_bar = bar(Frame2, "LC2_bar");
  LC3_bar = bar(Frame2, "LC3_bar");
  LC1_gain = list(Frame2, "LC1_gain");
  LC2_gain = list(Frame2, "LC2_gain");
  LC3_gain = list(Frame2, "LC3_gain");
  Label6 = label(Frame2, "Label6", "LC1 gain");
  Label8 = label(Frame2, "Label8", "LC2 gain");
  Label7 = label(Frame2, "Label7", "LC3 gain");

  Frame4 = frame("Frame4", "Potentiometer inputs");
  for (int n = 4; n <= 8; ++n) {
    const auto i = static_cast<std::size_t>(n - 4);
    ch_label_[i] = label(Frame4, "", QString("Input %1").arg(n));
    ch_label_[i]->setObjectName(QString("Ch_label(%1)").arg(n));
  }
  for (int n = 4; n <= 8; ++n) ch_frame_[n - 4] = outline(Frame4, QString("Ch_frame(%1)").arg(n));
  for (int n = 4; n <= 8; ++n) ch_bar_[n - 4] = bar(Frame4, QString("Ch_bar(%1)").arg(n));

  Command1 = new QPushButton("Restore factory settings", this);
  Command1->setObjectName("Command1");

  // The gain lists share one set of texts; a model per list lets a refill
  // hand it over whole instead of appending 2560 items one by one.
  const std::array<QComboBox*, 3> gains = {LC1_gain, LC2_gain, LC3_gain};
  for (std::size_t i = 0; i < gains.size(); ++i) {
    gain_models_[i] = new QStringListModel(gains[i]);
    gains[i]->setModel(gain_models_[i]);
  }

  // Only the four lists and the button take the focus, in this order.
  for (QWidget* child : findChildren<QWidget*>()) child->setFocusPolicy(Qt::NoFocus);
  for (QWidget* w : std::initializer_list<QWidget*>{SerNo, LC1_gain, LC2_gain, LC3_gain}) {
    w->setFocusPolicy(Qt::StrongFocus);
  }
  Command1->setFocusPolicy(Qt::StrongFocus);
  // A wheel turned over a list the user has not picked from would change it,
  // and a gain list writes every change to the device.
  for (QComboBox* combo : {SerNo, LC1_gain, LC2_gain, LC3_gain}) combo->installEventFilter(this);
  setTabOrder(SerNo, LC1_gain);
  setTabOrder(LC1_gain, LC2_gain);
  setTabOrder(LC2_gain, LC3_gain);
  setTabOrder(LC3_gain, Command1);

  // A user's pick raises the handler even when it picks the selected entry.
  connect(SerNo, &QComboBox::activated, this, [this] { SerNo_Click(); });
  connect(LC1_gain, &QComboBox::activated, this, [this] { LC1_gain_Click(); });
  connect(LC2_gain, &QComboBox::activated, this, [this] { LC2_gain_Click(); });
  connect(LC3_gain, &QComboBox::activated, this, [this] { LC3_gain_Click(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(Timer, &QTimer::timeout, this, [this] { Timer_Timer(); });
}

void frmMain::ApplyLayout() {
  for (const ControlPlace& place : kLayout) {
    const QString name = QString::fromLatin1(place.name.data(),
                                             static_cast<qsizetype>(place.name.size()));
    auto* widget = findChild<QWidget*>(name);
    if (auto* shape = dynamic_cast<Shape*>(widget)) {
      shape->Place(place.left, place.top, place.width, place.height);
    } else if (widget) {
      widget->setGeometry(TwipsToPixels(place.left, dpi_), TwipsToPixels(place.top, dpi_),
                          TwipsToPixels(place.width, dpi_), TwipsToPixels(place.height, dpi_));
    }
  }
  const std::array<Shape*, device::kBarCount> outlines = {
      LC1_frame, LC2_frame, LC3_frame, ch_frame_[0], ch_frame_[1], ch_frame_[2], ch_frame_[3],
      ch_frame_[4]};
  const auto bars = Bars();
  for (std::size_t i = 0; i < bars.size(); ++i) bars[i]->SetTrack(outlines[i]);
}

std::array<Shape*, device::kBarCount> frmMain::Bars() const {
  return {LC1_bar, LC2_bar, LC3_bar, ch_bar_[0], ch_bar_[1], ch_bar_[2], ch_bar_[3], ch_bar_[4]};
}

// --- list helpers ---

void frmMain::SetListIndex(QComboBox* list, int index) {
  list->setCurrentIndex(index);
  RaiseClick(list);
}

void frmMain::RaiseClick(QComboBox* list) {
  if (list == SerNo) SerNo_Click();
  if (list == LC1_gain) LC1_gain_Click();
  if (list == LC2_gain) LC2_gain_Click();
  if (list == LC3_gain) LC3_gain_Click();
}

void frmMain::ClearList(QComboBox* list) {
  // Emptying an empty list would still reset its model and repaint it, on
  // every search tick.
  if (list->count() == 0) return;
  if (auto* model = qobject_cast<QStringListModel*>(list->model())) {
    model->setStringList({});
  } else {
    list->clear();
  }
}

void frmMain::FillGainList(QComboBox* list) {
  qobject_cast<QStringListModel*>(list->model())->setStringList(GainTexts());
}

void frmMain::SetTimerEnabled(bool enabled) {
  if (!enabled) {
    Timer->stop();
  } else if (!Timer->isActive()) {
    Timer->start();
  }
}

void frmMain::CloseDevice() { device::CloseDevice(state_); }

// --- lifecycle ---

void frmMain::Form_Load() {
  state_.DetailsValid = kFalse;
  state_.ReconnectPending = kFalse;
  state_.GainEventsEnabled = kFalse;
  state_.FormReady = kFalse;
  show();
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

void frmMain::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    if (auto* combo = qobject_cast<QComboBox*>(watched); combo && !combo->hasFocus()) {
      event->ignore();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmMain::SerNo_Click() {
  if (state_.FormReady != kTrue) return;
  SetTimerEnabled(false);
  state_.ReconnectPending = kTrue;
  if (state_.DeviceFound == kTrue) {
    state_.DeviceFound = kFalse;
    CloseDevice();
    Timer->setInterval(kSearchInterval);
  }
  state_.DetailsValid = kFalse;
  state_.DeviceFound = FindTheHid();
  if (state_.DeviceFound != 0) state_.ReconnectPending = kFalse;
  Read_Device_Details();
  SetTimerEnabled(true);
}

void frmMain::Timer_Timer() {
  // Qt does not nest a timer's ticks, but a pump inside a poll must never
  // start a second poll whatever delivers the tick.
  if (polling_ || unloaded_) return;
  polling_ = true;
  Poll_Inputs();
  polling_ = false;
}

// --- discovery ---

device::Bool16 frmMain::FindTheHid() {
  const QByteArray serial = SerNo->currentText().toLatin1();
  return device::FindTheHid(hid_, state_, std::string_view(serial.constData(), serial.size()));
}

void frmMain::Scan_USB_devices() {
  state_.FormReady = kFalse;
  ClearList(SerNo);
  SerNo->setEnabled(false);
  const std::vector<std::string> serials = device::Scan_USB_devices(hid_, state_);
  int count = -1;
  for (const std::string& serial : serials) {
    ++count;
    SerNo->addItem(FromDeviceText(serial));
    SetListIndex(SerNo, count);
  }
  if (count > 0) SerNo->setEnabled(true);
}

// --- details read-back ---

void frmMain::Read_Device_Details() {
  const std::array<QComboBox*, 3> gains = {LC1_gain, LC2_gain, LC3_gain};
  const std::array<QWidget*, 9> configuration = {Command1, Frame2,  Label6, Label7, Label8,
                                                 Label9,   Label10, Label11, nullptr};

  // Reset.
  state_.DetailsValid = kFalse;
  // clear() repaints a label even when it is already empty.
  for (QLabel* label : {lblManuf, lblProduct, lblVersion}) {
    if (!label->text().isEmpty()) label->clear();
  }
  for (QComboBox* list : gains) {
    ClearList(list);
    list->setEnabled(false);
  }
  state_.GainEventsEnabled = kFalse;
  for (QWidget* w : configuration) {
    if (w) w->setEnabled(false);
  }
  for (Shape* bar : Bars()) bar->SetWidth(kEmptyBarWidth);
  for (QLabel* l : ch_label_) l->setEnabled(false);
  Frame1->setEnabled(false);
  Frame4->setEnabled(false);
  if (state_.DeviceFound != kTrue) return;

  // Gain lists. Selections made while GainEventsEnabled is 0 do nothing.
  for (QComboBox* list : gains) FillGainList(list);
  for (QComboBox* list : gains) SetListIndex(list, 0);
  state_.GainEventsEnabled = kTrue;

  // Strings, version and the read-back. DetailsValid is still 0, so the
  // selections below are shown and never written back to the device.
  const device::DeviceDetails details = device::ReadDetails(hid_, state_);
  if (details.manufacturer) {
    lblManuf->setText(" " + FromDeviceText(*details.manufacturer));
    lblVersion->setText(QString::fromLatin1(device::VersionText(details.version)));
  }
  if (details.product) lblProduct->setText(" " + FromDeviceText(*details.product));
  Frame1->setEnabled(true);

  if (device::CanConfigure(details)) {
    for (QComboBox* list : gains) {
      SetListIndex(list, 0);
      list->setEnabled(true);
    }
    for (QWidget* w : configuration) {
      if (w) w->setEnabled(true);
    }
  }
  for (std::size_t cell = 0; cell < gains.size(); ++cell) {
    if (const auto& position = details.gain_positions[cell]) SetListIndex(gains[cell], *position);
  }

  state_.FormReady = kTrue;
  state_.DetailsValid = kTrue;

  if ((state_.InputMask & 0xF8) != 0) {
    Frame4->setEnabled(true);
    for (int n = 4; n <= 8; ++n) {
      Ch_label(n)->setEnabled((state_.InputMask & (0x08 << (n - 4))) == 0);
    }
  }
}

// --- live monitor ---

void frmMain::ShowReport(std::span<const std::uint8_t> buffer, std::uint32_t count) {
  const double full_scale = device::FullScale(LC1_frame->Width());
  const auto widths = device::NewestReportWidths(
      buffer, count, state_.DeviceCaps.InputReportByteLength, state_.InputMask, full_scale);
  const auto bars = Bars();
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (widths[i] && bars[i]->Width() != *widths[i]) bars[i]->SetWidth(*widths[i]);
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
      QCoreApplication::processEvents();
      // A close handled inside the pump ends the tick: no search after it.
      if (unloaded_) return;
    }
    if (state_.LastResult == 0 || state_.ReconnectPending != 0) {
      state_.DeviceFound = kFalse;
      CloseDevice();
      Timer->setInterval(kSearchInterval);
      state_.DetailsValid = kFalse;
    } else {
      Timer->setInterval(kConnectedInterval);
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

void frmMain::GainClick(QComboBox* list, device::LoadCell cell) {
  if (state_.GainEventsEnabled == 0) return;
  const int position = list->currentIndex();
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
