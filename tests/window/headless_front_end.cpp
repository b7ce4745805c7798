#include "front_end.h"
#include "window/headless/headless_form.h"

namespace tensivo::window::testing {
namespace {

class HeadlessFrontEnd final : public FrontEnd {
 public:
  ui::Form& form() override { return form_; }
  void Pick(ui::List& list, int index) override { form_.list(list.Name()).UserPick(index); }
  void Press(ui::Button& button) override { form_.button(button.Name()).UserClick(); }
  void Post(std::function<void()> event) override { form_.Post(std::move(event)); }
  void Focus(ui::Control& control) override { form_.UserFocus(control.Name()); }
  std::string Focused() override {
    form_.DoEvents();
    return std::string(form_.focused());
  }
  void Wheel(ui::List& list) override { form_.UserWheel(list.Name()); }
  // No screen reader reads a headless window.
  std::optional<std::string> Described(ui::Control& /*control*/) override { return std::nullopt; }

 private:
  headless::HeadlessForm form_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeFrontEnd() { return std::make_unique<HeadlessFrontEnd>(); }

}  // namespace tensivo::window::testing
