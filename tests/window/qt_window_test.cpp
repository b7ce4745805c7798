// What only the Qt front-end decides: where its widgets sit, their captions,
// face and colours, the tab order and the bars' pixels.
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <cmath>

#include "window/bar_reading.h"
#include "window/layout.h"
#include "window/qt/qt_form.h"
#include "window/qt/shape.h"
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using qt::QtForm;
using qt::Shape;

class QtWindow : public WindowWorld {
 protected:
  QtForm& form() { return static_cast<QtForm&>(ui->form()); }
  template <typename T>
  T* native(std::string_view name) {
    return form().Native<T>(name);
  }
};

TEST_F(QtWindow, ControlsSitWhereTheDesignPutsThemAt96Dpi) {
  Start();
  ASSERT_EQ(form().logicalDpiX(), 96) << "offscreen runs at 96 dpi; the pixels below assume it";
  EXPECT_EQ(form().size(), QSize(563, 558));
  EXPECT_EQ(native<QGroupBox>("Frame1")->geometry(), QRect(7, 8, 547, 129));
  EXPECT_EQ(native<QComboBox>("SerNo")->geometry(), QRect(137, 92, 88, 24));
  EXPECT_EQ(native<QLabel>("lblVersion")->geometry(), QRect(132, 72, 220, 22));
  EXPECT_EQ(native<QGroupBox>("Frame2")->geometry(), QRect(7, 144, 547, 137));
  EXPECT_EQ(native<QComboBox>("LC3_gain")->geometry(), QRect(393, 97, 80, 24));
  EXPECT_EQ(native<QLabel>("Label10")->geometry(), QRect(13, 33, 53, 21));
  EXPECT_EQ(native<QGroupBox>("Frame4")->geometry(), QRect(7, 287, 547, 207));
  EXPECT_EQ(native<Shape>("Ch_frame(8)")->geometry(), QRect(67, 165, 313, 19));
  EXPECT_EQ(native<Shape>("Ch_bar(8)")->FilledRect(), QRect(70, 168, 1, 13));
  EXPECT_EQ(native<QPushButton>("Command1")->geometry(), QRect(182, 511, 193, 33));
  EXPECT_EQ(w->LC1_frame.Width(), 4695);
  EXPECT_EQ(native<Shape>("LC1_bar")->parentWidget(), native<QGroupBox>("Frame2"));
  EXPECT_EQ(native<Shape>("Ch_bar(4)")->parentWidget(), native<QGroupBox>("Frame4"));
  EXPECT_EQ(native<QComboBox>("SerNo")->parentWidget(), native<QGroupBox>("Frame1"));
}

TEST_F(QtWindow, CaptionsAndFontAreTheWindowsOwn) {
  Start();
  EXPECT_EQ(form().windowTitle(), "Tensivo Configuration");
  EXPECT_EQ(native<QGroupBox>("Frame1")->title(), "Details");
  EXPECT_EQ(native<QGroupBox>("Frame2")->title(), "Load cell inputs");
  EXPECT_EQ(native<QGroupBox>("Frame4")->title(), "Potentiometer inputs");
  EXPECT_EQ(native<QPushButton>("Command1")->text(), "Restore factory settings");
  const std::pair<const char*, const char*> labels[] = {
      {"Label5", "Device name"},   {"Label4", "Made by"},  {"Label2", "Version"},
      {"Label3", "Serial Number"}, {"Label10", "LC1"},     {"Label9", "LC2"},
      {"Label11", "LC3"},          {"Label6", "LC1 gain"}, {"Label8", "LC2 gain"},
      {"Label7", "LC3 gain"},
  };
  for (const auto& [name, caption] : labels) EXPECT_EQ(native<QLabel>(name)->text(), caption);
  for (int n = 4; n <= 8; ++n) EXPECT_EQ(w->Ch_label(n).Caption(), "Input " + std::to_string(n));
  EXPECT_EQ(form().font().family(), "MS Sans Serif");
  EXPECT_DOUBLE_EQ(form().font().pointSizeF(), 9.75);
  EXPECT_FALSE(form().windowIcon().isNull());
  EXPECT_TRUE(form().windowIcon().availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(form().windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(QtWindow, ListsCannotBeTypedIntoAndTabOrderIsListsThenButton) {
  Start();
  for (const char* name : {"SerNo", "LC1_gain", "LC2_gain", "LC3_gain"}) {
    EXPECT_FALSE(native<QComboBox>(name)->isEditable());
  }
  QStringList order;
  QWidget* widget = native<QComboBox>("SerNo");
  for (int i = 0; i < 5; ++i) {
    order << widget->objectName();
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus));
  }
  EXPECT_EQ(order, (QStringList{"SerNo", "LC1_gain", "LC2_gain", "LC3_gain", "Command1"}));
}

TEST_F(QtWindow, DetailLabelsReadAsDisplayFields) {
  Start();
  for (const char* name : {"lblProduct", "lblManuf", "lblVersion"}) {
    QLabel* label = native<QLabel>(name);
    EXPECT_TRUE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(QPalette::Window), form().palette().color(QPalette::Base));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), form().palette().color(QPalette::Text));
  }
}

TEST_F(QtWindow, BarsPaintTheWidthTheyAreGiven) {
  const auto id = Add(u"DEV-1", 0x0101, 0x28);
  Start();
  Push(id, {0, 32768, 65535, 9999, 13107, 9999, 26214, 39321});
  Tick();
  EXPECT_EQ(native<Shape>("Ch_bar(5)")->FilledRect().width(), TwipsToPixels(922, form().dpi()));
  EXPECT_EQ(native<Shape>("LC3_bar")->FilledRect().width(), TwipsToPixels(4611, form().dpi()));
}

// What a screen reader gets, walked through Qt's own accessibility
// interfaces: names, the caption each control is labelled by, roles, and the
// bars' values after a report.
QString LabelledBy(QAccessibleInterface* iface) {
  for (const auto& [label, relation] : iface->relations(QAccessible::Label)) {
    if (label->role() == QAccessible::StaticText) return label->text(QAccessible::Name);
  }
  return {};
}

TEST_F(QtWindow, AScreenReaderHearsWhatEachControlIsAndReadsTheBars) {
  const auto id = Add(u"DEV-1", 0x0101, 0x28);  // inputs 4 and 6 absent
  Start();
  Push(id, {0, 32768, 65535, 9999, 13107, 9999, 26214, 39321});
  Tick();
  auto iface = [this](const char* name) {
    return QAccessible::queryAccessibleInterface(native<QWidget>(name));
  };
  struct Want {
    const char* control;
    QAccessible::Role role;
    const char* name;  // empty: Qt names a combo box on Linux after its entry
    const char* labelled_by;
    const char* description;
  };
  const Want wants[] = {
      {"lblProduct", QAccessible::StaticText, "Device name", "Device name", "Load Cell Interface"},
      {"lblManuf", QAccessible::StaticText, "Made by", "Made by", "Tensivo"},
      {"lblVersion", QAccessible::StaticText, "Version", "Version", "1.1"},
      {"SerNo", QAccessible::ComboBox, "", "Serial Number", ""},
      {"LC1_gain", QAccessible::ComboBox, "", "LC1 gain", ""},
      {"LC2_gain", QAccessible::ComboBox, "", "LC2 gain", ""},
      {"LC3_gain", QAccessible::ComboBox, "", "LC3 gain", ""},
      {"LC1_bar", QAccessible::ProgressBar, "LC1", "LC1", "Percent of full scale"},
      {"LC3_bar", QAccessible::ProgressBar, "LC3", "LC3", "Percent of full scale"},
      {"Ch_bar(4)", QAccessible::ProgressBar, "Input 4", "Input 4", "No input"},
      {"Ch_bar(5)", QAccessible::ProgressBar, "Input 5", "Input 5", "Percent of full scale"},
      {"Command1", QAccessible::Button, "Restore factory settings", "", ""},
  };
  for (const Want& want : wants) {
    QAccessibleInterface* i = iface(want.control);
    ASSERT_NE(i, nullptr) << want.control;
    EXPECT_EQ(i->role(), want.role) << want.control;
    const QString name = i->text(QAccessible::Name);
    EXPECT_EQ(name, *want.name ? want.name : i->text(QAccessible::Value)) << want.control;
    EXPECT_FALSE(name.isEmpty()) << want.control;
    EXPECT_EQ(LabelledBy(i), want.labelled_by) << want.control;
    EXPECT_EQ(i->text(QAccessible::Description), want.description) << want.control;
  }
  // The bars' values, whole percent of full scale: 0, 50, 100 for the load
  // cells, 20 for input 5 (13107 of 65535); an absent input is unavailable.
  const std::pair<const char*, int> values[] = {
      {"LC1_bar", 0}, {"LC2_bar", 50}, {"LC3_bar", 100}, {"Ch_bar(5)", 20}, {"Ch_bar(8)", 60}};
  for (const auto& [bar, percent] : values) {
    QAccessibleValueInterface* value = iface(bar)->valueInterface();
    ASSERT_NE(value, nullptr) << bar;
    EXPECT_EQ(value->currentValue().toInt(), percent) << bar;
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    EXPECT_EQ(iface(bar)->text(QAccessible::Value), QString::number(percent) + "%");
    EXPECT_FALSE(iface(bar)->state().disabled) << bar;
  }
  EXPECT_TRUE(iface("Ch_bar(4)")->state().disabled);
  EXPECT_EQ(iface("Ch_bar(4)")->text(QAccessible::Value), "No input");
  // With no input bit in the mask the window greys the whole potentiometer
  // frame, yet the inputs are there and move: greyed, not absent.
  hid.model(id).set_input_mask(0x00);
  w->SerNo.SetListIndex(0);  // reopen and read back
  Push(id, {0, 0, 0, 13107, 0, 0, 0, 0});
  Tick();
  EXPECT_TRUE(iface("Ch_bar(4)")->state().disabled);
  EXPECT_EQ(iface("Ch_bar(4)")->text(QAccessible::Value), "20%");
  EXPECT_EQ(iface("Ch_bar(4)")->text(QAccessible::Description), "Percent of full scale");
  // The outlines say nothing: no name, no value.
  EXPECT_EQ(iface("LC1_frame")->text(QAccessible::Name), "");
  EXPECT_EQ(iface("LC1_frame")->valueInterface(), nullptr);
}

// Runs at the scale factor and on the screen ctest gives it (QT_SCALE_FACTOR,
// and an offscreen screen of 1280x800 or 1920x1080); alone, at 1 on the
// offscreen default.
class QtScreen : public QtWindow {
 protected:
  double factor() { return form().devicePixelRatioF(); }

  // The tests below let Qt handle its events; the window's own timer must
  // not tick in between, re-reading the device.
  void StopTheClock() { native<QTimer>(kTimerName)->stop(); }

  // The window in device pixels at the screen's factor, each widget painted
  // at its own offset as on screen: where a fractional one lost the edges.
  QImage Shot() {
    QCoreApplication::processEvents();
    return form().grab().toImage();
  }

  // What is wrong with an outline in `shot`: a missing edge, or a bar's
  // pixel outside the interior.
  std::string OutlineFault(const QImage& shot, std::string_view name) {
    const Shape* outline = native<Shape>(name);
    const QRect r(outline->mapTo(&form(), QPoint(0, 0)), outline->size());
    const double d = factor();
    const int left = static_cast<int>(std::floor(r.left() * d));
    const int top = static_cast<int>(std::floor(r.top() * d));
    const int right = static_cast<int>(std::ceil((r.right() + 1) * d)) - 1;
    const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) * d)) - 1;
    if (!shot.rect().contains(QRect(QPoint(left - 2, top - 2), QPoint(right + 2, bottom + 2)))) {
      return std::string(name) + " is not in the " + std::to_string(shot.width()) + "x" +
             std::to_string(shot.height()) + " picture";
    }
    auto dark = [&](int x, int y) { return qGray(shot.pixel(x, y)) < 80; };
    auto row_dark = [&](int y) {
      for (int x = left + 3; x <= right - 3; ++x) {
        if (!dark(x, y)) return false;
      }
      return true;
    };
    auto column_dark = [&](int x) {
      for (int y = top + 3; y <= bottom - 3; ++y) {
        if (!dark(x, y)) return false;
      }
      return true;
    };
    // An edge is the first or last whole dark line within a pixel of where
    // the outline's rounding puts it.
    auto find = [](int from, int to, auto dark_line) {
      for (int i = from; i <= to; ++i) {
        if (dark_line(i)) return i;
      }
      return -1;
    };
    const int t = find(top, top + 1, row_dark);
    const int b = find(bottom - 1, bottom, row_dark);
    const int l = find(left, left + 1, column_dark);
    const int rr = find(right - 1, right, column_dark);
    std::string fault;
    if (t < 0) fault += " top";
    if (b < 0) fault += " bottom";
    if (l < 0) fault += " left";
    if (rr < 0) fault += " right";
    if (!fault.empty()) return std::string(name) + " lacks its" + fault + " edge";
    for (int y = top - 2; y <= bottom + 2; ++y) {
      for (int x = left - 2; x <= right + 2; ++x) {
        const QRgb p = shot.pixel(x, y);
        const bool green = qGreen(p) > 90 && qRed(p) < 60 && qBlue(p) < 60;
        if (green && !(x > l && x < rr && y > t && y < b)) {
          return std::string(name) + ": bar pixel outside at " + std::to_string(x) + "," +
                 std::to_string(y);
        }
      }
    }
    return {};
  }
};

TEST_F(QtScreen, WindowFitsTheScreenItOpensOnAtTheLargestScale) {
  Add(u"DEV-1");
  Start();
  QCoreApplication::processEvents();
  const QRect available = form().screen()->availableGeometry();
  const QRect frame = form().frameGeometry();
  SCOPED_TRACE("screen " + std::to_string(available.width()) + "x" +
               std::to_string(available.height()) + " at " + std::to_string(factor()));
  if (QGuiApplication::platformName() == QLatin1String("wayland")) {
    // A Wayland client is never told where its window is, only its size.
    EXPECT_LE(frame.width(), available.width());
    EXPECT_LE(frame.height(), available.height());
  } else {
    EXPECT_TRUE(available.contains(frame));
  }
  if (form().scale() == 1) {
    EXPECT_EQ(form().size(), QSize(563, 558));
  } else {
    EXPECT_LT(form().scale(), 1);
    // Within the pixel each side that a fractional factor's rounding takes.
    EXPECT_GE(frame.height(), available.height() - 3) << "not the largest scale that fits";
  }
  // Every place still comes from the same twips.
  for (const ControlPlace& place : kLayout) {
    if (place.kind == Kind::kOutline || place.kind == Kind::kBar) continue;
    const QRect twips(
        TwipsToPixels(place.left, form().dpi()), TwipsToPixels(place.top, form().dpi()),
        TwipsToPixels(place.width, form().dpi()), TwipsToPixels(place.height, form().dpi()));
    EXPECT_EQ(native<QWidget>(place.name)->geometry(), twips) << place.name;
  }
  EXPECT_FALSE(form().windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(QtScreen, GainListOpensAsAScrollingListAtTheCurrentGain) {
  Add(u"DEV-1");
  Start();
  StopTheClock();
  int clicks = 0;
  const ui::Handler click = w->LC1_gain.Click;
  w->LC1_gain.Click = [&] {
    ++clicks;
    click();
  };
  auto* gain = native<QComboBox>("LC1_gain");
  for (int open = 0; open < 2; ++open) {
    gain->showPopup();
    QCoreApplication::processEvents();
    QAbstractItemView* view = gain->view();
    ASSERT_TRUE(view->isVisible());
    const int rows = view->viewport()->height() / view->sizeHintForRow(0);
    EXPECT_GE(rows, 18);
    EXPECT_LE(rows, 21);
    EXPECT_TRUE(view->verticalScrollBar()->isVisible())
        << view->verticalScrollBarPolicy() << " rows " << rows << " max "
        << view->verticalScrollBar()->maximum();
    EXPECT_EQ(view->currentIndex().row(), 2292);
    EXPECT_TRUE(view->selectionModel()->isSelected(view->currentIndex()));
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
    EXPECT_TRUE(form().screen()->availableGeometry().contains(view->window()->geometry()));
    gain->hidePopup();
    QCoreApplication::processEvents();
  }
  // Drawn at another scale and back: the same selection, nothing raised.
  form().Place(0.6);
  form().Place(1);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2292);
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(hid.write_log().empty());

  // One step down in the open list and Return: one selection, one gain
  // written.
  gain->showPopup();
  for (int key : {Qt::Key_Down, Qt::Key_Return}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(gain->view(), &press);
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(gain->view()->isVisible());
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2293);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(hid.write_log().size(), 3u);
}

TEST_F(QtScreen, OutlinesKeepFourEdgesAndBarsStayInsideIdleAndMoving) {
  const auto id = Add(u"DEV-1", 0x0101, 0x00);
  Start();
  StopTheClock();
  const Values moves[] = {
      {0, 0, 0, 0, 0, 0, 0, 0},
      {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535},
      {100, 32768, 65535, 9999, 13107, 60000, 26214, 39321},
      {0, 1, 2, 3, 65535, 65534, 65533, 0},
  };
  auto check = [&](const char* when) {
    const QImage shot = Shot();
    for (const BarPlace& bar : kBars) {
      EXPECT_EQ(OutlineFault(shot, bar.outline), "") << when << " at " << factor();
    }
  };
  check("idle");
  for (const Values& values : moves) {
    Push(id, values);
    Tick();
    check("moving");
  }
}

}  // namespace
}  // namespace tensivo::window::testing
