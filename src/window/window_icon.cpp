#include "window/window_icon.h"

#include <QPainter>
#include <QPixmap>

namespace tensivo::window {

namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const double unit = size / 16.0;
  painter.fillRect(QRectF(0, 0, size, size), QColor(0, 0, 128));
  painter.fillRect(QRectF(unit, unit, size - 2 * unit, size - 2 * unit), Qt::white);
  const double lengths[] = {10, 6, 12};
  for (int i = 0; i < 3; ++i) {
    painter.fillRect(QRectF(2 * unit, (3 + 4 * i) * unit, lengths[i] * unit, 2 * unit),
                     QColor(0, 128, 0));
  }
  return pixmap;
}

}  // namespace

QIcon WindowIcon() {
  QIcon icon;
  icon.addPixmap(DrawIcon(16));
  icon.addPixmap(DrawIcon(32));
  return icon;
}

}  // namespace tensivo::window
