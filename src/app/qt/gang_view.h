#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/gang_tile.h"
#include "app/verdict_band.h"
#include "station/station_events.h"

class QLabel;

namespace stampwright {

class BayTile;

// The gang window's view: one tile per bay, in bay order, four to a row, readable from a metre,
// under one line that tells the operator what to do next. It only shows what it is given (each
// bay's events, on the window's thread) and reports what the operator does; the caller routes
// scans, opens pages and answers notices (a tile shows a notice but never answers it, so stations
// shown here should not wait for one).
class GangView final : public QWidget {
 public:
  // Bay n is adapter_names[n - 1].
  explicit GangView(std::vector<std::string> adapter_names, QWidget* parent = nullptr);
  ~GangView() override;
  GangView(const GangView&) = delete;
  GangView& operator=(const GangView&) = delete;

  // An event of the bay it names; events of a bay this view does not have are dropped.
  void Show(const StationEvent& event);
  void SetTopLine(const std::string& text);

  int bay_count() const { return static_cast<int>(tiles_.size()); }
  // The bay last clicked, until the next scan; 0 for none.
  int selected_bay() const { return selected_bay_; }
  const TileState& state(int bay) const;
  BayTile& tile(int bay) const;

  std::function<void(int bay)> on_tile_clicked;
  // Asks for that bay's classic page.
  std::function<void(int bay)> on_tile_double_clicked;
  // A line typed into the window, wherever the focus is in it, given when Enter ends it (a
  // barcode scanner types the label, or "BAY-3", then Enter); never empty.
  std::function<void(std::string text)> on_scan;
  // A bay's tile has just come to show a verdict (for its sound).
  std::function<void(int bay, const Verdict& verdict)> on_verdict;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Render(int bay);
  void Select(int bay);
  void TakeKey(const QKeyEvent& key);
  void ShowTyped();
  void Tick();
  int64_t NowMs() const { return clock_.elapsed(); }

  std::vector<TileState> states_;
  std::vector<BayTile*> tiles_;  // owned by the view as its children
  QLabel* top_line_;
  QLabel* typed_;
  std::string typed_text_;
  int selected_bay_ = 0;
  QElapsedTimer clock_;
  QTimer ticker_;
};

}  // namespace stampwright
