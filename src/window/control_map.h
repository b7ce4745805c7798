// The controls a front-end built, by the layout table's names.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "window/controls.h"

namespace tensivo::window {

class ControlMap {
 public:
  void Add(std::unique_ptr<ui::Control> control) {
    const std::string_view name = control->Name();
    controls_.emplace(name, std::move(control));
  }

  // The control of that name and kind; asking for one the table does not
  // have is a programming error.
  template <typename T>
  T& Get(std::string_view name) const {
    const auto it = controls_.find(name);
    auto* control = it == controls_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
    if (control == nullptr) throw std::logic_error("no such control: " + std::string(name));
    return *control;
  }

  template <typename F>
  void ForEach(F&& f) const {
    for (const auto& [name, control] : controls_) f(*control);
  }

 private:
  std::map<std::string_view, std::unique_ptr<ui::Control>, std::less<>> controls_;
};

}  // namespace tensivo::window
