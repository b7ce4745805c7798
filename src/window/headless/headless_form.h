// A front-end with no screen: every control keeps its state in memory and
// counts the visible changes made to it. The window scenarios and the fault
// sweep run on it in microseconds, and a test drives it as a user would.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "window/controls.h"
#include "window/form_base.h"

namespace tensivo::window::headless {

// Counts the changes a screen would have shown.
class ChangeCounter {
 public:
  virtual ~ChangeCounter() = default;
  int changes() const { return changes_; }

 protected:
  void Changed() { ++changes_; }

 private:
  int changes_ = 0;
};

// What every headless control shares: the frame rule, and a count of the
// changes to its enabled setting.
template <typename Base>
class Recorded : public InFrame<Base>, public ChangeCounter {
 public:
  using InFrame<Base>::InFrame;

 protected:
  void ShowEnabled(bool changed) override {
    if (changed) Changed();
  }
};

class HeadlessFrame final : public Recorded<ui::Frame> {
 public:
  using Recorded::Recorded;
};

class HeadlessLabel final : public Recorded<ui::Label> {
 public:
  HeadlessLabel(std::string_view name, const ui::Control* container, std::string_view caption)
      : Recorded(name, container), caption_(caption) {}

  std::string Caption() const override { return caption_; }
  void SetCaption(std::string_view caption) override;

 private:
  std::string caption_;
};

class HeadlessList final : public Recorded<ui::List> {
 public:
  using Recorded::Recorded;

  void SetPlaceholder(ui::Placeholder placeholder) override;
  ui::Placeholder GetPlaceholder() const override { return placeholder_; }
  void Clear() override;
  void Fill(std::span<const std::string> items) override;
  void AddItem(std::string_view item) override;
  int ListCount() const override { return static_cast<int>(items_.size()); }
  std::string ItemText(int index) const override;
  int ListIndex() const override { return index_; }
  std::string Text() const override { return ItemText(index_); }

  // The user picks an entry, also the one already selected: one event.
  void UserPick(int index);

 protected:
  void Select(int index) override;

 private:
  std::vector<std::string> items_;
  int index_ = -1;
  ui::Placeholder placeholder_;
};

class HeadlessShape final : public Recorded<ui::Shape> {
 public:
  HeadlessShape(std::string_view name, const ui::Control* container, double width)
      : Recorded(name, container), width_(width) {}

  double Width() const override { return width_; }
  void SetWidth(double twips) override;

 private:
  double width_;
};

class HeadlessButton final : public Recorded<ui::Button> {
 public:
  using Recorded::Recorded;
  void UserClick();
};

class HeadlessTimer final : public Recorded<ui::Timer> {
 public:
  explicit HeadlessTimer(std::string_view name);

  int Interval() const override { return interval_; }
  void SetInterval(int milliseconds) override { interval_ = milliseconds; }

 private:
  int interval_;
};

class HeadlessForm final : public FormBase {
 public:
  explicit HeadlessForm(char decimal_point = '.');
  ~HeadlessForm() override;

  ui::Timer& GetTimer() override { return timer_; }

  void Show() override { visible_ = true; }
  bool Visible() const override { return visible_; }
  void Close() override;
  void DoEvents() override;
  char DecimalPoint() const override { return decimal_point_; }

  // An event that is pending from now on: the next DoEvents handles it.
  // Events posted while one runs wait for the pump after.
  void Post(ui::Handler event);
  std::size_t pending() const { return pending_.size(); }
  int pumps() const { return pumps_; }

  HeadlessList& list(std::string_view name);
  HeadlessButton& button(std::string_view name);

  // The user puts the focus on a control, or turns the wheel over a list
  // (one entry down). The focus settles at the end of each pump, as the
  // screen's front-ends settle it once a handler is done.
  void UserFocus(std::string_view name);
  void UserWheel(std::string_view name);
  // The control with the focus; empty when none has it, or a disabled one.
  std::string_view focused() const;
  // Visible changes made to all controls together.
  int changes() const;

 private:
  HeadlessTimer timer_;
  std::deque<ui::Handler> pending_;
  char decimal_point_;
  bool visible_ = false;
  bool closed_ = false;
  int pumps_ = 0;
  std::string_view focused_;  // a layout table's name, or empty
};

}  // namespace tensivo::window::headless
