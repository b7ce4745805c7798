#include "window/qt/shape.h"

#include <QPainter>
#include <cmath>

namespace tensivo::window::qt {

Shape::Shape(QWidget* parent, QColor fill, QColor border, double dpi)
    : QWidget(parent), fill_(fill), border_(border), dpi_(dpi) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Shape::Place(double left, double top, double width, double height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  UpdateGeometry();
}

void Shape::SetDpi(double dpi) {
  dpi_ = dpi;
  UpdateGeometry();
}

void Shape::SetTrack(const Shape* outline) {
  track_ = outline;
  UpdateGeometry();
}

void Shape::SetWidth(double width) {
  const int before = FilledPixels();
  width_ = std::max(0.0, width);
  if (!track_) {
    // Only the size changes: a resize spares the move event a geometry sends.
    resize(TwipsToPixels(width_, dpi_), TwipsToPixels(height_, dpi_));
    return;
  }
  const int after = FilledPixels();
  if (after != before) update(std::min(before, after), 0, std::abs(after - before), height());
}

int Shape::FilledPixels() const {
  const int filled = TwipsToPixels(width_, dpi_);
  return track_ ? std::min(filled, width()) : filled;
}

QRect Shape::FilledRect() const { return QRect(pos(), QSize(FilledPixels(), height())); }

void Shape::UpdateGeometry() {
  const int left = TwipsToPixels(left_, dpi_);
  const int top = TwipsToPixels(top_, dpi_);
  const int height = TwipsToPixels(height_, dpi_);
  if (track_) {
    // Short of the outline's border by a pixel, so that at fractional scale
    // factors no device pixel of the border is painted over.
    const int right = track_->geometry().right() - 1;
    setGeometry(left, top, std::max(0, right - left), height);
  } else {
    setGeometry(left, top, TwipsToPixels(width_, dpi_), height);
  }
}

void Shape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (track_) {
    const int filled = FilledPixels();
    painter.fillRect(QRect(0, 0, filled, height()), fill_);
    painter.fillRect(QRect(filled, 0, width() - filled, height()), track_->fill_);
    return;
  }
  if (border_ == fill_ || width() <= 1 || height() <= 1) {
    painter.fillRect(rect(), fill_);
    return;
  }
  // Two fills, not a pen: the first covers every device pixel the widget
  // owns, so at a fractional scale factor, where the widget starts inside a
  // device pixel, no edge can fall outside its clip (a pen's top line did at
  // 1.5). The interior stays one logical pixel, so at least one device pixel,
  // inside each edge.
  painter.fillRect(rect(), border_);
  painter.fillRect(QRectF(rect()).adjusted(1, 1, -1, -1), fill_);
}

}  // namespace tensivo::window::qt
