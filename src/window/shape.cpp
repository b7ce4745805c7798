#include "window/shape.h"

#include <QPainter>
#include <cmath>

namespace tensivo::window {

int TwipsToPixels(double twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

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

void Shape::SetWidth(double width) {
  width_ = std::max(0.0, width);
  // Only the size changes: a resize spares the move event a geometry sends.
  resize(TwipsToPixels(width_, dpi_), TwipsToPixels(height_, dpi_));
}

void Shape::UpdateGeometry() {
  setGeometry(TwipsToPixels(left_, dpi_), TwipsToPixels(top_, dpi_), TwipsToPixels(width_, dpi_),
              TwipsToPixels(height_, dpi_));
}

void Shape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (border_ == fill_ || width() <= 1 || height() <= 1) {
    painter.fillRect(rect(), fill_);
  } else if (devicePixelRatio() == 1.0) {
    // At this ratio two fills give the pixels of the pen below at a
    // fraction of its cost, which a bar shrinking over an outline pays.
    painter.fillRect(rect(), border_);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), fill_);
  } else {
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

}  // namespace tensivo::window
