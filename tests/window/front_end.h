// What a test needs of a front-end beyond the control contract: the user's
// own actions, delivered the way that front-end delivers them. Each window
// test program links one front-end and its MakeFrontEnd.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "window/controls.h"

namespace tensivo::window::testing {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  virtual ui::Form& form() = 0;
  // The user picks an entry of a drop-down list, also the one already shown.
  virtual void Pick(ui::List& list, int index) = 0;
  virtual void Press(ui::Button& button) = 0;
  // The user puts the keyboard focus on a control of the tab order.
  virtual void Focus(ui::Control& control) = 0;
  // The control that has the focus once the window has handled what is
  // pending; empty when none has it, or a disabled one.
  virtual std::string Focused() = 0;
  // What a screen reader hears as the control's description, in UTF-8;
  // none where the platform's accessibility layer cannot be asked (wine's
  // oleacc ignores Dynamic Annotation).
  virtual std::optional<std::string> Described(ui::Control& control) = 0;
  // The user turns the mouse wheel one notch down over a list.
  virtual void Wheel(ui::List& list) = 0;
  // An event that is pending from now on, so that the window's next pump
  // handles it.
  virtual void Post(std::function<void()> event) = 0;
};

std::unique_ptr<FrontEnd> MakeFrontEnd();

}  // namespace tensivo::window::testing
