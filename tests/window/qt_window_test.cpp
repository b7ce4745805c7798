// What only the Qt front-end decides: where its widgets sit, their captions,
// face and colours, the tab order, the bars' pixels and the mouse wheel.
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>

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
      {"Label5", "Device name"}, {"Label4", "Made by"},   {"Label2", "Version"},
      {"Label3", "Serial Number"}, {"Label10", "LC1"},    {"Label9", "LC2"},
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
  EXPECT_EQ(native<Shape>("Ch_bar(5)")->FilledRect().width(), qt::TwipsToPixels(922, form().dpi()));
  EXPECT_EQ(native<Shape>("LC3_bar")->FilledRect().width(), qt::TwipsToPixels(4611, form().dpi()));
}

TEST_F(QtWindow, WheelOverAListNobodyPickedFromChangesNothing) {
  Add(u"DEV-1");
  Start();
  native<QPushButton>("Command1")->setFocus();
  auto* gain = native<QComboBox>("LC1_gain");
  const QPointF at(10, 10);
  QWheelEvent wheel(at, gain->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(gain, &wheel);
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2292);
  EXPECT_TRUE(hid.write_log().empty());
}

}  // namespace
}  // namespace tensivo::window::testing
