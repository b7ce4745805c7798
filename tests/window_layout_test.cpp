// What the window looks like before any device shows up.
#include <QStringListModel>

#include "window/layout.h"
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using LayoutAndCaptions = WindowWorld;

TEST_F(LayoutAndCaptions, ControlsSitWhereTheDesignPutsThemAt96Dpi) {
  Start();
  ASSERT_EQ(w->logicalDpiX(), 96) << "offscreen runs at 96 dpi; the pixels below assume it";
  EXPECT_EQ(w->size(), QSize(563, 558));
  EXPECT_EQ(w->Frame1->geometry(), QRect(7, 8, 547, 129));
  EXPECT_EQ(w->SerNo->geometry(), QRect(137, 92, 88, 24));
  EXPECT_EQ(w->lblVersion->geometry(), QRect(132, 72, 220, 22));
  EXPECT_EQ(w->Frame2->geometry(), QRect(7, 144, 547, 137));
  EXPECT_EQ(w->LC3_gain->geometry(), QRect(393, 97, 80, 24));
  EXPECT_EQ(w->Label10->geometry(), QRect(13, 33, 53, 21));
  EXPECT_EQ(w->Frame4->geometry(), QRect(7, 287, 547, 207));
  EXPECT_EQ(w->Ch_frame(8)->geometry(), QRect(67, 165, 313, 19));
  EXPECT_EQ(w->Ch_bar(8)->FilledRect(), QRect(70, 168, 1, 13));
  EXPECT_EQ(w->Command1->geometry(), QRect(182, 511, 193, 33));
  EXPECT_EQ(w->LC1_frame->Width(), 4695);
  EXPECT_EQ(w->LC1_bar->parentWidget(), w->Frame2);
  EXPECT_EQ(w->Ch_bar(4)->parentWidget(), w->Frame4);
  EXPECT_EQ(w->SerNo->parentWidget(), w->Frame1);
}

TEST_F(LayoutAndCaptions, CaptionsAndFontAreTheWindowsOwn) {
  Start();
  EXPECT_EQ(w->windowTitle(), "Tensivo Configuration");
  EXPECT_EQ(w->Frame1->title(), "Details");
  EXPECT_EQ(w->Frame2->title(), "Load cell inputs");
  EXPECT_EQ(w->Frame4->title(), "Potentiometer inputs");
  EXPECT_EQ(w->Command1->text(), "Restore factory settings");
  const std::pair<QLabel*, const char*> labels[] = {
      {w->Label5, "Device name"}, {w->Label4, "Made by"},  {w->Label2, "Version"},
      {w->Label3, "Serial Number"}, {w->Label10, "LC1"},   {w->Label9, "LC2"},
      {w->Label11, "LC3"},          {w->Label6, "LC1 gain"}, {w->Label8, "LC2 gain"},
      {w->Label7, "LC3 gain"},
  };
  for (const auto& [label, caption] : labels) EXPECT_EQ(label->text(), caption);
  for (int n = 4; n <= 8; ++n) EXPECT_EQ(w->Ch_label(n)->text(), QString("Input %1").arg(n));
  EXPECT_EQ(w->font().family(), "MS Sans Serif");
  EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 9.75);
  EXPECT_FALSE(w->windowIcon().isNull());
  EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(LayoutAndCaptions, ListsCannotBeTypedIntoAndTabOrderIsListsThenButton) {
  Start();
  for (QComboBox* list : {w->SerNo, w->LC1_gain, w->LC2_gain, w->LC3_gain}) {
    EXPECT_FALSE(list->isEditable());
  }
  QStringList order;
  QWidget* widget = w->SerNo;
  for (int i = 0; i < 5; ++i) {
    order << widget->objectName();
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus));
  }
  EXPECT_EQ(order, (QStringList{"SerNo", "LC1_gain", "LC2_gain", "LC3_gain", "Command1"}));
}

TEST_F(LayoutAndCaptions, DetailLabelsReadAsDisplayFields) {
  Start();
  for (QLabel* label : {w->lblProduct, w->lblManuf, w->lblVersion}) {
    EXPECT_TRUE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(QPalette::Window), w->palette().color(QPalette::Base));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), w->palette().color(QPalette::Text));
  }
}

}  // namespace
}  // namespace tensivo::window::testing
