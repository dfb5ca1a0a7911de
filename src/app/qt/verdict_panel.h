#pragma once

#include <string>

#include "app/verdict_band.h"

namespace stampwright {

class FittedLabel;
class QtPage;

// Below the page, outside the template: today's counts, and the last verdict large for an
// operator who looks at the fixture rather than the status line. Both keep one size whatever
// they show, so the window keeps its size through every verdict.
class VerdictPanel {
 public:
  // Adds both to the page's sheet, under the tabs; the sheet owns them.
  explicit VerdictPanel(QtPage& page);

  void ShowCounts(const std::string& text);
  // Shows next; false when it was showing already.
  bool Show(const Verdict& next);
  const Verdict& verdict() const { return verdict_; }

  FittedLabel& band() const { return *band_; }
  FittedLabel& counts() const { return *counts_; }

 private:
  FittedLabel* counts_;
  FittedLabel* band_;
  Verdict verdict_;
};

}  // namespace stampwright
