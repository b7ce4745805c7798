#include <windows.h>

#include "front_end.h"
#include "window/win32/win32_form.h"

namespace tensivo::window::testing {
namespace {

class Win32FrontEnd final : public FrontEnd {
 public:
  ui::Form& form() override { return form_; }

  void Pick(ui::List& list, int index) override {
    // The user opens the list, moves to the entry and takes it with Enter;
    // only the last step is a notification the window hears.
    HWND combo = form_.Native(list.Name());
    if (!IsWindowEnabled(combo) || index < 0 || index >= list.ListCount()) return;
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(combo, WM_KEYDOWN, VK_RETURN, 0);
  }

  void Press(ui::Button& button) override {
    HWND native = form_.Native(button.Name());
    if (IsWindowEnabled(native)) SendMessageA(native, BM_CLICK, 0, 0);
  }

  void Post(std::function<void()> event) override { form_.Post(std::move(event)); }

 private:
  win32::Win32Form form_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeFrontEnd() { return std::make_unique<Win32FrontEnd>(); }

}  // namespace tensivo::window::testing
