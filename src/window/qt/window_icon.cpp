#include "window/qt/window_icon.h"

#include <QPainter>
#include <QPixmap>

#include "window/icon_design.h"

namespace tensivo::window::qt {

namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const double unit = size / 16.0;
  for (const IconRect& r : kIconRects) {
    painter.fillRect(QRectF(r.left * unit, r.top * unit, r.width * unit, r.height * unit),
                     QColor(r.red, r.green, r.blue));
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

}  // namespace tensivo::window::qt
