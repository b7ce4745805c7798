// What every front-end's form shares, so that a front-end only builds its
// controls from the layout table, maps its events and paints: the controls
// by name, the frame rule, where the focus goes and which lists the wheel
// may turn.
#pragma once

#include <memory>
#include <string_view>

#include "window/control_map.h"
#include "window/controls.h"
#include "window/layout.h"

namespace tensivo::window {

// A control's own enabled setting, in force only while the frame it sits in
// is enabled too: disabling a frame disables what it holds, and each keeps
// its own setting for when the frame is enabled again.
template <typename Base>
class InFrame : public Base {
 public:
  InFrame(std::string_view name, const ui::Control* frame) : Base(name), frame_(frame) {}

  bool Enabled() const override { return own_enabled_ && (frame_ == nullptr || frame_->Enabled()); }
  void SetEnabled(bool enabled) override {
    const bool changed = enabled != own_enabled_;
    own_enabled_ = enabled;
    ShowEnabled(changed);
  }

 protected:
  bool own_enabled() const { return own_enabled_; }
  // Shows what Enabled() says now; `changed` when the own setting changed.
  virtual void ShowEnabled(bool changed) = 0;

 private:
  const ui::Control* frame_;
  bool own_enabled_ = true;
};

class FormBase : public ui::Form {
 public:
  ui::Frame& GetFrame(std::string_view name) final { return controls_.Get<ui::Frame>(name); }
  ui::Label& GetLabel(std::string_view name) final { return controls_.Get<ui::Label>(name); }
  ui::List& GetList(std::string_view name) final { return controls_.Get<ui::List>(name); }
  ui::Shape& GetShape(std::string_view name) final { return controls_.Get<ui::Shape>(name); }
  ui::Button& GetButton(std::string_view name) final { return controls_.Get<ui::Button>(name); }

 protected:
  // Makes each control of the layout table, in table order, so that a
  // frame is there before what it holds: `make(place, frame)` gets the
  // frame's control, or null on the client area.
  template <typename Make>
  void BuildLayout(Make&& make) {
    for (const ControlPlace& place : kLayout) {
      const ui::Control* frame =
          place.container.empty() ? nullptr : &controls_.Get<ui::Frame>(place.container);
      controls_.Add(make(place, frame));
    }
  }

  // Where the focus goes once a handler has enabled something, or the
  // window is shown: nowhere while an enabled control holds it (`held`),
  // else to the first enabled control of the tab order, if any.
  const ui::Control* FocusTarget(bool held) const {
    if (held) return nullptr;
    for (std::string_view name : kTabOrder) {
      const auto& control = controls_.Get<ui::Control>(name);
      if (control.Enabled()) return &control;
    }
    return nullptr;
  }

  // A wheel turned over a list the user has not picked from would change
  // it, and a gain list writes every change to the device: a list takes
  // the wheel only while it has the focus.
  bool WheelReaches(std::string_view name, bool focused) const {
    return focused || dynamic_cast<const ui::List*>(&controls_.Get<ui::Control>(name)) == nullptr;
  }

  ControlMap controls_;
};

}  // namespace tensivo::window
