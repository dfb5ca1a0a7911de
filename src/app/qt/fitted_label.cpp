#include "app/qt/fitted_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace stampwright {
namespace {

// Room left and right of the text, so that it never touches the band's edges.
constexpr int kPaddingPx = 6;
// Each step down is a tenth smaller: few steps from 48 pt to the floor, and no visible jumps.
constexpr qreal kStep = 0.9;

}  // namespace

FittedLabel::FittedLabel(qreal min_points, QWidget* parent) : QLabel(parent), min_points_(min_points) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void FittedLabel::SetColors(const QColor& background, const QColor& foreground) {
  background_ = background;
  foreground_ = foreground;
  update();
}

QSize FittedLabel::sizeHint() const {
  const QMargins margins = contentsMargins();
  return {0, QFontMetrics(font()).height() + margins.top() + margins.bottom()};
}

QSize FittedLabel::minimumSizeHint() const { return sizeHint(); }

FittedLabel::Fit FittedLabel::FitText() const {
  const QRect area = contentsRect().adjusted(kPaddingPx, 0, -kPaddingPx, 0);
  QFont fitted = font();
  const QString whole = text();
  if (fitted.pointSizeF() > 0) {
    qreal points = fitted.pointSizeF();
    for (;;) {
      const QFontMetrics metrics(fitted);
      const bool fits = metrics.horizontalAdvance(whole) <= area.width() &&
                        metrics.height() <= area.height();
      if (fits || points <= min_points_) break;
      points = std::max(min_points_, points * kStep);
      fitted.setPointSizeF(points);
    }
  }
  const QString shown = QFontMetrics(fitted).elidedText(whole, Qt::ElideRight, std::max(0, area.width()));
  return {fitted, shown};
}

QFont FittedLabel::ShownFont() const { return FitText().font; }

QString FittedLabel::ShownText() const { return FitText().text; }

void FittedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (background_.isValid()) painter.fillRect(rect(), background_);
  const Fit fit = FitText();
  painter.setFont(fit.font);
  painter.setPen(foreground_.isValid() ? foreground_ : palette().color(foregroundRole()));
  painter.drawText(contentsRect().adjusted(kPaddingPx, 0, -kPaddingPx, 0), int(alignment()), fit.text);
}

}  // namespace stampwright
