// The page as widgets: the sheet, the controls from the template, their places and states.

#include "app/qt/qt_page.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "app/qt/dialog_units.h"
#include "app/qt/qt_printers.h"
#include "resources/controls.h"
#include "resources/page_template.h"

namespace stampwright {
namespace {

// The dialog manager's conversion, worked out here from the font's own metrics.
QRect ExpectedRect(const QFont& font, int x, int y, int w, int h) {
  const QFontMetrics metrics(font);
  const int cx =
      (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
  const int cy = metrics.height();
  auto scale = [](int v, int units, int per) { return (v * units + per / 2) / per; };
  return QRect(scale(x, cx, 4), scale(y, cy, 8), scale(w, cx, 4), scale(h, cy, 8));
}

const char* KindClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return "QPushButton";
    case ControlKind::kEdit:
      return "QLineEdit";
    case ControlKind::kStaticText:
      return "QLabel";
    case ControlKind::kGroupBox:
      return "QGroupBox";
    case ControlKind::kAutoRadioButton:
      return "QRadioButton";
  }
  return "";
}

QString Text(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return "<none>";
}

class QtPageTest : public testing::Test {
 protected:
  void SetUp() override {
    page_.sheet().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page_.sheet()));
  }
  QtPage page_;
};

TEST_F(QtPageTest, SheetHasCaptionOneMainTabCloseAndDisabledCancelOnly) {
  QDialog& sheet = page_.sheet();
  EXPECT_EQ(sheet.windowTitle(), "Stampwright v3.0.2a (for f/w v3.0.x)");
  EXPECT_FALSE(sheet.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
  ASSERT_EQ(page_.tabs()->count(), 1);
  EXPECT_EQ(page_.tabs()->tabText(0), "Main");

  EXPECT_EQ(page_.close_button()->text(), "Close");
  EXPECT_TRUE(page_.close_button()->isEnabled());
  EXPECT_EQ(page_.cancel_button()->text(), "Cancel");
  EXPECT_FALSE(page_.cancel_button()->isEnabled());

  // The sheet's own buttons are those two; nothing anywhere is an Apply or a default button.
  const auto sheet_buttons = sheet.findChildren<QPushButton*>(Qt::FindDirectChildrenOnly);
  EXPECT_EQ(sheet_buttons.size(), 2);
  for (QPushButton* button : sheet.findChildren<QPushButton*>()) {
    EXPECT_NE(button->text(), "Apply");
    EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
  }
}

TEST_F(QtPageTest, ArialResolvesToLiberationSansWithTheObservedBaseUnits) {
  const QFont font = page_.page_widget()->font();
  EXPECT_EQ(font.family(), "Arial");
  EXPECT_EQ(font.pointSize(), 10);
  const QFontInfo info(font);
  EXPECT_EQ(info.family(), "Liberation Sans");
  // Liberation Sans at 10 pt on a 96 dpi screen: 13 px, line height 15, letters 394 px wide.
  EXPECT_EQ(info.pixelSize(), 13);
  EXPECT_EQ(page_.base_units().cx, 8);
  EXPECT_EQ(page_.base_units().cy, 15);
  // 300 x 203 dialog units.
  EXPECT_EQ(page_.page_widget()->size(), QSize(600, 381));
}

TEST_F(QtPageTest, EveryControlSitsAtItsDialogUnitRectangle) {
  const QFont font = page_.page_widget()->font();
  const auto controls = MainPageControls();
  for (size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& c = controls[i];
    QWidget* widget = page_.ControlAt(i);
    ASSERT_NE(widget, nullptr) << i;
    EXPECT_EQ(widget->parentWidget(), page_.page_widget()) << i;
    EXPECT_EQ(widget->geometry(), ExpectedRect(font, c.x, c.y, c.width, c.height))
        << "control " << c.id << " at index " << i;
  }
  // A few in pixels, for the metrics above: halves round up, as the platform's MulDiv does.
  EXPECT_EQ(page_.Control(kBurnButton)->geometry(), QRect(350, 41, 72, 23));
  EXPECT_EQ(page_.Control(kStatusLine)->geometry(), QRect(74, 103, 416, 21));
  EXPECT_EQ(page_.Control(kNewMacEdit)->geometry(), QRect(118, 39, 174, 26));
}

TEST_F(QtPageTest, ControlsByIdCarryTheirKindTextVisibilityAndState) {
  const auto controls = MainPageControls();
  for (size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& c = controls[i];
    QWidget* widget = page_.ControlAt(i);
    const std::string where = "control " + std::to_string(c.id) + " at index " + std::to_string(i);
    EXPECT_STREQ(widget->metaObject()->className(), KindClass(c.kind)) << where;
    EXPECT_EQ(Text(widget).toStdString(), std::string(c.text)) << where;
    EXPECT_EQ(widget->isVisible(), c.shown) << where;
    EXPECT_EQ(widget->isEnabled(), c.id != kBurnButton) << where;
    if (c.id != kUnnamedLabelId) {
      EXPECT_EQ(page_.Control(c.id), widget) << where;
      EXPECT_EQ(page_.GetText(c.id, 200), std::string(c.text)) << where;
    }
  }
  EXPECT_EQ(page_.Control(kUnnamedLabelId), nullptr);
  EXPECT_EQ(page_.Control(4242), nullptr);
  EXPECT_FALSE(page_.IsEnabled(kBurnButton));
  // The operator starts in the New MAC field.
  EXPECT_EQ(page_.sheet().focusWidget(), page_.Control(kNewMacEdit));
}

TEST_F(QtPageTest, StylesOfStaticTextsEditsButtonsAndGroupBoxes) {
  for (size_t i = 0; i < kMainPageControlCount; ++i) {
    const ControlTemplate& c = MainPageControls()[i];
    QWidget* widget = page_.ControlAt(i);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      const Qt::Alignment vertical = c.id == kStatusLine ? Qt::AlignVCenter : Qt::AlignTop;
      EXPECT_EQ(label->alignment(), Qt::AlignLeft | vertical) << c.id;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      EXPECT_TRUE(edit->hasFrame()) << c.id;
      EXPECT_EQ(edit->isReadOnly(), c.id == kTickCounter) << c.id;
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
      // Frames only: the radio buttons belong to the page, and the box takes no focus.
      EXPECT_TRUE(box->findChildren<QRadioButton*>().isEmpty()) << c.id;
      EXPECT_EQ(box->focusPolicy(), Qt::NoFocus) << c.id;
    }
  }
  EXPECT_EQ(page_.Control(kScanButton)->focusPolicy(), Qt::ClickFocus);
  EXPECT_EQ(page_.Control(kReadButton)->focusPolicy(), Qt::StrongFocus);
}

TEST_F(QtPageTest, RadioGroupsAreSeparateExclusiveAndStartClear) {
  auto* px300 = qobject_cast<QRadioButton*>(page_.Control(kPx300Radio));
  auto* px100 = qobject_cast<QRadioButton*>(page_.Control(kPx100Radio));
  auto* notch_on = qobject_cast<QRadioButton*>(page_.Control(kNotchOn));
  auto* notch_off = qobject_cast<QRadioButton*>(page_.Control(kNotchOff));
  ASSERT_TRUE(px300 && px100 && notch_on && notch_off);
  for (int id : {kPx300Radio, kPx100Radio, kNotchOn, kNotchOff}) EXPECT_FALSE(page_.IsChecked(id));

  ASSERT_NE(px300->group(), nullptr);
  EXPECT_EQ(px300->group(), px100->group());
  EXPECT_EQ(notch_on->group(), notch_off->group());
  EXPECT_NE(px300->group(), notch_on->group());
  EXPECT_TRUE(px300->group()->exclusive());
  EXPECT_TRUE(notch_on->group()->exclusive());

  page_.Check(kPx300Radio, true);
  page_.Check(kNotchOn, true);
  EXPECT_TRUE(page_.IsChecked(kPx300Radio));
  EXPECT_TRUE(page_.IsChecked(kNotchOn));
  // A click selects within its own group only.
  px100->click();
  EXPECT_FALSE(page_.IsChecked(kPx300Radio));
  EXPECT_TRUE(page_.IsChecked(kPx100Radio));
  EXPECT_TRUE(page_.IsChecked(kNotchOn));

  // Setting a state leaves the rest of the group alone, and a selected button can be cleared.
  page_.Check(kPx300Radio, true);
  EXPECT_TRUE(page_.IsChecked(kPx300Radio));
  EXPECT_TRUE(page_.IsChecked(kPx100Radio));
  page_.Check(kPx100Radio, false);
  page_.Check(kPx300Radio, false);
  EXPECT_FALSE(page_.IsChecked(kPx300Radio));
  EXPECT_FALSE(page_.IsChecked(kPx100Radio));
  EXPECT_TRUE(px300->group()->exclusive());

  // Checking a control that is no button changes nothing.
  page_.Check(kStatusLine, true);
  EXPECT_FALSE(page_.IsChecked(kStatusLine));
  page_.Check(4242, true);
  EXPECT_FALSE(page_.IsChecked(4242));
}

TEST_F(QtPageTest, TextsGoInAsBytesAndComeBackTheSame) {
  page_.SetText(kStatusLine, "Burning...");
  EXPECT_EQ(Text(page_.Control(kStatusLine)), "Burning...");
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "Burning...");
  EXPECT_EQ(page_.GetText(kStatusLine, 4), "Burn");
  EXPECT_EQ(page_.GetText(kStatusLine, 0), "");

  // A control holds its text up to the first NUL.
  page_.SetText(kMacField, std::string_view("00:11\0junk", 10));
  EXPECT_EQ(page_.GetText(kMacField, 78), "00:11");

  // Big5 bytes are shown as Chinese and read back as the same bytes.
  const std::string big5 = "\xA4\xA3\xAC\x4F PX100";
  page_.SetText(kFirmwareVersionField, big5);
  EXPECT_EQ(Text(page_.Control(kFirmwareVersionField)), QString::fromUtf8("不是 PX100"));
  EXPECT_EQ(page_.GetText(kFirmwareVersionField, 78), big5);

  // What the operator types is read from the widget.
  page_.SetText(kNewMacEdit, "0011");
  auto* edit = qobject_cast<QLineEdit*>(page_.Control(kNewMacEdit));
  edit->setFocus();
  edit->end(false);
  QTest::keyClicks(edit, "22AABBCC");
  EXPECT_EQ(page_.GetText(kNewMacEdit, 12), "001122AABBCC");
  EXPECT_EQ(page_.GetText(kNewMacEdit, 4), "0011");
  edit->setText(QString::fromUtf8("00é1"));
  EXPECT_EQ(page_.GetText(kNewMacEdit, 12), "00?1");

  // Unknown ids are ignored.
  page_.SetText(4242, "x");
  EXPECT_EQ(page_.GetText(4242, 78), "");
  EXPECT_EQ(page_.GetText(kUnnamedLabelId, 78), "");
}

TEST_F(QtPageTest, EnableReachesTheWidget) {
  page_.Enable(kBurnButton, true);
  EXPECT_TRUE(page_.Control(kBurnButton)->isEnabled());
  EXPECT_TRUE(page_.IsEnabled(kBurnButton));
  page_.Enable(kBurnButton, false);
  EXPECT_FALSE(page_.Control(kBurnButton)->isEnabled());
  EXPECT_FALSE(page_.IsEnabled(kBurnButton));
  page_.Enable(4242, true);
  EXPECT_FALSE(page_.IsEnabled(4242));
}

TEST(DialogUnitsTest, MulDivRoundsHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(MulDiv(12, 15, 8), 23);  // 22.5
  EXPECT_EQ(MulDiv(22, 15, 8), 41);  // 41.25
  EXPECT_EQ(MulDiv(11, 15, 8), 21);  // 20.625
  EXPECT_EQ(MulDiv(-12, 15, 8), -23);
  EXPECT_EQ(MulDiv(12, -15, -8), 23);
  EXPECT_EQ(MulDiv(7, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 1), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 4), 0x7FFFFFFF);
  EXPECT_EQ(DialogUnitsToPixels({8, 15}, 175, 22, 36, 12), QRect(350, 41, 72, 23));
}

}  // namespace
}  // namespace stampwright
