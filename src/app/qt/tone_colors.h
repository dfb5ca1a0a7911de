#pragma once

#include <QColor>

#include "app/verdict_band.h"

namespace stampwright {

// A verdict's colours, the same wherever it is shown (the band below the page, a bay's tile), so
// that green, red and amber mean one thing on the line.
struct ToneColors {
  QColor background;  // invalid: none drawn
  QColor foreground;
};

ToneColors ColorsOf(VerdictTone tone);

}  // namespace stampwright
