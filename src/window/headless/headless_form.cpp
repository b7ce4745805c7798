#include "window/headless/headless_form.h"

#include <algorithm>

#include "window/layout.h"

namespace tensivo::window::headless {

void HeadlessLabel::SetCaption(std::string_view caption) {
  if (caption != caption_) Changed();
  caption_ = caption;
}

void HeadlessList::SetPlaceholder(ui::Placeholder placeholder) {
  if (placeholder != placeholder_) Changed();
  placeholder_ = placeholder;
}

void HeadlessList::Clear() {
  items_.clear();
  index_ = -1;
  Changed();
}

void HeadlessList::Fill(std::span<const std::string> items) {
  items_.assign(items.begin(), items.end());
  index_ = -1;
  Changed();
}

void HeadlessList::AddItem(std::string_view item) {
  items_.emplace_back(item);
  Changed();
}

std::string HeadlessList::ItemText(int index) const {
  if (index < 0 || index >= ListCount()) return {};
  return items_[static_cast<std::size_t>(index)];
}

void HeadlessList::Select(int index) {
  // Out of range selects nothing, as a combo box does.
  const int next = index >= 0 && index < ListCount() ? index : -1;
  if (next != index_) Changed();
  index_ = next;
}

void HeadlessList::UserPick(int index) {
  if (!Enabled() || index < 0 || index >= ListCount()) return;
  Select(index);
  if (Click) Click();
}

void HeadlessShape::SetWidth(double twips) {
  if (twips != width_) Changed();
  width_ = twips;
}

void HeadlessButton::UserClick() {
  if (Enabled() && Click) Click();
}

HeadlessTimer::HeadlessTimer(std::string_view name)
    : Recorded(name, nullptr), interval_(kTimerInitialInterval) {
  // A timer starts disabled.
  SetEnabled(false);
}

HeadlessForm::HeadlessForm(char decimal_point) : timer_(kTimerName), decimal_point_(decimal_point) {
  BuildLayout(
      [](const ControlPlace& place, const ui::Control* frame) -> std::unique_ptr<ui::Control> {
        switch (place.kind) {
          case Kind::kFrame:
            return std::make_unique<HeadlessFrame>(place.name, frame);
          case Kind::kLabel:
          case Kind::kValueLabel:
            return std::make_unique<HeadlessLabel>(place.name, frame, place.caption);
          case Kind::kList:
            return std::make_unique<HeadlessList>(place.name, frame);
          case Kind::kOutline:
          case Kind::kBar:
            return std::make_unique<HeadlessShape>(place.name, frame, place.width);
          case Kind::kButton:
            return std::make_unique<HeadlessButton>(place.name, frame);
        }
        return nullptr;
      });
}

HeadlessForm::~HeadlessForm() = default;

HeadlessList& HeadlessForm::list(std::string_view name) {
  return controls_.Get<HeadlessList>(name);
}
HeadlessButton& HeadlessForm::button(std::string_view name) {
  return controls_.Get<HeadlessButton>(name);
}

void HeadlessForm::Close() {
  if (closed_) return;
  closed_ = true;
  if (Unload) Unload();
  visible_ = false;
  timer_.SetEnabled(false);
  pending_.clear();
}

void HeadlessForm::DoEvents() {
  ++pumps_;
  // Only what was pending when the pump started, in the order it came.
  for (std::size_t n = pending_.size(); n > 0 && !pending_.empty(); --n) {
    ui::Handler event = std::move(pending_.front());
    pending_.pop_front();
    event();
  }
  if (!visible_) return;
  // A disabled control loses the focus; while none holds it, the first
  // enabled control of the tab order takes it.
  if (focused().empty()) focused_ = {};
  if (const ui::Control* target = FocusTarget(!focused_.empty())) focused_ = target->Name();
}

std::string_view HeadlessForm::focused() const {
  if (focused_.empty() || !controls_.Get<ui::Control>(focused_).Enabled()) return {};
  return focused_;
}

void HeadlessForm::UserFocus(std::string_view name) {
  // Only the tab order's controls take the focus.
  if (std::ranges::find(kTabOrder, name) == kTabOrder.end()) return;
  const auto& control = controls_.Get<ui::Control>(name);
  if (control.Enabled()) focused_ = control.Name();
}

void HeadlessForm::UserWheel(std::string_view name) {
  if (!WheelReaches(name, name == focused())) return;
  HeadlessList& turned = list(name);
  turned.UserPick(turned.ListIndex() + 1);
}

void HeadlessForm::Post(ui::Handler event) {
  if (!closed_) pending_.push_back(std::move(event));
}

int HeadlessForm::changes() const {
  int total = 0;
  controls_.ForEach([&](const ui::Control& control) {
    total += dynamic_cast<const ChangeCounter&>(control).changes();
  });
  return total;
}

}  // namespace tensivo::window::headless
