#include "app/qt/verdict_panel.h"

#include <QColor>
#include <QVBoxLayout>

#include "app/qt/fitted_label.h"
#include "app/qt/qt_page.h"
#include "app/qt/tone_colors.h"

namespace stampwright {
namespace {

constexpr qreal kBandPoints = 48;
// Small enough for 40 of the widest characters across the page (the page's own font is 10
// points); a longer text is elided.
constexpr qreal kBandMinPoints = 10;
// The counts shrink a little for a long station name before they are elided.
constexpr qreal kCountsMinPoints = 7;

}  // namespace

VerdictPanel::VerdictPanel(QtPage& page)
    : counts_(new FittedLabel(kCountsMinPoints, &page.sheet())),
      band_(new FittedLabel(kBandMinPoints, &page.sheet())) {
  // A third of the window at least: three fifths of what is above it leaves room for the
  // layout's spacing.
  const int band_height = page.sheet().sizeHint().height() * 3 / 5;
  band_->setObjectName("verdict");
  band_->setAlignment(Qt::AlignCenter);
  QFont font = band_->font();
  font.setPointSizeF(kBandPoints);
  font.setBold(true);
  band_->setFont(font);
  band_->setFixedHeight(band_height);
  counts_->setObjectName("counts");
  if (auto* layout = qobject_cast<QVBoxLayout*>(page.sheet().layout())) {
    layout->insertWidget(1, counts_);
    layout->insertWidget(2, band_);
  }
  const ToneColors colors = ColorsOf(verdict_.tone);
  band_->SetColors(colors.background, colors.foreground);
}

void VerdictPanel::ShowCounts(const std::string& text) {
  counts_->setText(QString::fromStdString(text));
  counts_->setToolTip(counts_->text());
}

bool VerdictPanel::Show(const Verdict& next) {
  if (next == verdict_) return false;
  verdict_ = next;
  const ToneColors colors = ColorsOf(next.tone);
  band_->SetColors(colors.background, colors.foreground);
  band_->setText(QString::fromStdString(next.text));
  return true;
}

}  // namespace stampwright
