// A filled rectangle whose geometry is kept in twips, the unit of the
// window's layout. The live monitor reads and writes Width() in twips; the
// pixels follow from the screen's resolution.
#pragma once

#include <QColor>
#include <QWidget>

namespace tensivo::window {

// Twips to device-independent pixels at the given logical dpi (15 twips are
// one pixel at 96 dpi).
int TwipsToPixels(double twips, double dpi);

class Shape : public QWidget {
 public:
  Shape(QWidget* parent, QColor fill, QColor border, double dpi);

  void Place(double left, double top, double width, double height);

  double Width() const { return width_; }
  void SetWidth(double width);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UpdateGeometry();

  QColor fill_;
  QColor border_;
  double dpi_;
  double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

}  // namespace tensivo::window
