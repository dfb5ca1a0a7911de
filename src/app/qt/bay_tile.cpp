#include "app/qt/bay_tile.h"

#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/qt/fitted_label.h"
#include "app/qt/tone_colors.h"
#include "programming/parameter_module.h"

namespace stampwright {
namespace {

// Sizes for an operator a metre from the screen; the word is the one thing read at a glance.
constexpr qreal kTitlePoints = 20;
constexpr qreal kWordPoints = 36;
constexpr qreal kWordMinPoints = 12;
constexpr qreal kUnitPoints = 16;
constexpr qreal kNoticePoints = 13;
constexpr qreal kCountsPoints = 14;
constexpr qreal kSmallMinPoints = 8;
// A notice of three lines fits; a longer one is cut, and whole in the tooltip.
constexpr int kNoticeLines = 3;
constexpr int kMinTileWidthPx = 320;
constexpr int kSelectedFramePx = 6;

const QColor kIdleBackground("#eeeeee");
const QColor kIdleText("#424242");
const QColor kDarkText("#202020");
// The one word that asks for the operator's hands: a colour no verdict has.
const QColor kScanLabelBackground("#1565c0");
const QColor kNoAdapterBackground("#616161");
const QColor kNoticeBackground("#fff3e0");

ToneColors WordColors(const TileFace& face) {
  switch (face.word) {
    case TileWord::kVerdict:
      return ColorsOf(face.tone);
    case TileWord::kNoAdapter:
      return {kNoAdapterBackground, QColor(Qt::white)};
    case TileWord::kScanLabel:
      return {kScanLabelBackground, QColor(Qt::white)};
    case TileWord::kNoUnit:
    case TileWord::kUnitFound:
      return {kIdleBackground, kIdleText};
    case TileWord::kReading:
    case TileWord::kBurning:
    case TileWord::kRestarting:
    case TileWord::kVerifying:
    case TileWord::kUpgrading:
      break;
  }
  // The band's neutral grey, with text on it (the band shows none while neutral).
  return {ColorsOf(VerdictTone::kNeutral).background, kDarkText};
}

void SetPoints(QWidget& widget, qreal points, bool bold) {
  QFont font = widget.font();
  font.setPointSizeF(points);
  font.setBold(bold);
  widget.setFont(font);
}

std::string UnitLine(const TileFace& face) {
  if (face.mac.empty()) return "";
  // The class names the chip ("PX300 Class B"); the chip alone until the module is read.
  const std::string& kind = face.module_class.empty() ? face.chip : face.module_class;
  return kind.empty() ? face.mac : face.mac + "   " + kind;
}

}  // namespace

BayTile::BayTile(int bay, const std::string& adapter, QWidget* parent)
    : QFrame(parent),
      title_(new QLabel(this)),
      word_(new FittedLabel(kWordMinPoints, this)),
      progress_(new QProgressBar(this)),
      unit_(new FittedLabel(kSmallMinPoints, this)),
      notice_(new QLabel(this)),
      counts_(new FittedLabel(kSmallMinPoints, this)) {
  setObjectName(QString("bay%1").arg(bay));
  setMinimumWidth(kMinTileWidthPx);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  title_->setText(QString("Bay %1  %2").arg(bay).arg(QString::fromStdString(adapter)));
  SetPoints(*title_, kTitlePoints, true);
  title_->setTextInteractionFlags(Qt::NoTextInteraction);

  word_->setObjectName("word");
  word_->setAlignment(Qt::AlignCenter);
  SetPoints(*word_, kWordPoints, true);

  // Only while burning; its room is kept so that the tile does not jump.
  progress_->setRange(0, static_cast<int>(kModuleSize));
  progress_->setTextVisible(true);
  QSizePolicy keep = progress_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  progress_->setSizePolicy(keep);
  progress_->hide();

  unit_->setObjectName("unit");
  SetPoints(*unit_, kUnitPoints, false);
  unit_->SetColors(QColor(), kDarkText);

  notice_->setObjectName("notice");
  SetPoints(*notice_, kNoticePoints, false);
  notice_->setWordWrap(true);
  notice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  notice_->setFixedHeight(QFontMetrics(notice_->font()).lineSpacing() * kNoticeLines + 4);
  notice_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  notice_->setAutoFillBackground(true);

  counts_->setObjectName("counts");
  SetPoints(*counts_, kCountsPoints, false);
  counts_->SetColors(QColor(), kDarkText);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(word_);
  layout->addWidget(progress_);
  layout->addWidget(unit_);
  layout->addWidget(notice_);
  layout->addWidget(counts_);
  layout->addStretch(1);
  SetSelected(false);
}

void BayTile::Render(const TileFace& face) {
  const ToneColors colors = WordColors(face);
  word_->SetColors(colors.background, colors.foreground);
  word_->setText(QString::fromStdString(face.headline));
  if (face.written) {
    progress_->setValue(*face.written);
    progress_->show();
  } else {
    progress_->hide();
  }
  unit_->setText(QString::fromStdString(UnitLine(face)));
  const QString notice = QString::fromStdString(face.notice);
  notice_->setText(notice);
  notice_->setToolTip(notice);
  QPalette palette = notice_->palette();
  palette.setColor(QPalette::Window, notice.isEmpty() ? Qt::transparent : kNoticeBackground);
  palette.setColor(QPalette::WindowText, kDarkText);
  notice_->setPalette(palette);
  counts_->setText(QString::fromStdString(CountsText(face.counts)));
}

void BayTile::SetSelected(bool selected) {
  selected_ = selected;
  // A thick frame for the bay the next label goes to, in the room the margin keeps for it so
  // that nothing inside moves; the selector keeps the frame off the children.
  setStyleSheet(QString("QFrame#%1 { border: %2px solid %3; margin: %4px; border-radius: 6px; }")
                    .arg(objectName())
                    .arg(selected ? kSelectedFramePx : 1)
                    .arg(selected ? "#202020" : "#9e9e9e")
                    .arg(selected ? 0 : kSelectedFramePx - 1));
}

void BayTile::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && on_clicked) on_clicked();
  QFrame::mousePressEvent(event);
}

void BayTile::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && on_double_clicked) on_double_clicked();
  QFrame::mouseDoubleClickEvent(event);
}

}  // namespace stampwright
