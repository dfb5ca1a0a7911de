#include "app/qt/gang_view.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/qt/bay_tile.h"

namespace stampwright {
namespace {

constexpr int kTilesPerRow = 4;
constexpr qreal kTopLinePoints = 24;
constexpr qreal kTypedPoints = 14;
// Often enough that a restart's seconds never look stuck.
constexpr int kTickMs = 250;

}  // namespace

GangView::GangView(std::vector<std::string> adapter_names, QWidget* parent)
    : QWidget(parent),
      states_(adapter_names.size()),
      top_line_(new QLabel(this)),
      typed_(new QLabel(this)) {
  setObjectName("gang");
  setFocusPolicy(Qt::StrongFocus);
  QFont top_font = top_line_->font();
  top_font.setPointSizeF(kTopLinePoints);
  top_font.setBold(true);
  top_line_->setFont(top_font);
  top_line_->setObjectName("topLine");
  top_line_->setWordWrap(true);
  QFont typed_font = typed_->font();
  typed_font.setPointSizeF(kTypedPoints);
  typed_->setFont(typed_font);
  typed_->setObjectName("typed");

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(top_line_, 1);
  top->addWidget(typed_);
  layout->addLayout(top);
  auto* grid = new QGridLayout;
  layout->addLayout(grid, 1);
  for (size_t i = 0; i < adapter_names.size(); ++i) {
    const int bay = static_cast<int>(i) + 1;
    auto* tile = new BayTile(bay, adapter_names[i], this);
    tile->on_clicked = [this, bay] { Select(bay); };
    tile->on_double_clicked = [this, bay] {
      if (on_tile_double_clicked) on_tile_double_clicked(bay);
    };
    grid->addWidget(tile, static_cast<int>(i) / kTilesPerRow, static_cast<int>(i) % kTilesPerRow);
    tiles_.push_back(tile);
  }
  clock_.start();
  for (int bay = 1; bay <= bay_count(); ++bay) Render(bay);
  ticker_.setInterval(kTickMs);
  QObject::connect(&ticker_, &QTimer::timeout, this, [this] { Tick(); });
  // Key presses anywhere in this window reach the view: the scanner types wherever the focus is.
  qApp->installEventFilter(this);
}

GangView::~GangView() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
}

const TileState& GangView::state(int bay) const { return states_.at(static_cast<size_t>(bay - 1)); }

BayTile& GangView::tile(int bay) const { return *tiles_.at(static_cast<size_t>(bay - 1)); }

void GangView::Show(const StationEvent& event) {
  if (event.bay < 1 || event.bay > bay_count()) return;
  TileState& state = states_[static_cast<size_t>(event.bay - 1)];
  const std::optional<Verdict> before = state.verdict();
  state.Apply(event.body, NowMs());
  Render(event.bay);
  const std::optional<Verdict>& after = state.verdict();
  if (after && after != before && on_verdict) on_verdict(event.bay, *after);
}

void GangView::SetTopLine(const std::string& text) {
  top_line_->setText(QString::fromStdString(text));
}

void GangView::Render(int bay) {
  const TileState& state = states_[static_cast<size_t>(bay - 1)];
  tiles_[static_cast<size_t>(bay - 1)]->Render(state.Face(NowMs()));
  const bool ticking = std::any_of(states_.begin(), states_.end(),
                                   [](const TileState& s) { return s.Ticking(); });
  if (ticking && !ticker_.isActive()) ticker_.start();
  if (!ticking) ticker_.stop();
}

void GangView::Tick() {
  for (int bay = 1; bay <= bay_count(); ++bay) {
    if (states_[static_cast<size_t>(bay - 1)].Ticking()) Render(bay);
  }
}

void GangView::Select(int bay) {
  if (selected_bay_ != 0) tile(selected_bay_).SetSelected(false);
  selected_bay_ = bay;
  tile(bay).SetSelected(true);
  if (on_tile_clicked) on_tile_clicked(bay);
}

bool GangView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  if (static_cast<QWidget*>(watched)->window() != window()) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  const bool line_key = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter ||
                        key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Escape;
  const bool printable = !key.text().isEmpty() && key.text().at(0).isPrint();
  if (!line_key && !printable) return false;
  // Taken here, once: an unaccepted key would come by again on its way to each parent.
  TakeKey(key);
  return true;
}

void GangView::TakeKey(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      std::string line = std::exchange(typed_text_, {});
      ShowTyped();
      if (line.empty()) return;
      // The label goes where it goes; the bay picked by a click is used up by it.
      if (selected_bay_ != 0) {
        tile(selected_bay_).SetSelected(false);
        selected_bay_ = 0;
      }
      if (on_scan) on_scan(std::move(line));
      return;
    }
    case Qt::Key_Backspace:
      if (!typed_text_.empty()) typed_text_.pop_back();
      break;
    case Qt::Key_Escape:
      typed_text_.clear();
      break;
    default:
      typed_text_ += key.text().toStdString();
      break;
  }
  ShowTyped();
}

void GangView::ShowTyped() {
  typed_->setText(QString::fromStdString(typed_text_));
}

}  // namespace stampwright
