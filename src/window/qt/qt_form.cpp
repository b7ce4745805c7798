#include "window/qt/qt_form.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include "window/bar_reading.h"
#include "window/layout.h"
#include "window/qt/accessible.h"
#include "window/qt/latin1.h"
#include "window/qt/shape.h"
#include "window/qt/window_icon.h"

namespace tensivo::window::qt {

namespace {

constexpr double kFacePoints = 9.75;
// Enough rows to pick from 2560 gains with the scrollbar, few enough to fit
// below a list on a small screen.
constexpr int kPopupRows = 20;

}  // namespace

// Drop-down lists open as a scrolling list under the control. Styles that
// open a non-editable list as a menu (Fusion does) make it as tall as the
// screen, without a scrollbar, with the row under the pointer highlighted.
// And a list drawn smaller to fit the screen keeps its arrow in proportion,
// or the arrow's fixed width would leave no room for the entry's text.
class ListStyle final : public QProxyStyle {
 public:
  void SetScale(double scale) { scale_ = scale; }

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* result) const override {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, result);
  }

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
    if (control != CC_ComboBox || scale_ >= 1) return rect;
    const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
    const int freed = arrow.width() - static_cast<int>(std::lround(arrow.width() * scale_));
    if (part == SC_ComboBoxArrow) rect.setLeft(rect.left() + freed);
    if (part == SC_ComboBoxEditField) rect.setRight(rect.right() + freed);
    return rect;
  }

 private:
  double scale_ = 1;
};

namespace {

QColor ToColor(Colour colour) { return QColor(colour.red, colour.green, colour.blue); }

// A control on one of Qt's widgets. The contract's Enabled() keeps the
// frame rule; the widget is told its own setting, and Qt greys it out
// while its frame is disabled.
template <typename Base, typename Widget>
class OnWidget : public InFrame<Base> {
 public:
  OnWidget(std::string_view name, const ui::Control* frame, Widget* widget)
      : InFrame<Base>(name, frame), widget_(widget) {}

 protected:
  void ShowEnabled(bool /*changed*/) override { widget_->setEnabled(this->own_enabled()); }

  Widget* widget_;
};

class QtFrame final : public OnWidget<ui::Frame, QGroupBox> {
 public:
  using OnWidget::OnWidget;
};

class QtLabel final : public OnWidget<ui::Label, QLabel> {
 public:
  QtLabel(std::string_view name, const ui::Control* frame, QLabel* label, bool shows_value)
      : OnWidget(name, frame, label), shows_value_(shows_value) {}
  std::string Caption() const override { return ToText(widget_->text()); }
  void SetCaption(std::string_view caption) override {
    widget_->setText(FromText(caption));
    // A value label is named after its caption; what it shows is read as
    // its description, without the space that sets it off on screen.
    if (shows_value_) widget_->setAccessibleDescription(widget_->text().trimmed());
  }

 private:
  bool shows_value_;
};

class QtList final : public OnWidget<ui::List, QComboBox> {
 public:
  QtList(std::string_view name, const ui::Control* frame, QComboBox* combo)
      : OnWidget(name, frame, combo) {
    // A model per list lets a refill hand over 2560 entries in one step.
    model_ = new QStringListModel(combo);
    combo->setModel(model_);
    // A user's pick raises Click, also for the entry already selected.
    QObject::connect(combo, &QComboBox::activated, combo, [this] {
      if (Click) Click();
    });
  }

  void SetPlaceholder(ui::Placeholder placeholder) override {
    placeholder_ = placeholder;
    widget_->setPlaceholderText(FromUtf8(placeholder.text));
    const std::string_view told = placeholder.hint.empty() ? placeholder.text : placeholder.hint;
    widget_->setToolTip(FromUtf8(placeholder.hint));
    widget_->setAccessibleDescription(FromUtf8(told));
  }
  ui::Placeholder GetPlaceholder() const override { return placeholder_; }
  void Clear() override { model_->setStringList({}); }
  void Fill(std::span<const std::string> items) override {
    // The window hands over the same texts on every refill; converting them
    // once leaves a refill a model swap.
    if (items.data() != filled_from_ || items.size() != static_cast<std::size_t>(texts_.size())) {
      texts_.clear();
      texts_.reserve(static_cast<qsizetype>(items.size()));
      for (const std::string& item : items) texts_.append(FromText(item));
      filled_from_ = items.data();
    }
    model_->setStringList(texts_);
  }
  void AddItem(std::string_view item) override { widget_->addItem(FromText(item)); }
  int ListCount() const override { return widget_->count(); }
  std::string ItemText(int index) const override { return ToText(widget_->itemText(index)); }
  int ListIndex() const override { return widget_->currentIndex(); }
  std::string Text() const override { return ToText(widget_->currentText()); }

 protected:
  void Select(int index) override { widget_->setCurrentIndex(index); }

 private:
  QStringListModel* model_;
  ui::Placeholder placeholder_;
  QStringList texts_;
  const std::string* filled_from_ = nullptr;
};

class QtShape final : public OnWidget<ui::Shape, qt::Shape> {
 public:
  using OnWidget::OnWidget;
  double Width() const override { return widget_->Width(); }
  void SetWidth(double twips) override {
    widget_->SetWidth(twips);
    if (moved) moved();
  }

  // Runs after each change of width: a bar's value for a screen reader.
  std::function<void()> moved;
};

class QtButton final : public OnWidget<ui::Button, QPushButton> {
 public:
  QtButton(std::string_view name, const ui::Control* frame, QPushButton* button)
      : OnWidget(name, frame, button) {
    QObject::connect(button, &QPushButton::clicked, button, [this] {
      if (Click) Click();
    });
  }
};

}  // namespace

class QtTimer final : public ui::Timer {
 public:
  QtTimer(std::string_view name, QTimer* timer) : Timer(name), timer_(timer) {
    timer->setInterval(kTimerInitialInterval);
    QObject::connect(timer, &QTimer::timeout, timer, [this] { Fire(); });
  }
  bool Enabled() const override { return timer_->isActive(); }
  void SetEnabled(bool enabled) override {
    if (enabled) {
      timer_->start();
    } else {
      timer_->stop();
    }
  }
  int Interval() const override { return timer_->interval(); }
  void SetInterval(int milliseconds) override { timer_->setInterval(milliseconds); }

 private:
  QTimer* timer_;
};

QtForm::QtForm(QWidget* parent)
    : QWidget(parent), screen_dpi_(logicalDpiX() > 0 ? logicalDpiX() : 96), dpi_(screen_dpi_) {
  setObjectName("frmMain");
  setWindowTitle(FromText(kWindowCaption));
  setWindowIcon(WindowIcon());
  // The size is fixed, so a maximize button would do nothing.
  if (isWindow()) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
  }
  // The window asks for its classic face; DejaVu Sans stands in where it is
  // missing.
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  QFont font("MS Sans Serif");
  font.setPointSizeF(kFacePoints);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  Build();
  FitScreen();
}

QtForm::~QtForm() = default;

void QtForm::Build() {
  list_style_ = new ListStyle;
  list_style_->setParent(this);
  // Place() puts each where the table says, at the scale that fits.
  BuildLayout([this](const ControlPlace& place, const ui::Control* frame) {
    QWidget* parent = frame == nullptr ? this : Native<QWidget>(place.container);
    return MakeControl(place, frame, parent);
  });
  for (const BarPlace& bar : kBars) Native<Shape>(bar.bar)->SetTrack(Native<Shape>(bar.outline));
  DescribeForScreenReaders();

  auto* timer = new QTimer(this);
  timer->setObjectName(FromText(kTimerName));
  timer_ = std::make_unique<QtTimer>(kTimerName, timer);

  // Only the four lists and the button take the focus, in the tab order.
  for (QWidget* child : findChildren<QWidget*>()) child->setFocusPolicy(Qt::NoFocus);
  QWidget* previous = nullptr;
  for (std::string_view name : kTabOrder) {
    QWidget* widget = Native<QWidget>(name);
    widget->setFocusPolicy(Qt::StrongFocus);
    if (previous) setTabOrder(previous, widget);
    previous = widget;
    // For the wheel, and to see a control of the tab order enabled again.
    widget->installEventFilter(this);
  }
}

std::unique_ptr<ui::Control> QtForm::MakeControl(const ControlPlace& place,
                                                 const ui::Control* frame, QWidget* parent) {
  const QString caption = FromText(place.caption);
  auto named = [&place](auto* widget) {
    widget->setObjectName(FromText(place.name));
    return widget;
  };
  switch (place.kind) {
    case Kind::kFrame:
      return std::make_unique<QtFrame>(place.name, frame, named(new QGroupBox(caption, parent)));
    case Kind::kLabel:
      return std::make_unique<QtLabel>(place.name, frame, named(new QLabel(caption, parent)),
                                       false);
    case Kind::kValueLabel:
      return std::make_unique<QtLabel>(place.name, frame, named(MakeValueLabel(parent)), true);
    case Kind::kList:
      return std::make_unique<QtList>(place.name, frame, named(MakeList(parent)));
    case Kind::kOutline:
    case Kind::kBar: {
      const ShapePaint& paint = PaintOf(place);
      auto* shape = named(new Shape(parent, ToColor(paint.fill), ToColor(paint.border), dpi_));
      shape->Place(place.left, place.top, place.width, place.height);
      return std::make_unique<QtShape>(place.name, frame, shape);
    }
    case Kind::kButton:
      return std::make_unique<QtButton>(place.name, frame, named(new QPushButton(caption, parent)));
  }
  return nullptr;
}

QLabel* QtForm::MakeValueLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  // Reads as a display field: window background, window text.
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Base));
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
  label->setPalette(palette);
  label->setAutoFillBackground(true);
  return label;
}

QComboBox* QtForm::MakeList(QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(false);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setStyle(list_style_);
  combo->setMaxVisibleItems(kPopupRows);
  // Rows of one height let the view place 2560 entries without measuring
  // each. The scrollbar is asked for: the list's container leaves it
  // switched off.
  if (auto* view = qobject_cast<QListView*>(combo->view())) {
    view->setUniformItemSizes(true);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  }
  return combo;
}

void QtForm::Place(double scale) {
  placed_ = true;
  scale_ = scale;
  dpi_ = screen_dpi_ * scale;
  list_style_->SetScale(scale);
  QFont face = font();
  face.setPointSizeF(kFacePoints * scale);
  setFont(face);
  for (const ControlPlace& place : kLayout) {
    if (place.kind == Kind::kOutline || place.kind == Kind::kBar) {
      // Outlines come before their bars, which take their right edge.
      Native<Shape>(place.name)->SetDpi(dpi_);
    } else {
      Native<QWidget>(place.name)
          ->setGeometry(TwipsToPixels(place.left, dpi_), TwipsToPixels(place.top, dpi_),
                        TwipsToPixels(place.width, dpi_), TwipsToPixels(place.height, dpi_));
    }
  }
  setFixedSize(TwipsToPixels(kClientWidth, dpi_), TwipsToPixels(kClientHeight, dpi_));
}

void QtForm::FitScreen() {
  const QScreen* screen = this->screen();
  if (!isWindow() || screen == nullptr) {
    if (!placed_) Place(1);
    return;
  }
  // The frame is known once the window manager has put one around the
  // window; until then, a title bar and a thin border stand in for it.
  QMargins frame;
  if (const QWindow* window = windowHandle(); window != nullptr && isVisible()) {
    frame = window->frameMargins();
  }
  if (frame.isNull()) {
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    frame = QMargins(2, title + 2, 2, 2);
  }
  // At a fractional scale factor the frame's device pixels round to logical
  // ones either way; a pixel more on each side keeps it on the screen.
  if (const double ratio = devicePixelRatioF(); ratio != std::floor(ratio)) {
    frame += QMargins(1, 1, 1, 1);
  }
  const QRect available = screen->availableGeometry();
  const double scale = FitScale(screen_dpi_, available.width() - frame.left() - frame.right(),
                                available.height() - frame.top() - frame.bottom());
  if (placed_ && scale == scale_) return;
  Place(scale);
  if (isVisible()) {
    // Keep the whole frame on the screen it was fitted to.
    const QRect outer = geometry().marginsAdded(frame);
    const int left = std::clamp(outer.left(), available.left(),
                                std::max(available.left(), available.right() + 1 - outer.width()));
    const int top = std::clamp(outer.top(), available.top(),
                               std::max(available.top(), available.bottom() + 1 - outer.height()));
    if (left != outer.left() || top != outer.top()) {
      move(pos() + QPoint(left - outer.left(), top - outer.top()));
    }
  }
}

void QtForm::DescribeForScreenReaders() {
  // Each label names the control beside it: Qt relates the two (label for,
  // labelled by), and the control is named after the caption. On Linux Qt
  // keeps a combo box's shown entry as its name, which is where screen
  // readers there look for its value; they take its label from the
  // relation. The captions carry no mnemonic: Qt would draw it underlined,
  // and the captions are to show as they are.
  for (const LabelledBy& pair : kLabelledBy) {
    auto* target = Native<QWidget>(pair.control);
    Native<QLabel>(pair.label)->setBuddy(target);
    if (dynamic_cast<Shape*>(target) == nullptr) {
      target->setAccessibleName(FromText(AccessibleName(pair.control)));
    }
  }
  for (const ControlPlace& place : kLayout) {
    if (place.kind == Kind::kOutline || place.kind == Kind::kBar) {
      MakeAccessible(Native<Shape>(place.name));
    }
  }
  for (std::size_t i = 0; i < kBars.size(); ++i) {
    bars_[i] = Native<Shape>(kBars[i].bar);
    bar_labels_[i] = Native<QLabel>(LabelOf(kBars[i].bar));
    bar_labels_[i]->installEventFilter(this);
    controls_.Get<QtShape>(kBars[i].bar).moved = [this, i] { AnnounceBar(i); };
  }
  notice_timer_ = new QTimer(this);
  notice_timer_->setInterval(
      std::chrono::duration_cast<std::chrono::milliseconds>(decltype(bar_notices_)::kGap));
  connect(notice_timer_, &QTimer::timeout, this, [this] {
    const bool waiting = bar_notices_.Flush(
        std::chrono::steady_clock::now(), [this](std::size_t bar, int percent) {
          QAccessibleValueChangeEvent event(bars_[bar], percent);
          QAccessible::updateAccessibility(&event);
        });
    if (!waiting) notice_timer_->stop();
  });
}

void QtForm::AnnounceBar(std::size_t bar) {
  // Nothing to tell while no assistive technology listens: the tick stays
  // as cheap as it was.
  if (!QAccessible::isActive()) return;
  const Shape* shape = bars_[bar];
  const int percent = BarPercent(shape->Width(), shape->track()->Width());
  if (bar_notices_.Changed(bar, percent, std::chrono::steady_clock::now())) {
    QAccessibleValueChangeEvent event(bars_[bar], percent);
    QAccessible::updateAccessibility(&event);
  } else if (bar_notices_.waiting(bar) && !notice_timer_->isActive()) {
    notice_timer_->start();
  }
}

void QtForm::FocusFirstEnabled() {
  // Deferred to the end of the handler that enabled something, so that the
  // first enabled control is chosen from what the handler left, not from
  // the order in which it enabled the controls.
  if (focus_pending_) return;
  focus_pending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        focus_pending_ = false;
        const QWidget* focused = focusWidget();
        const bool held = focused != nullptr && focused->isEnabled() && focused->isVisible();
        if (const ui::Control* target = FocusTarget(held)) {
          Native<QWidget>(target->Name())->setFocus(Qt::OtherFocusReason);
        }
      },
      Qt::QueuedConnection);
}

ui::Timer& QtForm::GetTimer() { return *timer_; }

void QtForm::DoEvents() { QCoreApplication::processEvents(); }

char QtForm::DecimalPoint() const {
  const QString point = QLocale().decimalPoint();
  const char latin1 = point.size() == 1 ? point.at(0).toLatin1() : '\0';
  return latin1 != '\0' ? latin1 : '.';
}

void QtForm::closeEvent(QCloseEvent* event) {
  if (Unload) Unload();
  event->accept();
}

bool QtForm::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
      FitScreen();
      FocusFirstEnabled();
      break;
    case QEvent::Move:
    case QEvent::ScreenChangeInternal:
      // The frame's size is first known here, after the window manager has
      // put the window in it; or the window has been moved to another screen.
      if (isVisible()) FitScreen();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

bool QtForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::EnabledChange && QAccessible::isActive()) {
    // A bar whose caption greys out has no input: its state says so.
    if (const auto at = std::ranges::find(bar_labels_, watched); at != bar_labels_.end()) {
      QAccessible::State changed;
      changed.disabled = true;
      QAccessibleStateChangeEvent notice(bars_[static_cast<std::size_t>(at - bar_labels_.begin())],
                                         changed);
      QAccessible::updateAccessibility(&notice);
    }
  }
  if (event->type() == QEvent::EnabledChange) {
    if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->isEnabled()) {
      FocusFirstEnabled();
    }
  }
  if (event->type() == QEvent::Wheel) {
    if (auto* widget = qobject_cast<QWidget*>(watched);
        widget && !WheelReaches(ToText(widget->objectName()), widget->hasFocus())) {
      event->ignore();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tensivo::window::qt
