#include <QComboBox>
#include <QPushButton>

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

 private:
  qt::QtForm form_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeFrontEnd() { return std::make_unique<QtFrontEnd>(); }

}  // namespace tensivo::window::testing
