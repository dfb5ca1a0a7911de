#pragma once

#include <QFrame>
#include <functional>
#include <string>

#include "app/gang_tile.h"

class QLabel;
class QMouseEvent;
class QProgressBar;

namespace stampwright {

class FittedLabel;

// One bay's tile: its number and adapter, the word on its colour, the burn's progress, the unit,
// the last notice and the counts. It renders a TileFace and reports clicks; it decides nothing.
class BayTile final : public QFrame {
 public:
  BayTile(int bay, const std::string& adapter, QWidget* parent);

  void Render(const TileFace& face);
  void SetSelected(bool selected);
  bool selected() const { return selected_; }

  QLabel& title() const { return *title_; }
  FittedLabel& word() const { return *word_; }
  QProgressBar& progress() const { return *progress_; }
  FittedLabel& unit() const { return *unit_; }
  QLabel& notice() const { return *notice_; }
  FittedLabel& counts() const { return *counts_; }

  std::function<void()> on_clicked;
  std::function<void()> on_double_clicked;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QLabel* title_;
  FittedLabel* word_;
  QProgressBar* progress_;
  FittedLabel* unit_;
  QLabel* notice_;
  FittedLabel* counts_;
  bool selected_ = false;
};

}  // namespace stampwright
