// The Qt front-end: Qt's widgets at the layout table's places, mapped onto
// the control contract. It builds, maps events and paints; the window's
// logic is frmMain's.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string_view>

#include "window/bar_reading.h"
#include "window/controls.h"
#include "window/form_base.h"
#include "window/qt/latin1.h"

class QComboBox;
class QLabel;
class QTimer;

namespace tensivo::window::qt {

class ListStyle;
class QtTimer;
class Shape;

class QtForm final : public QWidget, public FormBase {
 public:
  explicit QtForm(QWidget* parent = nullptr);
  ~QtForm() override;

  ui::Timer& GetTimer() override;

  void Show() override { show(); }
  bool Visible() const override { return isVisible(); }
  void Close() override { close(); }
  void DoEvents() override;
  char DecimalPoint() const override;

  // The object behind a control of the layout table, for tests and tools.
  // Looked up as a QObject and cast after: Shape has no Q_OBJECT (it needs no
  // signals), and Qt 6.8 on refuses findChild for such a class.
  template <typename T>
  T* Native(std::string_view name) const {
    return dynamic_cast<T*>(findChild<QObject*>(FromText(name)));
  }
  // Pixels per inch the layout's twips are converted at: the screen's
  // logical dpi times scale().
  double dpi() const { return dpi_; }
  // 1, or less where the window at the screen's own scale would not fit the
  // screen it opens on, frame included.
  double scale() const { return scale_; }
  // Draws the layout at `scale` of the screen's own size, every place
  // converted again from its twips. The window chooses its own scale; tests
  // change it to see that nothing else changes.
  void Place(double scale);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  std::unique_ptr<ui::Control> MakeControl(const ControlPlace& place, const ui::Control* frame,
                                           QWidget* parent);
  QLabel* MakeValueLabel(QWidget* parent);
  QComboBox* MakeList(QWidget* parent);
  void FitScreen();
  void FocusFirstEnabled();
  // Names, relations and the bars' values for assistive technology.
  void DescribeForScreenReaders();
  // Tells a listening screen reader a bar's new value, at the pace
  // bar_notices_ allows.
  void AnnounceBar(std::size_t bar);

  double screen_dpi_;
  double dpi_;
  double scale_ = 1;
  ListStyle* list_style_ = nullptr;  // owned as a child object
  bool placed_ = false;
  bool focus_pending_ = false;
  std::unique_ptr<QtTimer> timer_;
  std::array<Shape*, kBars.size()> bars_{};
  std::array<QLabel*, kBars.size()> bar_labels_{};
  ValueNotices<kBars.size()> bar_notices_;
  QTimer* notice_timer_ = nullptr;  // owned as a child object
};

}  // namespace tensivo::window::qt
