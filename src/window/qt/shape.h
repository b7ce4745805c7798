// A filled rectangle whose geometry is kept in twips, the unit of the
// window's layout. The live monitor reads and writes Width() in twips; the
// pixels follow from the screen's resolution.
#pragma once

#include <QColor>
#include <QWidget>

#include "window/layout.h"

namespace tensivo::window::qt {

class Shape : public QWidget {
 public:
  Shape(QWidget* parent, QColor fill, QColor border, double dpi);

  void Place(double left, double top, double width, double height);
  // Converts the same twips again at another resolution, as the window does
  // when it draws its layout smaller to fit a screen.
  void SetDpi(double dpi);

  // Makes this a bar that grows inside `outline`: the widget covers the
  // outline's interior from the bar's left edge on and paints the part past
  // the bar in the outline's fill, so a change of width repaints only the
  // strip that changed and never moves, resizes or uncovers anything.
  void SetTrack(const Shape* outline);
  // The outline a bar grows in; null for an outline.
  const Shape* track() const { return track_; }

  double Width() const { return width_; }
  void SetWidth(double width);

  // Where the shape shows its fill, in its parent's pixels.
  QRect FilledRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UpdateGeometry();
  int FilledPixels() const;

  QColor fill_;
  QColor border_;
  double dpi_;
  const Shape* track_ = nullptr;
  double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

}  // namespace tensivo::window::qt
