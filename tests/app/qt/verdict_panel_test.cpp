// The counts and the verdict band below the page: whatever they show, the window keeps the size
// it came up with; long texts are drawn smaller, and elided only when even the floor is too wide.

#include "app/qt/verdict_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <string>

#include "app/qt/fitted_label.h"
#include "app/qt/qt_page.h"
#include "app/qt/qt_printers.h"

namespace stampwright {
namespace {

// Lets the layouts settle, as the event loop does between two verdicts.
void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

TEST(VerdictPanelTest, TheWindowKeepsItsSizeThroughEveryVerdict) {
  QtPage page;
  VerdictPanel panel(page);
  panel.ShowCounts("Today, line-1: 0 units burned, 0 attempts failed, 0 refused, first-pass yield -");
  page.sheet().show();
  Settle();
  const QSize size = page.sheet().size();
  const int band_height = panel.band().height();
  ASSERT_GT(size.width(), 0);
  // The band spans the page: the tabs set the width, the band takes it.
  EXPECT_GE(panel.band().width(), page.tabs()->width());
  EXPECT_GE(3 * band_height, size.height()) << "a third of the window at least";

  const std::string forty_fail = "FAIL " + std::string(35, 'W');
  const std::string forty_refused = "REFUSED " + std::string(32, 'M');
  const std::string forty_pass = "PASS " + std::string(35, '0');
  ASSERT_EQ(forty_fail.size(), 40u);
  ASSERT_EQ(forty_refused.size(), 40u);
  const Verdict verdicts[] = {
      {VerdictTone::kPass, "PASS 02A0C5100001"},
      {VerdictTone::kRefused, "REFUSED duplicate-refused"},
      {VerdictTone::kFail, "FAIL verify-failed"},
      {VerdictTone::kRefused, "REFUSED lookup-failed"},
      {VerdictTone::kPass, forty_pass},
      {VerdictTone::kFail, forty_fail},
      {VerdictTone::kRefused, forty_refused},
      {VerdictTone::kNeutral, ""},
      {},
  };
  for (const Verdict& verdict : verdicts) {
    SCOPED_TRACE(verdict.text);
    EXPECT_TRUE(panel.Show(verdict));
    panel.ShowCounts("Today, a station with a very long name indeed, longer than the page is wide: "
                     "1234 units burned, 56 attempts failed, 7 refused, first-pass yield 95.6 %");
    Settle();
    EXPECT_EQ(page.sheet().size(), size);
    EXPECT_EQ(panel.band().height(), band_height);
    EXPECT_EQ(panel.band().text().toStdString(), verdict.text);
    // 40 characters are drawn whole, smaller than the band's own size.
    if (verdict.text.size() == 40) {
      EXPECT_EQ(panel.band().ShownText().toStdString(), verdict.text);
      EXPECT_LT(panel.band().ShownFont().pointSizeF(), panel.band().font().pointSizeF());
    }
  }
  EXPECT_FALSE(panel.Show(Verdict{})) << "the same verdict again changes nothing";
  EXPECT_TRUE(panel.counts().ShownText().endsWith(QChar(0x2026))) << "the long counts are elided";

  // Far too long for the floor: elided, and still no wider.
  panel.Show({VerdictTone::kFail, "FAIL " + std::string(300, 'W')});
  Settle();
  EXPECT_EQ(page.sheet().size(), size);
  EXPECT_TRUE(panel.band().ShownText().endsWith(QChar(0x2026)));
  page.sheet().hide();
}

}  // namespace
}  // namespace stampwright
