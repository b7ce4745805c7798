#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include "front_end.h"
#include "window/layout.h"
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

  // The user brings the window to the front and puts the focus on the
  // control. The screen answers asynchronously, so the focus must have
  // stayed put for a while before any key is pressed.
  void Focus(ui::Control& control) override {
    HWND native = form_.Native(control.Name());
    for (int i = 0, steady = 0; i < 200 && steady < 5; ++i) {
      if (GetFocus() == native && GetForegroundWindow() == form_.hwnd()) {
        ++steady;
      } else {
        steady = 0;
        SetForegroundWindow(form_.hwnd());
        SetFocus(native);
      }
      Pump();
    }
  }

  std::string Focused() override {
    HWND focused = GetFocus();
    for (int i = 0, steady = 0; i < 100 && steady < 5; ++i) {
      Pump();
      steady = GetFocus() == focused ? steady + 1 : 0;
      focused = GetFocus();
    }
    for (std::string_view name : kTabOrder) {
      if (form_.Native(name) == focused && IsWindowEnabled(focused)) return std::string(name);
    }
    return {};
  }

  // As a client in another process asks: through the control's accessible
  // object, where Dynamic Annotation's properties are read.
  std::optional<std::string> Described(ui::Control& control) override {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(form_.Native(control.Name()),
                                          static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
      return "(no accessible object)";
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    // Wine's oleacc has no combo box object, and its Dynamic Annotation is
    // a stub: nothing of the window's reaches a client there.
    VARIANT role;
    VariantInit(&role);
    const bool list = dynamic_cast<const ui::List*>(&control) != nullptr;
    if (list && object->get_accRole(self, &role) == S_OK && role.vt == VT_I4 &&
        role.lVal != ROLE_SYSTEM_COMBOBOX) {
      object->Release();
      return std::nullopt;
    }
    BSTR description = nullptr;
    std::string told;
    if (object->get_accDescription(self, &description) == S_OK && description != nullptr) {
      const int length = static_cast<int>(SysStringLen(description));
      told.resize(static_cast<std::size_t>(
          WideCharToMultiByte(CP_UTF8, 0, description, length, nullptr, 0, nullptr, nullptr)));
      WideCharToMultiByte(CP_UTF8, 0, description, length, told.data(),
                          static_cast<int>(told.size()), nullptr, nullptr);
      SysFreeString(description);
    }
    object->Release();
    return told;
  }

  void Wheel(ui::List& list) override {
    PostMessageA(form_.Native(list.Name()), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
    form_.DoEvents();
  }

 private:
  void Pump() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    form_.DoEvents();
  }

  win32::Win32Form form_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeFrontEnd() { return std::make_unique<Win32FrontEnd>(); }

}  // namespace tensivo::window::testing
