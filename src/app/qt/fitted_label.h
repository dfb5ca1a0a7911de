#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <QString>

class QPaintEvent;

namespace stampwright {

// A one-line label whose size never follows its text, so that a text never resizes the window:
// it asks for no width of its own (the page sets the window's width) and one line's height of
// its font. The text is drawn at the largest size up to its font's that fits the width, down to
// min_points, and elided below that; text() keeps the whole text.
class FittedLabel final : public QLabel {
 public:
  FittedLabel(qreal min_points, QWidget* parent);

  // The band's colours; an invalid background draws none.
  void SetColors(const QColor& background, const QColor& foreground);
  const QColor& background() const { return background_; }
  const QColor& foreground() const { return foreground_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // The font and text as drawn at the current size.
  QFont ShownFont() const;
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Fit {
    QFont font;
    QString text;
  };
  Fit FitText() const;

  qreal min_points_;
  QColor background_;
  QColor foreground_;
};

}  // namespace stampwright
