#include "window/qt/qt_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStringListModel>
#include <QTimer>

#include "window/layout.h"
#include "window/qt/shape.h"
#include "window/qt/window_icon.h"

namespace tensivo::window::qt {

namespace {

const QColor kBarGreen(0, 128, 0);

QString FromText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToText(const QString& text) { return text.toLatin1().toStdString(); }

class QtFrame final : public ui::Frame {
 public:
  QtFrame(std::string_view name, QGroupBox* box) : Frame(name), box_(box) {}
  bool Enabled() const override { return box_->isEnabled(); }
  void SetEnabled(bool enabled) override { box_->setEnabled(enabled); }

 private:
  QGroupBox* box_;
};

class QtLabel final : public ui::Label {
 public:
  QtLabel(std::string_view name, QLabel* label) : Label(name), label_(label) {}
  bool Enabled() const override { return label_->isEnabled(); }
  void SetEnabled(bool enabled) override { label_->setEnabled(enabled); }
  std::string Caption() const override { return ToText(label_->text()); }
  void SetCaption(std::string_view caption) override { label_->setText(FromText(caption)); }

 private:
  QLabel* label_;
};

class QtList final : public ui::List {
 public:
  QtList(std::string_view name, QComboBox* combo) : List(name), combo_(combo) {
    // A model per list lets a refill hand over 2560 entries in one step.
    model_ = new QStringListModel(combo);
    combo->setModel(model_);
    // A user's pick raises Click, also for the entry already selected.
    QObject::connect(combo, &QComboBox::activated, combo, [this] {
      if (Click) Click();
    });
  }

  bool Enabled() const override { return combo_->isEnabled(); }
  void SetEnabled(bool enabled) override { combo_->setEnabled(enabled); }
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
  void AddItem(std::string_view item) override { combo_->addItem(FromText(item)); }
  int ListCount() const override { return combo_->count(); }
  std::string ItemText(int index) const override { return ToText(combo_->itemText(index)); }
  int ListIndex() const override { return combo_->currentIndex(); }
  std::string Text() const override { return ToText(combo_->currentText()); }

 protected:
  void Select(int index) override { combo_->setCurrentIndex(index); }

 private:
  QComboBox* combo_;
  QStringListModel* model_;
  QStringList texts_;
  const std::string* filled_from_ = nullptr;
};

class QtShape final : public ui::Shape {
 public:
  QtShape(std::string_view name, qt::Shape* shape) : ui::Shape(name), shape_(shape) {}
  bool Enabled() const override { return shape_->isEnabled(); }
  void SetEnabled(bool enabled) override { shape_->setEnabled(enabled); }
  double Width() const override { return shape_->Width(); }
  void SetWidth(double twips) override { shape_->SetWidth(twips); }

 private:
  qt::Shape* shape_;
};

class QtButton final : public ui::Button {
 public:
  QtButton(std::string_view name, QPushButton* button) : Button(name), button_(button) {
    QObject::connect(button, &QPushButton::clicked, button, [this] {
      if (Click) Click();
    });
  }
  bool Enabled() const override { return button_->isEnabled(); }
  void SetEnabled(bool enabled) override { button_->setEnabled(enabled); }

 private:
  QPushButton* button_;
};

}  // namespace

class QtTimer final : public ui::Timer {
 public:
  QtTimer(std::string_view name, QTimer* timer) : Timer(name), timer_(timer) {
    timer->setInterval(kTimerInitialInterval);
    QObject::connect(timer, &QTimer::timeout, timer, [this] {
      if (Tick) Tick();
    });
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
    : QWidget(parent), dpi_(logicalDpiX() > 0 ? logicalDpiX() : 96) {
  setObjectName("frmMain");
  setWindowTitle(FromText(kWindowCaption));
  setWindowIcon(WindowIcon());
  // The window asks for its classic face; DejaVu Sans stands in where it is
  // missing.
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  QFont font("MS Sans Serif");
  font.setPointSizeF(9.75);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  Build();
  setFixedSize(TwipsToPixels(kClientWidth, dpi_), TwipsToPixels(kClientHeight, dpi_));
}

QtForm::~QtForm() = default;

void QtForm::Build() {
  auto place_widget = [this](QWidget* widget, const ControlPlace& place) {
    widget->setObjectName(FromText(place.name));
    widget->setGeometry(TwipsToPixels(place.left, dpi_), TwipsToPixels(place.top, dpi_),
                        TwipsToPixels(place.width, dpi_), TwipsToPixels(place.height, dpi_));
  };
  auto new_shape = [this](QWidget* parent, const ControlPlace& place, QColor fill, QColor border) {
    auto* shape = new Shape(parent, fill, border, dpi_);
    shape->setObjectName(FromText(place.name));
    shape->Place(place.left, place.top, place.width, place.height);
    return shape;
  };

  for (const ControlPlace& place : kLayout) {
    QWidget* parent = this;
    if (!place.container.empty()) parent = Native<QGroupBox>(place.container);
    std::unique_ptr<ui::Control> control;
    switch (place.kind) {
      case Kind::kFrame: {
        auto* box = new QGroupBox(FromText(place.caption), parent);
        place_widget(box, place);
        control = std::make_unique<QtFrame>(place.name, box);
        break;
      }
      case Kind::kLabel:
      case Kind::kValueLabel: {
        auto* label = new QLabel(FromText(place.caption), parent);
        place_widget(label, place);
        if (place.kind == Kind::kValueLabel) {
          // Reads as a display field: window background, window text.
          QPalette palette = label->palette();
          palette.setColor(QPalette::Window, palette.color(QPalette::Base));
          palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
          label->setPalette(palette);
          label->setAutoFillBackground(true);
        }
        control = std::make_unique<QtLabel>(place.name, label);
        break;
      }
      case Kind::kList: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        place_widget(combo, place);
        control = std::make_unique<QtList>(place.name, combo);
        break;
      }
      case Kind::kOutline:
        control = std::make_unique<QtShape>(place.name,
                                            new_shape(parent, place, Qt::white, Qt::black));
        break;
      case Kind::kBar:
        control = std::make_unique<QtShape>(place.name,
                                            new_shape(parent, place, kBarGreen, kBarGreen));
        break;
      case Kind::kButton: {
        auto* button = new QPushButton(FromText(place.caption), parent);
        place_widget(button, place);
        control = std::make_unique<QtButton>(place.name, button);
        break;
      }
    }
    controls_.Add(std::move(control));
  }
  for (const BarPlace& bar : kBars) Native<Shape>(bar.bar)->SetTrack(Native<Shape>(bar.outline));

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
  }
  // A wheel turned over a list the user has not picked from would change it,
  // and a gain list writes every change to the device.
  for (QComboBox* combo : findChildren<QComboBox*>()) combo->installEventFilter(this);
}

ui::Frame& QtForm::GetFrame(std::string_view name) { return controls_.Get<ui::Frame>(name); }
ui::Label& QtForm::GetLabel(std::string_view name) { return controls_.Get<ui::Label>(name); }
ui::List& QtForm::GetList(std::string_view name) { return controls_.Get<ui::List>(name); }
ui::Shape& QtForm::GetShape(std::string_view name) { return controls_.Get<ui::Shape>(name); }
ui::Button& QtForm::GetButton(std::string_view name) { return controls_.Get<ui::Button>(name); }
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

bool QtForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    if (auto* combo = qobject_cast<QComboBox*>(watched); combo && !combo->hasFocus()) {
      event->ignore();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tensivo::window::qt
