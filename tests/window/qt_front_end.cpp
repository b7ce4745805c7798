#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QWheelEvent>

#include "front_end.h"
#include "window/qt/qt_form.h"

namespace tensivo::window::testing {
namespace {

class QtFrontEnd final : public FrontEnd {
 public:
  ui::Form& form() override { return form_; }

  void Pick(ui::List& list, int index) override {
    // What a pick in the popup or a key in the closed list ends in.
    auto* combo = form_.Native<QComboBox>(list.Name());
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }

  void Press(ui::Button& button) override { form_.Native<QPushButton>(button.Name())->click(); }

  void Post(std::function<void()> event) override {
    QMetaObject::invokeMethod(&form_, std::move(event), Qt::QueuedConnection);
  }

  void Focus(ui::Control& control) override {
    form_.activateWindow();
    form_.Native<QWidget>(control.Name())->setFocus(Qt::MouseFocusReason);
  }

  std::string Focused() override {
    QCoreApplication::processEvents();
    const QWidget* focused = form_.focusWidget();
    if (focused == nullptr || !focused->isEnabled()) return {};
    return focused->objectName().toStdString();
  }

  std::optional<std::string> Described(ui::Control& control) override {
    QAccessibleInterface* told =
        QAccessible::queryAccessibleInterface(form_.Native<QWidget>(control.Name()));
    return told == nullptr ? std::string() : told->text(QAccessible::Description).toStdString();
  }

  void Wheel(ui::List& list) override {
    auto* combo = form_.Native<QComboBox>(list.Name());
    const QPointF at(10, 10);
    QWheelEvent wheel(at, combo->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(combo, &wheel);
  }

 private:
  qt::QtForm form_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeFrontEnd() { return std::make_unique<QtFrontEnd>(); }

}  // namespace tensivo::window::testing
