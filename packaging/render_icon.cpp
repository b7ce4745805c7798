// Renders the window's own icon into the files a desktop installs: PNGs at
// 16 and 32 pixels and an SVG, so the installed icon cannot drift from the
// one the window shows.
//
//   tensivo-render-icon OUTDIR   writes OUTDIR/16.png, OUTDIR/32.png, OUTDIR/scalable.svg
//
// The icon is drawn on a 16-unit grid, so its 16-pixel rendering is exact and
// the SVG is that grid as rectangles. The tool refuses to write an SVG when
// the 32-pixel rendering is not the 16-pixel one doubled: the icon would then
// hold detail the grid cannot carry.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QTextStream>
#include <cstdio>
#include <vector>

#include "window/qt/window_icon.h"

namespace {

struct Rect {
  int x, y, width, height;
  QRgb color;
};

QImage Render(const QIcon& icon, int size) {
  return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Runs of one colour in each row, stacked into rectangles where the same run
// repeats in the next row. Fully transparent pixels are left out.
std::vector<Rect> GridRects(const QImage& image) {
  std::vector<Rect> done;
  std::vector<Rect> open;
  for (int y = 0; y < image.height(); ++y) {
    std::vector<Rect> row;
    for (int x = 0; x < image.width();) {
      const QRgb color = image.pixel(x, y);
      int end = x + 1;
      while (end < image.width() && image.pixel(end, y) == color) ++end;
      if (qAlpha(color) != 0) row.push_back({x, y, end - x, 1, color});
      x = end;
    }
    std::vector<Rect> still_open;
    for (Rect& run : row) {
      for (auto it = open.begin(); it != open.end(); ++it) {
        if (it->x == run.x && it->width == run.width && it->color == run.color) {
          run.y = it->y;
          run.height = it->height + 1;
          open.erase(it);
          break;
        }
      }
      still_open.push_back(run);
    }
    done.insert(done.end(), open.begin(), open.end());
    open = std::move(still_open);
  }
  done.insert(done.end(), open.begin(), open.end());
  return done;
}

QString Svg(const QImage& image) {
  QString text;
  QTextStream out(&text);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << image.width() << "\" height=\""
      << image.height() << "\" viewBox=\"0 0 " << image.width() << ' ' << image.height()
      << "\" shape-rendering=\"crispEdges\">\n";
  for (const Rect& r : GridRects(image)) {
    out << "  <rect x=\"" << r.x << "\" y=\"" << r.y << "\" width=\"" << r.width << "\" height=\""
        << r.height << "\" fill=\"" << QColor(r.color).name(QColor::HexRgb) << '"';
    if (qAlpha(r.color) != 255) out << " fill-opacity=\"" << qAlpha(r.color) / 255.0 << '"';
    out << "/>\n";
  }
  out << "</svg>\n";
  return text;
}

bool IsDoubled(const QImage& small, const QImage& large) {
  if (large.width() != 2 * small.width() || large.height() != 2 * small.height()) return false;
  for (int y = 0; y < large.height(); ++y) {
    for (int x = 0; x < large.width(); ++x) {
      if (large.pixel(x, y) != small.pixel(x / 2, y / 2)) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  // A build step: it never shows anything, and a build machine may have no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(".")) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  const QIcon icon = tensivo::window::qt::WindowIcon();
  const QImage small = Render(icon, 16);
  const QImage large = Render(icon, 32);
  if (small.size() != QSize(16, 16) || large.size() != QSize(32, 32)) {
    std::fprintf(stderr, "the window icon has no 16 or 32 pixel rendering\n");
    return 1;
  }
  if (!IsDoubled(small, large)) {
    std::fprintf(stderr,
                 "the 32-pixel icon is not the 16-pixel one doubled; "
                 "the SVG cannot be derived from the grid any more\n");
    return 1;
  }
  if (!small.save(dir.filePath("16.png")) || !large.save(dir.filePath("32.png"))) {
    std::fprintf(stderr, "cannot write the PNGs in %s\n", argv[1]);
    return 1;
  }
  QFile svg(dir.filePath("scalable.svg"));
  if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(Svg(small).toUtf8()) < 0 ||
      !svg.flush()) {
    std::fprintf(stderr, "cannot write the SVG in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
