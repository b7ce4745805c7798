// The controls the window works on, as every front-end provides them: Qt's
// widgets, Win32's own controls, or the headless recording set the tests and
// the fault sweep use. The window's logic sees only this contract.
//
// Texts are 8-bit, in the system's 8-bit code page (Latin-1 where there is
// none), exactly as the window makes them from device strings.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tensivo::window::ui {

// A handler the window hangs on a control. A front-end calls it once for each
// user action it stands for.
using Handler = std::function<void()>;

class Control {
 public:
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  std::string_view Name() const { return name_; }

  // Whether the user can reach the control: false also while the frame
  // around it is disabled.
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;

 protected:
  explicit Control(std::string_view name) : name_(name) {}

 private:
  std::string_view name_;  // the layout table's name, which outlives every control
};

// Disabling a frame disables everything inside it; the controls keep their
// own setting and show it again when the frame is enabled.
class Frame : public Control {
 protected:
  using Control::Control;
};

class Label : public Control {
 public:
  virtual std::string Caption() const = 0;
  virtual void SetCaption(std::string_view caption) = 0;

 protected:
  using Control::Control;
};

// What an empty list says in its field instead of an entry, greyed: the
// window's own words, UTF-8, in static storage. `hint` is the longer word a
// screen reader and a tooltip give; where it is empty they give `text`.
// Never an entry: it counts for nothing and cannot be picked.
struct Placeholder {
  std::string_view text;
  std::string_view hint;
  bool operator==(const Placeholder&) const = default;
};

// A drop-down list the user can only pick from.
class List : public Control {
 public:
  // Shown while nothing is selected; {} for none.
  virtual void SetPlaceholder(Placeholder placeholder) = 0;
  virtual Placeholder GetPlaceholder() const = 0;

  virtual void Clear() = 0;
  // Replaces the entries with `items` in one step.
  virtual void Fill(std::span<const std::string> items) = 0;
  virtual void AddItem(std::string_view item) = 0;
  virtual int ListCount() const = 0;
  virtual std::string ItemText(int index) const = 0;
  virtual int ListIndex() const = 0;     // -1 when nothing is selected
  virtual std::string Text() const = 0;  // the selected entry, empty when none

  // Selects `index` and runs Click at once, also when it was selected
  // already; a program's selection is an event as much as a user's.
  void SetListIndex(int index) {
    Select(index);
    if (Click) Click();
  }

  // Runs for each selection: SetListIndex, and each pick of the user's, once.
  Handler Click;

 protected:
  using Control::Control;
  // Shows `index` as selected without raising anything.
  virtual void Select(int index) = 0;
};

// A filled rectangle whose width is read and set in twips; what is set is
// read back exactly, whatever pixels it comes to.
class Shape : public Control {
 public:
  virtual double Width() const = 0;
  virtual void SetWidth(double twips) = 0;

 protected:
  using Control::Control;
};

class Button : public Control {
 public:
  Handler Click;

 protected:
  using Control::Control;
};

class Timer : public Control {
 public:
  virtual int Interval() const = 0;  // milliseconds
  virtual void SetInterval(int milliseconds) = 0;

  // Runs Tick, for the timer's interval or for whoever stands in for it. A
  // pump inside a running tick may deliver another (Win32 hands out
  // WM_TIMER there): that one is dropped, never run inside the first.
  void Fire() {
    if (!Tick) return;
    if (ticking_) {
      ++dropped_ticks_;
      return;
    }
    ticking_ = true;
    struct Done {
      bool& ticking;
      ~Done() { ticking = false; }
    } done{ticking_};
    Tick();
  }
  // The ticks Fire dropped so far.
  int dropped_ticks() const { return dropped_ticks_; }

  Handler Tick;

 protected:
  using Control::Control;

 private:
  bool ticking_ = false;
  int dropped_ticks_ = 0;
};

// The window itself: its controls by the layout table's names, and what only
// the whole window does.
class Form {
 public:
  virtual ~Form() = default;

  virtual Frame& GetFrame(std::string_view name) = 0;
  virtual Label& GetLabel(std::string_view name) = 0;
  virtual List& GetList(std::string_view name) = 0;
  virtual Shape& GetShape(std::string_view name) = 0;
  virtual Button& GetButton(std::string_view name) = 0;
  virtual Timer& GetTimer() = 0;

  virtual void Show() = 0;
  virtual bool Visible() const = 0;
  // Closes the window as the user's close does: Unload runs once, first.
  virtual void Close() = 0;
  // Handles the events already pending, once, and returns.
  virtual void DoEvents() = 0;
  // The user's decimal separator where it is one 8-bit character, else '.'.
  virtual char DecimalPoint() const = 0;

  // Runs when the window closes, by the user or through Close().
  Handler Unload;
};

}  // namespace tensivo::window::ui
