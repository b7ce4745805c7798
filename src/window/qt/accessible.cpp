#include "window/qt/accessible.h"

#include <QAccessibleWidget>
#include <QLabel>

#include "window/bar_reading.h"
#include "window/layout.h"
#include "window/qt/latin1.h"
#include "window/qt/shape.h"

namespace tensivo::window::qt {

namespace {

// A bar as a read-only progress bar: whole percent of full scale, 0 to 100.
class BarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit BarAccessible(Shape* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {
    const std::string name = bar->objectName().toStdString();
    name_ = FromText(AccessibleName(name));
    label_ = bar->parentWidget()->findChild<QLabel*>(FromText(LabelOf(name)),
                                                     Qt::FindDirectChildrenOnly);
  }

  QString text(QAccessible::Text kind) const override {
    switch (kind) {
      case QAccessible::Name:
        return name_;
      case QAccessible::Value:
        return FromText(BarValueText(Percent(), Absent()));
      case QAccessible::Description:
        return FromText(Absent() ? kNoInputText : kBarRangeText);
      default:
        return QAccessibleWidget::text(kind);
    }
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.focusable = false;
    // Greyed with its frame, as Qt says of every widget in it, or absent.
    if (Absent()) state.disabled = true;
    return state;
  }

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QVariant currentValue() const override { return Percent(); }
  void setCurrentValue(const QVariant&) override {}  // the device sets it, not the user
  QVariant maximumValue() const override { return kBarMaximum; }
  QVariant minimumValue() const override { return kBarMinimum; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  const Shape* bar() const { return static_cast<const Shape*>(widget()); }
  int Percent() const {
    return bar()->track() ? BarPercent(bar()->Width(), bar()->track()->Width()) : kBarMinimum;
  }
  bool Absent() const {
    return label_ != nullptr &&
           InputAbsent(label_->isEnabled(), label_->parentWidget()->isEnabled());
  }

  QString name_;
  const QLabel* label_;
};

// An outline is the bar's painted frame: nothing to announce. Unnamed, it
// would take its group box's title as a name.
class OutlineAccessible final : public QAccessibleWidget {
 public:
  explicit OutlineAccessible(Shape* outline) : QAccessibleWidget(outline, QAccessible::Client) {}
  QString text(QAccessible::Text kind) const override {
    return kind == QAccessible::Name ? QString() : QAccessibleWidget::text(kind);
  }
};

// Qt asks this for the interface of every object it is asked about; it
// answers for the shapes of the layout table and leaves the rest to Qt.
QAccessibleInterface* AccessibleShape(const QString& /*class_name*/, QObject* object) {
  auto* shape = dynamic_cast<Shape*>(object);
  if (shape == nullptr || shape->parentWidget() == nullptr) return nullptr;
  const ControlPlace* place = FindPlace(shape->objectName().toStdString());
  if (place == nullptr) return nullptr;
  if (place->kind == Kind::kBar) return new BarAccessible(shape);
  return new OutlineAccessible(shape);
}

}  // namespace

void MakeAccessible(Shape* shape) {
  static const bool installed = [] {
    QAccessible::installFactory(&AccessibleShape);
    return true;
  }();
  (void)installed;
  // An interface asked for while the shape was being made, before it had
  // its name, is Qt's plain one: let it go, so that the next question
  // reaches the factory.
  QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(shape);
  if (cached != nullptr && dynamic_cast<BarAccessible*>(cached) == nullptr &&
      dynamic_cast<OutlineAccessible*>(cached) == nullptr) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
  }
}

}  // namespace tensivo::window::qt
